// The test connection of step 5 through ADO, against no provider at all and
// against the stand-in provider, whose login succeeds only where the stand-in
// setup has left its marker and the MSSQLSERVER service.
#include <doctest/doctest.h>

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include "setup/verify.h"
#include "win/setup_test_util.h"

using namespace setup_test;
using namespace wintest;

namespace {

bool ProviderRegistered()
{
    CLSID clsid{};
    return SUCCEEDED(::CLSIDFromProgID(L"SQLOLEDB.1", &clsid));
}

// The stand-in provider registered for this process's registry view while
// the object lives; the registration is removed again when it goes.
class StandInProvider {
public:
    StandInProvider() : module_(::LoadLibraryW(FixturePath(L"sqloledb_standin.dll").c_str())) {}
    ~StandInProvider()
    {
        Unregister();
        if (module_) ::FreeLibrary(module_);
    }
    StandInProvider(const StandInProvider&) = delete;
    StandInProvider& operator=(const StandInProvider&) = delete;

    bool loaded() const { return module_ != nullptr; }
    HRESULT Register() { return Call("DllRegisterServer"); }
    HRESULT Unregister() { return Call("DllUnregisterServer"); }

private:
    HRESULT Call(const char* name)
    {
        if (!module_) return E_FAIL;
        using Entry = HRESULT(STDAPICALLTYPE*)();
        const auto entry = reinterpret_cast<Entry>(
            reinterpret_cast<void (*)()>(::GetProcAddress(module_, name)));
        return entry ? entry() : E_FAIL;
    }

    HMODULE module_;
};

// The stand-in provider records what it is given; that record goes to a
// folder of the test's own, never to the shared prefix's C:\stackhold-record,
// which the end-to-end prefixes are copied from and read.
class RecordFolder {
public:
    RecordFolder() : env_{{L"STACKHOLD_RECORD_DIR", scratch_.path().c_str()}} {}
    bool ok() const { return scratch_.ok(); }
    std::wstring operator/(const std::wstring& name) const { return scratch_ / name; }

private:
    Scratch scratch_;
    EnvScope env_;
};

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

struct Timed {
    bool result;
    DWORD ms;
};

Timed TimedTest()
{
    const DWORD begin = ::GetTickCount();
    const bool result = TestSqlConnection();
    return {result, ::GetTickCount() - begin};
}

}  // namespace

TEST_CASE("TestSqlConnection answers false at once when no SQLOLEDB provider is registered")
{
    {
        // A run killed midway may have left the stand-in registered.
        StandInProvider leftover;
        REQUIRE(leftover.loaded());
    }
    REQUIRE_FALSE(ProviderRegistered());
    RecordFolder record;
    REQUIRE(record.ok());
    InstanceCleanup cleanup;
    REQUIRE(WriteMarker("Ab3defGh4k"));
    REQUIRE(CreateTestService());

    const Timed t = TimedTest();
    CHECK_FALSE(t.result);
    CHECK(t.ms < 5000);
}

