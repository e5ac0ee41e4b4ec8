#pragma once

// Switches off the WOW64 file-system redirection of a 32-bit program on
// 64-bit Windows for the calling thread while it lives, and restores the
// previous state when it goes. Does nothing where there is no redirection.
class FsRedirectionOff {
public:
    FsRedirectionOff() noexcept;
    ~FsRedirectionOff();
    FsRedirectionOff(const FsRedirectionOff&) = delete;
    FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;

private:
    void* oldValue_ = nullptr;
    bool switched_ = false;
};
