// The stand-in setup and DISM programs that the end-to-end runs rely on:
// they must accept what the real programs accept, refuse what those refuse,
// and leave behind exactly what the verification step looks for.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/service.h"
#include "platform/text_win32.h"
#include "setup/setup_command.h"
#include "setup/setup_summary.h"
#include "win/setup_test_util.h"

using namespace setup_test;
using namespace wintest;

namespace {

const std::wstring kPackage = L"C:\\x\\packages\\SQLEXPR_x64_CHS.exe";

// The installer's command line as it reaches setup, piece by piece.
std::wstring InstallerLine(const std::wstring& dataDir, const std::wstring& password)
{
    return L"\"" + kPackage + L"\" /Q /ACTION=Install /FEATURES=SQL,Tools "
           L"/INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR=\"" + dataDir +
           L"\"  /SECURITYMODE=\"SQL\" /SQLSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /SAPWD=\"" +
           password +
           L"\" /SQLSYSADMINACCOUNTS=\"BUILTIN\\ADMINISTRATORS\" /ENABLERANU=1 "
           L"/AGTSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /TCPENABLED=1 /ERRORREPORTING=1 "
           L"/IACCEPTSQLSERVERLICENSETERMS";
}

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    const size_t at = text.find(from);
    REQUIRE(at != std::wstring::npos);
    return text.replace(at, from.size(), to);
}

struct SetupRun {
    RunResult result;
    std::vector<std::string> record;
};

SetupRun RunSetup(const Scratch& scratch, const std::wstring& commandLine,
                  const wchar_t* mode = L"", const wchar_t* seconds = L"0")
{
    EnvScope env{{L"STACKHOLD_RECORD_DIR", (scratch / L"record").c_str()},
                 {L"STACKHOLD_SETUP_SECONDS", seconds},
                 {L"STACKHOLD_SETUP_MODE", *mode ? mode : nullptr},
                 {L"STACKHOLD_SETUP_LOG_ROOT", (scratch / L"pf").c_str()}};
    SetupRun run;
    run.result = Run(FixturePath(L"setup_standin.exe"), commandLine);
    run.record = SplitLines(ReadBytes(scratch / L"record\\setup.txt"));
    return run;
}

bool Installed(const std::wstring& dataDir)
{
    return IsFolder(dataDir) || IsFile(kMarkerPath) || ServiceRegistered();
}

}  // namespace

TEST_CASE("the stand-in setup takes the installer's command line and installs")
{
    InstanceCleanup cleanup;
    Scratch scratch;
    REQUIRE(scratch.ok());
    const std::wstring dataDir = scratch / L"数据 目录\\Data Dir\\SQL Server";
    const std::wstring line = InstallerLine(dataDir, L"Ab3defGh4k");

    const SetupRun run = RunSetup(scratch, line, L"", L"1");
    REQUIRE(run.result.started);
    CHECK_FALSE(run.result.timedOut);
    CHECK(run.result.exitCode == 0);
    CHECK(run.result.elapsedMs >= 900);  // it slept the second it was given

    const std::string dir = WideToUtf8(dataDir);
    const std::vector<std::string> expected = {
        "commandline: " + WideToUtf8(line),
        "/Q",
        "/ACTION=Install",
        "/FEATURES=SQL,Tools",
        "/INSTANCENAME=MSSQLSERVER",
        "/INSTALLSQLDATADIR=" + dir,
        "/SECURITYMODE=SQL",
        "/SQLSVCACCOUNT=NT AUTHORITY\\SYSTEM",
        "/SAPWD=Ab3defGh4k",
        "/SQLSYSADMINACCOUNTS=BUILTIN\\ADMINISTRATORS",
        "/ENABLERANU=1",
        "/AGTSVCACCOUNT=NT AUTHORITY\\SYSTEM",
        "/TCPENABLED=1",
        "/ERRORREPORTING=1",
        "/IACCEPTSQLSERVERLICENSETERMS",
        "result: installed",
    };
    CHECK(run.record == expected);

    CHECK(IsFolder(dataDir));
    CHECK(ReadBytes(kMarkerPath) == "Ab3defGh4k");
    REQUIRE(ServiceRegistered());
    // Registered for demand start, started and running.
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    REQUIRE(manager);
    const SC_HANDLE service = ::OpenServiceW(manager, kServiceName, SERVICE_QUERY_CONFIG |
                                                                        SERVICE_QUERY_STATUS);
    REQUIRE(service);
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer);
    CHECK(::QueryServiceConfigW(service, config, sizeof buffer, &needed));
    CHECK(config->dwStartType == SERVICE_DEMAND_START);
    SERVICE_STATUS status{};
    CHECK(::QueryServiceStatus(service, &status));
    CHECK(status.dwCurrentState == SERVICE_RUNNING);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    CHECK(ReadBytes(scratch / L"pf\\Microsoft SQL Server\\110\\Setup Bootstrap\\Log\\Summary.txt").rfind("\xFF\xFE", 0) == 0);
}

