// Helpers of the command runner, process killer, HTTP and signature tests:
// where the fixtures are, a scratch folder, a stopwatch, files as bytes, the
// window's event pump and a ticking timer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/text_win32.h"

namespace dltest {

// The folder of the build tree's fixtures: the test program lives in
// <build>/tests/win, the fixtures in <build>/fixtures.
inline std::string FixturePath(const std::string& name)
{
    wchar_t module[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, n);
    for (int up = 0; up < 3; ++up) path.resize(path.find_last_of(L'\\'));
    return WideToUtf8(path) + "\\fixtures\\" + name;
}

inline std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

class Stopwatch {
public:
    Stopwatch() : start_(::GetTickCount64()) {}
    double Seconds() const { return static_cast<double>(::GetTickCount64() - start_) / 1000.0; }

private:
    ULONGLONG start_;
};

// A fresh folder whose name holds a blank, removed with its files at the end.
class Scratch {
public:
    Scratch()
    {
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        for (unsigned i = 0; i < 100 && path_.empty(); ++i) {
            std::wstring candidate = std::wstring(temp, n) + L"stackhold dl " +
                                     std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(i);
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) path_ = candidate;
        }
    }
    ~Scratch() { Remove(path_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string operator/(const std::string& name) const { return WideToUtf8(path_) + "\\" + name; }

private:
    static void Remove(const std::wstring& folder)
    {
        if (folder.empty()) return;
        WIN32_FIND_DATAW data;
        const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring child = folder + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(child);
                else
                    ::DeleteFileW(child.c_str());
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

inline bool FileExists(const std::string& path)
{
    return ::GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

inline bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

// A hidden message-only window with a timer that counts its ticks, standing
// in for the installer's window whose timers must keep running during waits.
class TickingWindow {
public:
    explicit TickingWindow(UINT intervalMs)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &TickingWindow::Proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"StackholdDlTestTicker";
        ::RegisterClassW(&wc);  // fails harmlessly when already registered
        hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetTimer(hwnd_, 1, intervalMs, nullptr);
    }
    ~TickingWindow()
    {
        ::KillTimer(hwnd_, 1);
        ::DestroyWindow(hwnd_);
    }
    TickingWindow(const TickingWindow&) = delete;
    TickingWindow& operator=(const TickingWindow&) = delete;

    bool ok() const { return hwnd_ != nullptr; }
    int ticks() const { return ticks_; }
    // Runs on every tick, from inside whatever is pumping the events.
    void (*onTick)(TickingWindow&) = nullptr;
    void* context = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == WM_TIMER) {
            auto* self = reinterpret_cast<TickingWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (self) {
                ++self->ticks_;
                if (self->onTick) self->onTick(*self);
            }
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    }

    HWND hwnd_ = nullptr;
    int ticks_ = 0;
};

}  // namespace dltest
