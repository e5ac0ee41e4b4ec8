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

struct Probe {
    const char* name;
    bool exists;
};

// Each of the three ways must agree: WMI itself (which must really answer,
// not fall through), the Service Control Manager that stands in for it, and
// the probe the installer calls.
void CheckAllWays(const Probe& p)
{
    CAPTURE(p.name);
    CHECK(AskWmiForService(p.name) == (p.exists ? WmiAnswer::Found : WmiAnswer::NotFound));
    CHECK(ServiceKnownToScm(p.name) == p.exists);
    CHECK(ServiceExists(p.name) == p.exists);
}

}  // namespace

TEST_CASE("a service is found by its key name in any letter case, and only while installed")
{
    CheckAllWays({"MSSQLSERVER", false});
    {
        TestService service(L"mssqlserver", L"SQL Server (test)");
        REQUIRE(service.created());
        for (const Probe& p : {Probe{"MSSQLSERVER", true}, Probe{"mssqlserver", true},
                               Probe{"MsSqlServer", true}, Probe{"MSSQLSERVER2", false},
                               Probe{"MSSQL", false}, Probe{"SQL Server (test)", false}})
            CheckAllWays(p);
    }
    CheckAllWays({"MSSQLSERVER", false});
}

TEST_CASE("a service that only shows MSSQLSERVER as its display name does not count")
{
    TestService service(L"stackhold_display_only", L"MSSQLSERVER");
    REQUIRE(service.created());
    CheckAllWays({"stackhold_display_only", true});
    CheckAllWays({"MSSQLSERVER", false});
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

TEST_CASE("the probe works in a thread whose COM is already initialised")
{
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    REQUIRE(SUCCEEDED(hr));
    {
        TestService service(L"mssqlserver", L"SQL Server (test)");
        REQUIRE(service.created());
        CHECK(AskWmiForService("MSSQLSERVER") == WmiAnswer::Found);
        CHECK(ServiceExists("MSSQLSERVER"));
    }
    // The probe balanced its own initialisation: ours is still in force.
    CHECK(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_FALSE);
    ::CoUninitialize();
    ::CoUninitialize();
}

// Run as win.platform_service_no_wmi with Wine's WMI provider (wbemprox)
// switched off for the process, as on a machine whose WMI repository or
// service is broken: the service manager answers instead.
TEST_CASE("WMI unreachable: the service manager answers" * doctest::skip())
{
    // The fixture holds: WMI itself cannot be asked.
    REQUIRE(AskWmiForService("MSSQLSERVER") == WmiAnswer::Unreachable);
    CHECK_FALSE(ServiceExists("MSSQLSERVER"));
    {
        TestService service(L"mssqlserver", L"SQL Server (test)");
        REQUIRE(service.created());
        CHECK(AskWmiForService("MSSQLSERVER") == WmiAnswer::Unreachable);
        for (const Probe& p : {Probe{"MSSQLSERVER", true}, Probe{"MsSqlServer", true},
                               Probe{"MSSQLSERVER2", false}, Probe{"MSSQL", false},
                               Probe{"SQL Server (test)", false}}) {
            CAPTURE(p.name);
            CHECK(ServiceExists(p.name) == p.exists);
        }
        // A quotation mark is refused before either way is asked.
        CHECK_FALSE(ServiceExists("MSSQLSERVER'"));
    }
    CHECK_FALSE(ServiceExists("MSSQLSERVER"));
}
