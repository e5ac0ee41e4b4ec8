// Helpers for the step-4/5 tests: the stand-in programs' paths, scratch
// folders, child programs bounded in time, and the marker and service that
// the stand-in setup leaves in the prefix.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/text_win32.h"

namespace setup_test {

inline constexpr wchar_t kMarkerDir[] = L"C:\\stackhold-standin";
inline constexpr wchar_t kMarkerPath[] = L"C:\\stackhold-standin\\installed.txt";
inline constexpr wchar_t kServiceName[] = L"MSSQLSERVER";

// A file of the build's fixtures folder, as Wine sees it (drive Z: is /).
inline std::wstring Fixture(const std::wstring& name)
{
    std::wstring dir = Utf8ToWide(STACKHOLD_FIXTURES_DIR);
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    return L"Z:" + dir + L"\\" + name;
}

inline bool IsFolder(const std::wstring& path)
{
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline bool IsFile(const std::wstring& path)
{
    const DWORD a = ::GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

inline void RemoveTree(const std::wstring& folder)
{
    if (folder.empty()) return;
    WIN32_FIND_DATAW data;
    const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = folder + L"\\" + name;
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

// A fresh folder under the temporary folder, removed with its content when
// the test ends, failed or not.
class Scratch {
public:
    Scratch()
    {
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        const std::wstring base(temp, n);
        for (unsigned i = 0; i < 1000 && path_.empty(); ++i) {
            std::wstring candidate = base + L"stackhold-setup-" +
                                     std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                     std::to_wstring(i);
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) path_ = candidate;
        }
    }
    ~Scratch() { RemoveTree(path_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Sets environment variables for the programs this process starts, and puts
// the old values back afterwards.
class EnvScope {
public:
    EnvScope(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values)
    {
        for (const auto& [name, value] : values) {
            wchar_t old[4096];
            const DWORD n = ::GetEnvironmentVariableW(name, old, 4096);
            saved_.push_back({name, n > 0 && n < 4096 ? std::wstring(old, n) : std::wstring(),
                              n > 0 && n < 4096});
            ::SetEnvironmentVariableW(name, value);
        }
    }
    ~EnvScope()
    {
        for (const Saved& s : saved_)
            ::SetEnvironmentVariableW(s.name, s.present ? s.value.c_str() : nullptr);
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

private:
    struct Saved {
        const wchar_t* name;
        std::wstring value;
        bool present;
    };
    std::vector<Saved> saved_;
};

struct RunResult {
    bool started = false;
    bool timedOut = false;
    DWORD exitCode = 0;
    DWORD elapsedMs = 0;
};

// Runs program with exactly commandLine (whose first word need not name the
// program: the stand-in setup is started as the package would be), hidden,
// and kills it after timeoutMs.
inline RunResult Run(const std::wstring& program, std::wstring commandLine, DWORD timeoutMs = 30000)
{
    RunResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    const DWORD begin = ::GetTickCount();
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info))
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

inline bool ServiceRegistered()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    const SC_HANDLE service = ::OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return service != nullptr;
}

inline bool CreateTestService()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager) return false;
    const SC_HANDLE service = ::CreateServiceW(
        manager, kServiceName, L"SQL Server (test)", SERVICE_QUERY_STATUS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
        L"C:\\windows\\system32\\svchost.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return service != nullptr;
}

inline void DeleteTestService()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return;
    if (const SC_HANDLE service = ::OpenServiceW(manager, kServiceName, DELETE)) {
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

inline bool WriteMarker(const std::string& bytes)
{
    ::CreateDirectoryW(kMarkerDir, nullptr);
    const HANDLE file = ::CreateFileW(kMarkerPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

inline void RemoveMarker() { RemoveTree(kMarkerDir); }

// What the stand-in setup may leave in the shared prefix goes when this
// object goes, and any leftover of a killed run goes when it is made.
class InstanceCleanup {
public:
    InstanceCleanup() { Clean(); }
    ~InstanceCleanup() { Clean(); }
    InstanceCleanup(const InstanceCleanup&) = delete;
    InstanceCleanup& operator=(const InstanceCleanup&) = delete;

private:
    static void Clean()
    {
        DeleteTestService();
        RemoveMarker();
    }
};

}  // namespace setup_test