TEST_CASE("the stand-in setup accepts the command line the installer builds")
{
    InstanceCleanup cleanup;
    Scratch scratch;
    REQUIRE(scratch.ok());
    const SetupRequest request{"C:\\Program Files\\工具\\packages\\SQLEXPR_x86_CHS.exe", "/Q", "MSSQLSERVER",
                               WideToUtf8(scratch / L"Program Files\\SQL Server"), "k7#Qm2@xW9!pL4$zR8&e"};
    const std::wstring line = Utf8ToWide(SetupCommandLine(request));

    const SetupRun run = RunSetup(scratch, line);
    CHECK(run.result.exitCode == 0);
    REQUIRE(!run.record.empty());
    CHECK(run.record.front() == "commandline: " + SetupCommandLine(request));
    CHECK(run.record.back() == "result: installed");
    CHECK(IsFolder(Utf8ToWide(request.directory)));
    CHECK(ReadBytes(kMarkerPath) == request.password);
    CHECK(ServiceRegistered());
}

TEST_CASE("the stand-in setup refuses what setup refuses and installs nothing")
{
    struct Case {
        const char* what;
        std::wstring from, to;  // the change made to the installer's line; @DIR@ is the data dir
        const char* reason;     // part of the recorded result
    };
    const std::vector<Case> cases = {
        {"no licence acceptance", L" /IACCEPTSQLSERVERLICENSETERMS", L"", "licence"},
        {"no action", L" /ACTION=Install", L"", "no /ACTION"},
        {"password shorter than 8", L"Ab3defGh4k", L"Ab3d!f7", "complexity"},
        {"password of two kinds only", L"Ab3defGh4k", L"abcdefgh1234", "complexity"},
        {"no password in SQL mode", L" /SAPWD=\"Ab3defGh4k\"", L"", "without /SAPWD"},
        // A directory that ends in a backslash escapes its closing quote.
        {"data directory ending in a backslash", L"@DIR@\"", L"@DIR@\\\"", "malformed"},
        {"unquoted directory with a blank", L"\"@DIR@\"", L"@DIR@", "not a switch"},
        {"a switch given twice", L" /Q ", L" /Q /Q ", "twice"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        InstanceCleanup cleanup;
        Scratch scratch;
        REQUIRE(scratch.ok());
        const std::wstring dataDir = scratch / L"Data Dir\\Data";
        auto withDir = [&](std::wstring text) {
            const size_t at = text.find(L"@DIR@");
            return at == std::wstring::npos ? text : text.replace(at, 5, dataDir);
        };
        const std::wstring line =
            Replace(InstallerLine(dataDir, L"Ab3defGh4k"), withDir(c.from), withDir(c.to));

        const SetupRun run = RunSetup(scratch, line);
        CHECK(run.result.exitCode == 2);
        REQUIRE(!run.record.empty());
        CHECK(run.record.front() == "commandline: " + WideToUtf8(line));
        CHECK(run.record.back().rfind("result: refused", 0) == 0);
        CHECK(run.record.back().find(c.reason) != std::string::npos);
        CHECK_FALSE(Installed(dataDir));
        CHECK_FALSE(IsFolder(scratch / L"Data Dir"));
    }
}

TEST_CASE("the stand-in setup's password rule: 8 characters of three kinds")
{
    struct Case {
        const wchar_t* password;
        bool accepted;
    };
    const Case cases[] = {
        {L"abcdef1!", true},   // small, digit, symbol
        {L"ABCDEFGa", false},  // two kinds
        {L"Ab1!", false},      // four kinds, too short
        {L"AAAAbbbb9", true},
    };
    for (const Case& c : cases) {
        CAPTURE(WideToUtf8(c.password));
        InstanceCleanup cleanup;
        Scratch scratch;
        REQUIRE(scratch.ok());
        const SetupRun run = RunSetup(scratch, InstallerLine(scratch / L"data", c.password));
        CHECK((run.result.exitCode == 0) == c.accepted);
        CHECK(IsFile(kMarkerPath) == c.accepted);
    }
}

TEST_CASE("the stand-in setup's failure modes")
{
    SUBCASE("fail: exit 1, nothing left behind")
    {
        InstanceCleanup cleanup;
        Scratch scratch;
        const std::wstring dataDir = scratch / L"data";
        const SetupRun run = RunSetup(scratch, InstallerLine(dataDir, L"Ab3defGh4k"), L"fail");
        CHECK(run.result.exitCode == 1);
        REQUIRE(!run.record.empty());
        CHECK(run.record.back().rfind("result: failed", 0) == 0);
        CHECK_FALSE(Installed(dataDir));
    }
    SUBCASE("noservice: marker and folder, but no service")
    {
        InstanceCleanup cleanup;
        Scratch scratch;
        const std::wstring dataDir = scratch / L"data";
        const SetupRun run =
            RunSetup(scratch, InstallerLine(dataDir, L"Ab3defGh4k"), L"noservice");
        CHECK(run.result.exitCode == 0);
        CHECK(IsFolder(dataDir));
        CHECK(ReadBytes(kMarkerPath) == "Ab3defGh4k");
        CHECK_FALSE(ServiceRegistered());
    }
    SUBCASE("an instance already there: exit 3, no marker")
    {
        InstanceCleanup cleanup;
        Scratch scratch;
        REQUIRE(CreateTestService());
        const std::wstring dataDir = scratch / L"data";
        const SetupRun run = RunSetup(scratch, InstallerLine(dataDir, L"Ab3defGh4k"));
        CHECK(run.result.exitCode == 3);
        CHECK_FALSE(IsFile(kMarkerPath));
        CHECK_FALSE(IsFolder(dataDir));
    }
}

namespace {

std::string AnsiToUtf8Text(std::string_view bytes) { return AnsiToUtf8(bytes); }

// The files of the stand-in's log under root: the top-level summary and
// those of its run folders.
std::vector<std::wstring> SummaryFiles(const std::wstring& log)
{
    std::vector<std::wstring> found;
    if (IsFile(log + L"\\Summary.txt")) found.push_back(log + L"\\Summary.txt");
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileW((log + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        const std::wstring name = data.cFileName;
        if (name.size() != 15 || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        WIN32_FIND_DATAW inner{};
        const HANDLE files = ::FindFirstFileW((log + L"\\" + name + L"\\Summary_*.txt").c_str(), &inner);
        if (files == INVALID_HANDLE_VALUE) continue;
        do found.push_back(log + L"\\" + name + L"\\" + inner.cFileName);
        while (::FindNextFileW(files, &inner));
        ::FindClose(files);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return found;
}

}  // namespace

TEST_CASE("the stand-in setup fails as setup does: summary log, exit code, service")
{
    struct Case {
        const wchar_t* mode;
        const wchar_t* encoding;
        int exitCode;
        int summaries;              // files written: 0, 1 (only an empty Summary.txt) or 2
        const char* finalResult;    // parsed
        const char* rule;           // a failed rule, or ""
        const char* messageStart;
        ServiceState service;
        bool marker;
    };
    const Case cases[] = {
        {L"", L"", 0, 2, "Passed", "", "", ServiceState::Running, true},
        {L"restart", L"", -2067919934, 2, "Failed: see details below", "RebootRequiredCheck",
         "A computer restart is required.", ServiceState::NotInstalled, false},
        {L"netfx", L"utf8", -2068643839, 2, "Failed: see details below", "",
         "Error while enabling Windows feature : NetFx3", ServiceState::NotInstalled, false},
        {L"exists", L"ansi", -2068643838, 2, "Failed: see details below", "", "No features were installed",
         ServiceState::NotInstalled, false},
        {L"nostart", L"", -2061893606, 2, "Failed: see details below", "",
         "Wait on the Database Engine recovery handle failed.", ServiceState::Stopped, true},
        {L"os", L"", -2067919934, 2, "Failed: see details below", "OsVersionCheck", "The operating system",
         ServiceState::NotInstalled, false},
        {L"other", L"", -2146232969, 2, "Failed: see details below", "", "The given key was not present",
         ServiceState::NotInstalled, false},
        {L"unpack", L"", 112, 0, "", "", "", ServiceState::NotInstalled, false},
        {L"garbled", L"", -2068643839, 1, "", "", "", ServiceState::NotInstalled, false},
        {L"reboot3010", L"", 3010, 2, "Passed but reboot required, see logs for details", "", "",
         ServiceState::Stopped, true},
    };
    for (const Case& c : cases) {
        CAPTURE(WideToUtf8(c.mode));
        InstanceCleanup cleanup;
        Scratch scratch;
        REQUIRE(scratch.ok());
        SetupRun run;
        {
            EnvScope encoding{{L"STACKHOLD_SETUP_SUMMARY_ENCODING", *c.encoding ? c.encoding : nullptr}};
            run = RunSetup(scratch, InstallerLine(scratch / L"data", L"Ab3defGh4k"), c.mode);
        }
        CHECK(run.result.exitCode == static_cast<DWORD>(c.exitCode));
        CHECK(QueryServiceState("MSSQLSERVER") == c.service);
        CHECK(IsFile(kMarkerPath) == c.marker);

        const std::wstring log = scratch / L"pf\\Microsoft SQL Server\\110\\Setup Bootstrap\\Log";
        const std::vector<std::wstring> files = SummaryFiles(log);
        CHECK(files.size() == static_cast<size_t>(c.summaries));
        for (const std::wstring& file : files) {
            CAPTURE(WideToUtf8(file));
            const std::string bytes = ReadBytes(file);
            const std::wstring encoding = c.encoding;
            if (c.summaries == 2 && encoding.empty()) CHECK(bytes.rfind("\xFF\xFE", 0) == 0);
            const SummaryFindings f = ParseSetupSummary(DecodeSummaryBytes(bytes, AnsiToUtf8Text));
            CHECK(f.recognised == (c.summaries == 2));
            if (c.summaries != 2) continue;
            CHECK(f.finalResult == c.finalResult);
            CHECK(f.exitCode == c.exitCode);
            CHECK(f.exitMessage.rfind(c.messageStart, 0) == 0);
            CHECK((std::string(c.rule).empty() ? f.failedRules.empty()
                                                : f.failedRules == std::vector<std::string>{c.rule}));
            CHECK(f.logFolder.rfind(WideToUtf8(log) + "\\", 0) == 0);
        }
    }
}

TEST_CASE("the stand-in DISM records each call and answers the exit code it is given")
{
    Scratch scratch;
    REQUIRE(scratch.ok());
    const std::wstring record = scratch / L"record";
    const std::wstring dism = FixturePath(L"dism.exe");
    const std::wstring line =
        L"c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET "
        L"/FeatureName:NetFx3 /FeatureName:IIS-NetFxExtensibility "
        L"/FeatureName:IIS-ApplicationDevelopment";

    RunResult first, second;
    {
        EnvScope env{{L"STACKHOLD_RECORD_DIR", record.c_str()}, {L"STACKHOLD_DISM_EXIT", nullptr}};
        first = Run(dism, line);
    }
    {
        EnvScope env{{L"STACKHOLD_RECORD_DIR", record.c_str()}, {L"STACKHOLD_DISM_EXIT", L"5"}};
        second = Run(dism, line + L" /NoRestart");
    }
    CHECK(first.exitCode == 0);
    CHECK(second.exitCode == 5);

    const std::string bits = sizeof(void*) == 8 ? "64" : "32";
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    const std::string view = wow64 ? "syswow64" : "system32";
    const std::string tail = "\t" + WideToUtf8(dism) + "\t" + bits + "\t" + view;
    const std::vector<std::string> expected = {WideToUtf8(line) + tail,
                                               WideToUtf8(line) + " /NoRestart" + tail};
    CHECK(SplitLines(ReadBytes(record + L"\\dism.txt")) == expected);
}
