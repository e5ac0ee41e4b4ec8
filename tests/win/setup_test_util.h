// Helpers of the step-4/5 tests: the environment of the stand-in programs,
// and the marker and service that the stand-in setup leaves in the prefix.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "win/win_test_util.h"

namespace setup_test {

inline constexpr wchar_t kMarkerDir[] = L"C:\\stackhold-standin";
inline constexpr wchar_t kMarkerPath[] = L"C:\\stackhold-standin\\installed.txt";
inline constexpr wchar_t kServiceName[] = L"MSSQLSERVER";

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

// The state of the service, or 0 when it is not there.
inline DWORD TestServiceState()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return 0;
    DWORD state = 0;
    if (const SC_HANDLE service = ::OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (::QueryServiceStatus(service, &status)) state = status.dwCurrentState;
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
    return state;
}

// Stops the service when it runs (the stand-in setup starts its own), then
// deletes it.
inline void DeleteTestService()
{
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return;
    if (const SC_HANDLE service =
            ::OpenServiceW(manager, kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        if (::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            for (int i = 0; i < 100; ++i) {
                if (::QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED) break;
                ::Sleep(50);
            }
        }
        ::DeleteService(service);
        ::CloseServiceHandle(service);
    }
    ::CloseServiceHandle(manager);
}

inline bool WriteMarker(const std::string& bytes)
{
    ::CreateDirectoryW(kMarkerDir, nullptr);
    return wintest::WriteBytes(kMarkerPath, bytes);
}

inline void RemoveMarker() { wintest::RemoveTree(kMarkerDir); }

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
