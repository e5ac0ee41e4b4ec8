// The service probe against services created in the Wine prefix.
#include <doctest/doctest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "platform/service.h"
#include "platform/service_win32.h"

namespace {

// A demand-start service that is never started, deleted when the object goes
// (also when a check fails), so the shared prefix keeps no test service.
class TestService {
public:
    TestService(const wchar_t* name, const wchar_t* displayName)
    {
        manager_ = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!manager_) return;
        RemoveLeftover(name);
        service_ = ::CreateServiceW(manager_, name, displayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                    SERVICE_ERROR_IGNORE, L"C:\\windows\\system32\\notepad.exe",
                                    nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    ~TestService()
    {
        if (service_) {
            ::DeleteService(service_);
            ::CloseServiceHandle(service_);
        }
        if (manager_) ::CloseServiceHandle(manager_);
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;
    bool created() const { return service_ != nullptr; }

private:
    // A run that was killed midway may have left the service behind.
    void RemoveLeftover(const wchar_t* name)
    {
        if (const SC_HANDLE old = ::OpenServiceW(manager_, name, DELETE)) {
            ::DeleteService(old);
            ::CloseServiceHandle(old);
        }
    }

    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

}  // namespace

TEST_CASE("ServiceExists finds a service by its key name in any letter case")
{
    REQUIRE_FALSE(ServiceExists("MSSQLSERVER"));
    {
        TestService service(L"mssqlserver", L"SQL Server (test)");
        REQUIRE(service.created());
        CHECK(ServiceExists("MSSQLSERVER"));
        CHECK(ServiceExists("mssqlserver"));
        CHECK(ServiceKnownToScm("MSSQLSERVER"));
        CHECK(ServiceKnownToScm("MsSqlServer"));
        CHECK_FALSE(ServiceExists("MSSQLSERVER2"));
        CHECK_FALSE(ServiceExists("MSSQL"));
        CHECK_FALSE(ServiceKnownToScm("MSSQL"));
    }
    CHECK_FALSE(ServiceExists("MSSQLSERVER"));
    CHECK_FALSE(ServiceKnownToScm("MSSQLSERVER"));
}

TEST_CASE("a service that only shows MSSQLSERVER as its display name does not count")
{
    TestService service(L"stackhold_display_only", L"MSSQLSERVER");
    REQUIRE(service.created());
    CHECK(ServiceExists("stackhold_display_only"));
    CHECK_FALSE(ServiceExists("MSSQLSERVER"));
    CHECK_FALSE(ServiceKnownToScm("MSSQLSERVER"));
}

TEST_CASE("names that cannot be services answer false")
{
    TestService service(L"mssqlserver", L"SQL Server (test)");
    REQUIRE(service.created());
    // A quotation mark must not turn into a query that matches something.
    CHECK_FALSE(ServiceExists("x' or name='mssqlserver"));
    CHECK_FALSE(ServiceExists("MSSQLSERVER'"));
    CHECK_FALSE(ServiceExists(""));
    CHECK_FALSE(ServiceKnownToScm(""));
}

TEST_CASE("ServiceExists works in a thread whose COM is already initialised")
{
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    REQUIRE(SUCCEEDED(hr));
    {
        TestService service(L"mssqlserver", L"SQL Server (test)");
        REQUIRE(service.created());
        CHECK(ServiceExists("MSSQLSERVER"));
        CHECK(ServiceExists("MSSQLSERVER"));
    }
    // The probe balanced its own initialisation: ours is still in force.
    CHECK(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_FALSE);
    ::CoUninitialize();
    ::CoUninitialize();
}