TEST_CASE("TestSqlConnection opens only when setup left the marker and the service")
{
    RecordFolder record;
    REQUIRE(record.ok());
    InstanceCleanup cleanup;
    StandInProvider provider;
    REQUIRE(provider.loaded());
    REQUIRE(provider.Register() == S_OK);
    REQUIRE(ProviderRegistered());

    struct Case {
        const char* what;
        bool marker, service, opens;
    };
    const Case cases[] = {
        {"nothing installed", false, false, false},
        {"marker only (the service is missing)", true, false, false},
        {"service only (no marker)", false, true, false},
        {"marker and service", true, true, true},
        {"marker removed again", false, true, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        if (c.marker)
            REQUIRE(WriteMarker("Ab3defGh4k"));
        else
            RemoveMarker();
        if (c.service && !ServiceRegistered()) REQUIRE(CreateTestService());
        if (!c.service) DeleteTestService();

        const Timed t = TimedTest();
        CHECK(t.result == c.opens);
        CHECK(t.ms < 5000);
    }

    CHECK(provider.Unregister() == S_OK);
    CHECK_FALSE(ProviderRegistered());
}

TEST_CASE("TestSqlConnection hands the provider the connection string's properties")
{
    InstanceCleanup cleanup;
    StandInProvider provider;
    REQUIRE(provider.Register() == S_OK);
    REQUIRE(WriteMarker("Ab3defGh4k"));
    REQUIRE(CreateTestService());
    RecordFolder record;
    REQUIRE(record.ok());

    REQUIRE(TestSqlConnection());
    const std::string text = ReadBytes(record / L"oledb.txt");
    INFO(text);
    const std::vector<std::string> lines = SplitLines(text);
    // Windows authentication as the installer's own account, the master
    // database of the local default instance, and no password kept.
    for (const char* wanted : {
             "DBINIT\tDBPROP_AUTH_INTEGRATED\tSSPI",
             "DBINIT\tDBPROP_INIT_DATASOURCE\t(local)",
             "DBINIT\tDBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO\tfalse",
         }) {
        CAPTURE(wanted);
        CHECK(std::count(lines.begin(), lines.end(), wanted) == 1);
    }
    // Wine's oledb32 files "Initial Catalog" under DBPROP_CATALOGLOCATION
    // (22) instead of DBPROP_INIT_CATALOG; the value is what counts here.
    const std::string catalog = UnderWine() ? "DBINIT\t22\tmaster" : "DBINIT\tDBPROP_INIT_CATALOG\tmaster";
    CAPTURE(catalog);
    CHECK(std::count(lines.begin(), lines.end(), catalog) == 1);
    // CommandTimeout is no initialisation property: ADO hands it to the
    // commands it runs, and the test connection runs none, so no provider
    // can see it here.
    // Nothing asks for a user name or a password of its own.
    for (const std::string& line : lines) {
        CAPTURE(line);
        CHECK(line.find("DBPROP_AUTH_USERID") == std::string::npos);
        CHECK(line.find("DBPROP_AUTH_PASSWORD") == std::string::npos);
    }
}

TEST_CASE("TestSqlConnection leaves the thread's COM state as it found it")
{
    RecordFolder record;
    REQUIRE(record.ok());
    InstanceCleanup cleanup;
    StandInProvider provider;
    REQUIRE(provider.Register() == S_OK);
    REQUIRE(WriteMarker("Ab3defGh4k"));
    REQUIRE(CreateTestService());

    SUBCASE("a thread without COM: initialised and uninitialised again")
    {
        CHECK(TestSqlConnection());
        // Had COM stayed initialised (apartment), this would be RPC_E_CHANGED_MODE.
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CHECK(hr == S_OK);
        if (SUCCEEDED(hr)) ::CoUninitialize();
    }
    SUBCASE("a thread the caller put into an apartment already")
    {
        REQUIRE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        CHECK(TestSqlConnection());
        CHECK(TestSqlConnection());
        // Still initialised once by the caller: this answers S_FALSE.
        const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CHECK(hr == S_FALSE);
        if (SUCCEEDED(hr)) ::CoUninitialize();
        ::CoUninitialize();
    }
    SUBCASE("a thread in the multithreaded apartment")
    {
        REQUIRE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        CHECK(TestSqlConnection());
        ::CoUninitialize();
    }
}

// Run by setup_standins_prefix.py in a throw-away prefix into which
// install_standins.py has put the stand-ins: the pieces meet as they do in
// an end-to-end run.
TEST_CASE("stand-ins installed: DISM in the system folder, setup, then the connection" *
          doctest::skip())
{
    Scratch scratch;
    REQUIRE(scratch.ok());
    EnvScope env{{L"STACKHOLD_RECORD_DIR", scratch.path().c_str()},
                 {L"STACKHOLD_SETUP_SECONDS", L"0"}};

    // The system folder's dism.exe is the stand-in of this build's bitness.
    wchar_t system[MAX_PATH];
    REQUIRE(::GetSystemDirectoryW(system, MAX_PATH) > 0);
    const std::wstring dism = std::wstring(system) + L"\\dism.exe";
    const RunResult d = Run(dism, L"\"" + dism + L"\" /Online /Get-Features");
    CHECK(d.exitCode == 0);
    const std::vector<std::string> lines = SplitLines(ReadBytes(scratch / L"dism.txt"));
    REQUIRE(lines.size() == 1);
    CHECK(lines[0].find(sizeof(void*) == 8 ? "\t64\tsystem32" : "\t32\tsyswow64") !=
          std::string::npos);

    CHECK_FALSE(TestSqlConnection());
    const std::wstring setupLine =
        L"\"C:\\x\\packages\\SQLEXPR_x64_CHS.exe\" /Q /ACTION=Install /FEATURES=SQL,Tools "
        L"/INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR=\"C:\\Data Dir\\SQL Server\"  "
        L"/SECURITYMODE=\"SQL\" /SQLSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /SAPWD=\"Ab3defGh4k\" "
        L"/SQLSYSADMINACCOUNTS=\"BUILTIN\\ADMINISTRATORS\" /ENABLERANU=1 "
        L"/AGTSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /TCPENABLED=1 /ERRORREPORTING=1 "
        L"/IACCEPTSQLSERVERLICENSETERMS";
    const RunResult s = Run(FixturePath(L"setup_standin.exe"), setupLine);
    CHECK(s.exitCode == 0);
    CHECK(TestSqlConnection());
}

// Run after install_standins.py --uninstall in the same prefix: the marker
// and the service are still there, the provider is gone.
TEST_CASE("stand-ins removed: no provider and Wine's own DISM" * doctest::skip())
{
    CHECK_FALSE(ProviderRegistered());
    CHECK(IsFile(kMarkerPath));
    CHECK(ServiceRegistered());
    CHECK_FALSE(TestSqlConnection());

    Scratch scratch;
    REQUIRE(scratch.ok());
    EnvScope env{{L"STACKHOLD_RECORD_DIR", scratch.path().c_str()}};
    wchar_t system[MAX_PATH];
    REQUIRE(::GetSystemDirectoryW(system, MAX_PATH) > 0);
    const std::wstring dism = std::wstring(system) + L"\\dism.exe";
    Run(dism, L"\"" + dism + L"\" /Online /Get-Features");
    CHECK_FALSE(IsFile(scratch / L"dism.txt"));
}
