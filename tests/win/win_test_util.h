// Helpers of the Windows-side tests: where the fixtures are, a scratch
// folder that cleans up after itself, files as bytes, child programs bounded
// in time, a stopwatch, and a window whose timer must keep ticking while the
// code under test waits.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <cstdlib>
#include <string>

#include "platform/strings.h"
#include "platform/text_win32.h"

namespace wintest {

// A file of the build tree's fixtures folder: the test program lives in
// <build>\tests\win, the fixtures in <build>\fixtures.
inline std::wstring FixturePath(const std::wstring& name)
{
    wchar_t module[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, n);
    for (int up = 0; up < 3; ++up) path.resize(path.find_last_of(L'\\'));
    return JoinPath(path, L"fixtures\\" + name);
}

inline std::string FixturePath(const std::string& name)
{
    return WideToUtf8(FixturePath(Utf8ToWide(name)));
}

// An environment variable set by the test's wrapper; empty when unset.
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

// Removes a folder with everything in it, read-only files included.
inline void RemoveTree(const std::wstring& folder)
{
    if (folder.empty()) return;
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = JoinPath(folder, name);
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// A fresh folder under the temporary folder, removed with everything in it
// when the test ends, failed or not. Its name holds a blank, as program
// folders often do, so every command line built from it needs its quotes.
class Scratch {
public:
    Scratch()
    {
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        const std::wstring base(temp, n);
        for (unsigned i = 0; i < 1000 && path_.empty(); ++i) {
            const std::wstring candidate = base + L"stackhold test " +
                                           std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                           std::to_wstring(::GetTickCount()) + L"-" +
                                           std::to_wstring(i);
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) path_ = candidate;
        }
    }
    ~Scratch() { RemoveTree(path_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::wstring& path() const { return path_; }
    // The path of a name inside the folder; the folder itself for "".
    std::wstring operator/(const std::wstring& name) const
    {
        return name.empty() ? path_ : JoinPath(path_, name);
    }
    std::string operator/(const std::string& name) const
    {
        return WideToUtf8(*this / Utf8ToWide(name));
    }

private:
    std::wstring path_;
};

inline bool IsFile(const std::wstring& path)
{
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsFile(const std::string& path) { return IsFile(Utf8ToWide(path)); }

inline bool IsFolder(const std::wstring& path)
{
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The whole file, also while another program holds it open; "<missing>"
// when it cannot be opened.
inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

inline std::string ReadBytes(const std::string& path) { return ReadBytes(Utf8ToWide(path)); }

// Makes or replaces the file with exactly these bytes.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes)
{
    return WriteBytes(Utf8ToWide(path), bytes);
}

// "b0 b2 d7" -> the bytes; keeps expected encodings readable in the tests.
inline std::string FromHex(const std::string& hex)
{
    std::string bytes;
    int high = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            bytes += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return bytes;
}

// The bytes as "b0 b2 d7".
inline std::string ToHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

// Runs program with exactly commandLine (whose first word need not name the
// program, as a package started by the installer's command line would
// not), hidden, and kills it after timeoutMs. An empty currentDir keeps the
// test's own; CREATE_NO_WINDOW gives a console program no console at all.
inline RunResult Run(const std::wstring& program, std::wstring commandLine, DWORD timeoutMs = 30000,
                     const std::wstring& currentDir = {}, DWORD creationFlags = CREATE_NO_WINDOW)
{
    RunResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    const DWORD begin = ::GetTickCount();
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          creationFlags, nullptr, currentDir.empty() ? nullptr : currentDir.c_str(),
                          &startup, &info))
        return result;
    result.started = true;
    ::CloseHandle(info.hThread);
    if (::WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        ::TerminateProcess(info.hProcess, 99);
        ::WaitForSingleObject(info.hProcess, 5000);
    }
    ::GetExitCodeProcess(info.hProcess, &result.exitCode);
    ::CloseHandle(info.hProcess);
    result.elapsedMs = ::GetTickCount() - begin;
    return result;
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
        wc.lpszClassName = L"StackholdTestTicker";
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

// A descriptor's owner and DACL as SDDL; empty when it cannot be written.
inline std::wstring OwnerAndDaclSddl(PSECURITY_DESCRIPTOR descriptor)
{
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return {};
    const std::wstring sddl = text;
    ::LocalFree(text);
    return sddl;
}

// Whether a descriptor's DACL is protected from inheritance.
inline bool IsDaclProtected(PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return ::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0;
}

// The running account's SID as text ("S-1-5-21-…"); empty when it cannot be read.
inline std::wstring SelfSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    BYTE user[256];
    DWORD size = sizeof user;
    const BOOL read = ::GetTokenInformation(token, TokenUser, user, size, &size);
    ::CloseHandle(token);
    LPWSTR text = nullptr;
    if (!read || !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &text)) return {};
    const std::wstring self = text;
    ::LocalFree(text);
    return self;
}

}  // namespace wintest
