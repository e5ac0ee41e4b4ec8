// A failed installation: setup's summary read, one cause decided, the box
// composed; the service checked before the test connection; the DISM line's
// system folder.
#include <doctest/doctest.h>

#include "helpers.h"
#include "setup/failure_cause.h"
#include "setup/netfx.h"
#include "setup/setup_summary.h"
#include "wizard/ui.h"

namespace {

const std::string kLog = "C:\\Program Files\\Microsoft SQL Server\\110\\Setup Bootstrap\\Log";
const std::string kSummary = kLog + "\\Summary.txt";

// Summaries in setup's layout: the overall summary first, then the machine,
// the features, the rules. Built from published Summary.txt files of SQL
// Server 2008 R2 and 2012 (exit codes and messages as published).
const std::string kPassed =
    "Overall summary:\r\n"
    "  Final result:                  Passed\r\n"
    "  Exit code (Decimal):           0\r\n"
    "  Start time:                    2026-12-10 09:30:05\r\n"
    "  End time:                      2026-12-10 09:41:17\r\n"
    "  Requested action:              Install\r\n"
    "\r\n"
    "Machine Properties:\r\n"
    "  Machine name:                  WIN-SRV01\r\n"
    "  OS version:                    Windows Server 2008 R2\r\n"
    "\r\n"
    "Rules with failures:\r\n"
    "\r\n"
    "Global rules:\r\n"
    "\r\n"
    "Scenario specific rules:\r\n"
    "\r\n"
    "Rules report file:               " + kLog + "\\20261210_093005\\SystemConfigurationCheck_Report.htm\r\n";

const std::string kPassedReboot =
    "Overall summary:\r\n"
    "  Final result:                  Passed but reboot required, see logs for details\r\n"
    "  Exit code (Decimal):           3010\r\n"
    "  Requested action:              Install\r\n";

const std::string kRestartRule =
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2067919934\r\n"
    "  Exit facility code:            1214\r\n"
    "  Exit error code:               3010\r\n"
    "  Exit message:                  A computer restart is required. You must restart this computer before "
    "installing SQL Server.\r\n"
    "  Requested action:              Install\r\n"
    "\r\n"
    "Rules with failures:\r\n"
    "  RebootRequiredCheck                   Failed\r\n"
    "\r\n"
    "Rules report file:               " + kLog + "\\20261210_093005\\SystemConfigurationCheck_Report.htm\r\n";

const std::string kRecoveryHandle =
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2061893606\r\n"
    "  Exit facility code:            1306\r\n"
    "  Exit error code:               26\r\n"
    "  Exit message:                  Wait on the Database Engine recovery handle failed. Check the SQL Server "
    "error log for potential causes.\r\n"
    "  Requested action:              Install\r\n"
    "  Log with failure:              " + kLog + "\\20261210_093005\\Detail.txt\r\n"
    "\r\n"
    "Instance MSSQLSERVER overall summary:\r\n"
    "  Final result:                  Passed\r\n"
    "  Exit code (Decimal):           0\r\n";

const std::string kNoFeatures =
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2068643838\r\n"
    "  Exit message:                  No features were installed during the setup execution. The requested "
    "features may already be installed. Please review the summary.txt log for further details.\r\n";

const std::string kMalformedPath =
    "Overall summary:\r\n"
    "  Final result:                  SQL Server installation failed. To continue, investigate the reason for the "
    "failure, correct the problem, uninstall SQL Server, and then rerun SQL Server Setup.\r\n"
    "  Exit code (Decimal):           -2068578304\r\n"
    "  Exit facility code:            1204\r\n"
    "  Exit error code:               0\r\n"
    "  Exit message:                  The path %ProgramFiles%\\Microsoft SQL Server\\MSSQL10.SQLEXPRESS\\MSSQL\\Data "
    "is malformed or not absolute.\r\n";

const std::string kOsRule =
    "Overall summary:\r\n"
    "  Final result:                  Failed: see details below\r\n"
    "  Exit code (Decimal):           -2067919934\r\n"
    "  Exit message:                  The operating system on this computer does not meet the minimum "
    "requirements for SQL Server.\r\n"
    "\r\n"
    "Rules with failures:\r\n"
    "  OsVersionCheck                   Failed\r\n";

}  // namespace

TEST_CASE("the summary parser over setup's summaries")
{
    struct Case {
        const char* what;
        std::string text;
        bool recognised;
        std::string finalResult;
        bool passed;
        bool restart;
        std::optional<int32_t> code;
        std::string messageStart;
        std::vector<std::string> rules;
        std::string logFolder;
    };
    const std::string run = kLog + "\\20261210_093005";
    const Case cases[] = {
        {"passed, no rule failed", kPassed, true, "Passed", true, false, 0, "", {}, run},
        {"passed, restart required (3010)", kPassedReboot, true, "Passed but reboot required, see logs for details",
         true, true, 3010, "", {}, ""},
        {"the restart rule failed", kRestartRule, true, "Failed: see details below", false, false, -2067919934,
         "A computer restart is required.", {"RebootRequiredCheck"}, run},
        {"the engine did not start; the instance's summary after it is not the overall one", kRecoveryHandle, true,
         "Failed: see details below", false, false, -2061893606, "Wait on the Database Engine recovery handle",
         {}, run},
        {"no features installed", kNoFeatures, true, "Failed: see details below", false, false, -2068643838,
         "No features were installed", {}, ""},
        {"a malformed path (2008 R2's long final result)", kMalformedPath, true,
         "SQL Server installation failed. To continue, investigate the reason for the failure, correct the problem, "
         "uninstall SQL Server, and then rerun SQL Server Setup.",
         false, false, -2068578304, "The path %ProgramFiles%", {}, ""},
        {"the operating system rule failed", kOsRule, true, "Failed: see details below", false, false, -2067919934,
         "The operating system", {"OsVersionCheck"}, ""},
        {"LF line ends and an unsigned code", "Overall summary:\n  Final result: Failed\n  Exit code (Decimal): 2226323458\n",
         true, "Failed", false, false, -2068643838, "", {}, ""},
        {"empty", "", false, "", false, false, std::nullopt, "", {}, ""},
        {"no summary of setup's", "hello\r\nworld: yes\r\nRebootRequiredCheck\r\n", false, "", false, false,
         std::nullopt, "", {}, ""},
        {"a code that is no number", "Overall summary:\r\n  Exit code (Decimal):   -12ab\r\n", true, "", false, false,
         std::nullopt, "", {}, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        const SummaryFindings f = ParseSetupSummary(c.text);
        CHECK(f.recognised == c.recognised);
        CHECK(f.finalResult == c.finalResult);
        CHECK(f.passed == c.passed);
        CHECK(f.restartRequested == c.restart);
        CHECK(f.exitCode == c.code);
        CHECK(f.exitMessage.starts_with(c.messageStart));
        if (c.messageStart.empty()) CHECK(f.exitMessage.empty());
        CHECK(f.failedRules == c.rules);
        CHECK(f.logFolder == c.logFolder);
    }
}

namespace {
std::string FakeAnsi(std::string_view bytes) { return "ansi[" + std::string(bytes) + "]"; }
}  // namespace

TEST_CASE("summary bytes in each encoding setup may use")
{
    // "结果: Passed" in each form.
    const std::string utf8 = "\xE7\xBB\x93\xE6\x9E\x9C: Passed";
    std::string utf16 = "\xFF\xFE\xD3\x7E\x9C\x67";
    for (char c : std::string(": Passed")) utf16 += std::string{c, '\0'};
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-16LE with its mark", utf16, utf8},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + utf8, utf8},
        {"UTF-8 without a mark", utf8, utf8},
        {"ANSI (GBK bytes are no UTF-8)", "\xBD\xE1\xB9\xFB: Passed", "ansi[\xBD\xE1\xB9\xFB: Passed]"},
        {"UTF-16 surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80"},
        {"UTF-16 with a lone surrogate", std::string("\xFF\xFE\x00\xDE", 4), ""},
        {"UTF-16 with an odd byte", std::string("\xFF\xFEP\0a", 5), ""},
        {"NUL bytes without a mark", std::string("P\0a\0", 4), ""},
        {"UTF-8 mark, then no UTF-8", "\xEF\xBB\xBF\xBD\xE1", ""},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        CHECK(DecodeSummaryBytes(c.bytes, FakeAnsi) == c.text);
    }
}

TEST_CASE("the summary of this run: never one written before setup started")
{
    const std::string run1 = kLog + "\\20261209_080000\\Summary_SRV_20261209_080000.txt";
    const std::string run2 = kLog + "\\20261210_093005\\Summary_SRV_20261210_093005.txt";
    struct Case {
        const char* what;
        std::vector<SummaryFile> files;
        std::string picked;
    };
    const Case cases[] = {
        {"nothing there", {}, ""},
        {"only an earlier run's", {{kSummary, 90, true}, {run1, 90, false}}, ""},
        {"the top-level one of this run", {{run1, 90, false}, {run2, 120, false}, {kSummary, 121, true}}, kSummary},
        {"top-level still the earlier run's: this run's folder", {{kSummary, 90, true}, {run2, 120, false}}, run2},
        {"the newest of this run's folders", {{run2, 130, false}, {run1, 110, false}}, run2},
        {"written exactly as setup started", {{run2, 100, false}}, run2},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        const std::optional<SummaryFile> picked = PickSetupSummary(c.files, 100);
        CHECK(picked.has_value() == !c.picked.empty());
        if (picked) CHECK(picked->path == c.picked);
    }
}

namespace {

// Evidence of a run whose .NET enabling went well and whose setup ended
// with `code`, with a summary of `text` at kSummary.
FailureEvidence Evidence(std::optional<int32_t> code, const std::string& text,
                         ServiceState service = ServiceState::NotInstalled)
{
    FailureEvidence e;
    e.install.netFxBatchRan = true;
    e.install.netFxPresent = true;
    e.install.setupExitCode = code;
    e.service = service;
    e.sqlVersionCode = "2012x64";
    e.installDir = "D:\\Data\\SQL Server";
    if (!text.empty() || code) {
        e.summaryPath = kSummary;
        e.summary = ParseSetupSummary(text);
        e.summaryStatus = e.summary.recognised ? SummaryStatus::Read : SummaryStatus::Unreadable;
    }
    return e;
}

FailureEvidence WithoutSummary(std::optional<int32_t> code)
{
    FailureEvidence e = Evidence(code, "");
    e.summaryPath.clear();
    e.summaryStatus = SummaryStatus::None;
    return e;
}

}  // namespace

TEST_CASE("the cause table: one cause per row, and the guard rows")
{
    FailureEvidence netFxMissing = Evidence(-2068643839,
                                            "Overall summary:\r\n  Final result: Failed: see details below\r\n"
                                            "  Exit code (Decimal): -2068643839\r\n"
                                            "  Exit message: Error while enabling Windows feature : NetFx3, Error "
                                            "Code : -2146498298\r\n");
    netFxMissing.install.netFxPresent = false;
    FailureEvidence batchNotRun = Evidence(std::nullopt, "");
    batchNotRun.install.netFxBatchRan = false;
    batchNotRun.install.netFxPresent = true;
    FailureEvidence sql2008 = Evidence(-2061893606, kRecoveryHandle, ServiceState::Stopped);
    sql2008.sqlVersionCode = "2008x86";

    struct Case {
        const char* what;
        FailureEvidence evidence;
        FailureCause cause;
        std::vector<std::string> says;  // parts of the text, in order
        bool summaryShown;
        bool password;
    };
    const Case cases[] = {
        {"setup passed, the connection failed", Evidence(0, kPassed, ServiceState::Running),
         FailureCause::InstalledButNoConnection, {"报告数据库已安装", "连接数据库失败", "SA账户"}, true, true},
        {"setup passed and asks for a restart (3010)", Evidence(3010, kPassedReboot, ServiceState::Stopped),
         FailureCause::InstalledButNoConnection, {"已安装", "要求重启服务器", "请重启服务器", "SA账户"}, true, true},
        {"exit 0 and no summary", WithoutSummary(0), FailureCause::InstalledButNoConnection, {"已安装"}, false, true},
        {"exit 3010 and no summary", WithoutSummary(3010), FailureCause::InstalledButNoConnection, {"请重启服务器"},
         false, true},
        {"a restart pending", Evidence(-2067919934, kRestartRule), FailureCause::RestartPending,
         {"重启", "RebootRequiredCheck", "请重启服务器，然后重新运行"}, true, false},
        {".NET 3.5 missing after DISM", netFxMissing, FailureCause::NetFx35Missing, {".NET Framework 3.5", "sources\\sxs"},
         true, false},
        {"the DISM batch never ran", batchNotRun, FailureCause::NetFx35Missing, {".NET Framework 3.5"}, false, false},
        {"an instance or its leftovers", Evidence(-2068643838, kNoFeatures), FailureCause::InstanceExists,
         {"已有SQL Server实例或其残留", "程序和功能"}, true, false},
        {"the service installed but stopped", Evidence(-2061893606, kRecoveryHandle, ServiceState::Stopped),
         FailureCause::ServiceNotStarted,
         {"MSSQLSERVER已安装，但没有启动", "D:\\Data\\SQL Server\\MSSQL11.MSSQLSERVER\\MSSQL\\Log\\ERRORLOG"}, true, false},
        {"the service stopped, 2008 R2's instance folder", sql2008, FailureCause::ServiceNotStarted,
         {"D:\\Data\\SQL Server\\MSSQL10_50.MSSQLSERVER\\MSSQL\\Log\\ERRORLOG"}, true, false},
        {"the engine's recovery wait, service state unknown", Evidence(-2061893606, kRecoveryHandle, ServiceState::Unknown),
         FailureCause::ServiceNotStarted, {"没有启动"}, true, false},
        {"setup could not unpack: no summary, exit 112", WithoutSummary(112), FailureCause::CouldNotStart,
         {"未能启动或解压", "退出代码112", "磁盘空间不足", "安装包已保留"}, false, false},
        {"setup could not be started at all", WithoutSummary(std::nullopt), FailureCause::CouldNotStart,
         {"未能启动", "安装包已保留"}, false, false},
        {"no summary, setup's own negative code", WithoutSummary(-2068643839), FailureCause::CouldNotStart,
         {"退出代码-2068643839，0x84B30001"}, false, false},
        {"the operating system", Evidence(-2067919934, kOsRule), FailureCause::UnsupportedSystem, {"选择另一个版本"}, true,
         false},
        {"anything else: setup's message and code", Evidence(-2068578304, kMalformedPath), FailureCause::Other,
         {"SQL Server安装程序报告：The path %ProgramFiles%", "（退出代码-2068578304，0x84B40000）"}, true, false},
        {"guard: an empty summary", Evidence(-2068643839, "\r\n"), FailureCause::Other,
         {"无法读取", "退出代码：-2068643839"}, true, false},
        {"guard: a garbled summary", Evidence(-2068643839, "\x01\x02garbage"), FailureCause::Other, {"无法读取"}, true,
         false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        const FailureReport r = DecideFailureCause(c.evidence);
        CHECK(r.cause == c.cause);
        std::size_t at = 0;
        for (const std::string& part : c.says) {
            CAPTURE(part);
            const std::size_t found = r.text.find(part, at);
            CHECK(found != std::string::npos);
            if (found != std::string::npos) at = found + part.size();
        }
        CHECK(r.summaryPath == (c.summaryShown ? kSummary : std::string()));
        CHECK(r.showPassword == c.password);
    }
}

TEST_CASE("the failure box: apology, blank line, cause, password where setup installed, summary path")
{
    FailureReport r;
    r.text = "原因：X。";
    r.summaryPath = kSummary;
    CHECK(ComposeFailureMessage(r, "Ab3defGh4kmnpq2rst5u") == "非常抱歉，数据库安装失败，请重试！\n\n原因：X。\n" + kSummary);
    r.showPassword = true;
    CHECK(ComposeFailureMessage(r, "Ab3defGh4kmnpq2rst5u") ==
          "非常抱歉，数据库安装失败，请重试！\n\n原因：X。\nSA密码：Ab3defGh4kmnpq2rst5u\n" + kSummary);
    r.summaryPath.clear();
    r.showPassword = false;
    CHECK(ComposeFailureMessage(r, "Ab3defGh4kmnpq2rst5u") == "非常抱歉，数据库安装失败，请重试！\n\n原因：X。");
}

TEST_CASE("the DISM line names the real system folder")
{
    const std::string tail61 = "  /Online /Enable-Feature /FeatureName:IIS-ASPNET /FeatureName:NetFx3 "
                               "/FeatureName:IIS-NetFxExtensibility /FeatureName:IIS-ApplicationDevelopment";
    const std::string usual = "c:\\windows\\system32\\dism.exe" + tail61;
    struct Case {
        std::string folder;
        std::string line;
    };
    const Case cases[] = {
        {"C:\\Windows\\System32", usual},
        {"c:\\WINDOWS\\system32", usual},
        {"D:\\Windows\\System32", "\"D:\\Windows\\System32\\dism.exe\"" + tail61},
        {"C:\\WinNT\\System32", "\"C:\\WinNT\\System32\\dism.exe\"" + tail61},
    };
    for (const Case& c : cases) {
        CAPTURE(c.folder);
        CHECK(NetFx35CommandLine("6.1", c.folder) == c.line);
    }
    CHECK(NetFx35CommandLine("10.0", "D:\\Windows\\System32").starts_with("\"D:\\Windows\\System32\\dism.exe\"  /Online"));

    // The batch file gets the line for the machine's own folder.
    MachineThatPasses();
    fake.systemFolder = "D:\\Windows\\System32";
    CHECK(EnableNetFx35("C:\\Tools", PumpEvents));
    CHECK(fake.written["C:\\Tools\\fx35.bat"] == "ansi:\"D:\\Windows\\System32\\dism.exe\"" + tail61);
    // A batch that could not be started counts as not run.
    MachineThatPasses();
    fake.batchExitCode = std::nullopt;
    CHECK_FALSE(EnableNetFx35("C:\\Tools", PumpEvents));
}

namespace {

// A form at step 4, its package downloaded; `summary` is what setup leaves
// (written after it starts), `exitCode` how it ends.
void RunStep4(Main& form, std::optional<int32_t> exitCode, const std::string& summary)
{
    AtStep4(form);
    fake.runExitCode = exitCode;
    // An earlier run's summary, older than this run's setup.
    fake.summaries = {{kLog + "\\20261101_080000\\Summary_SRV_20261101_080000.txt", 100, false}};
    fake.summaryTexts[fake.summaries[0].path] = kRestartRule;
    fake.fileClock = 500;
    fake.onRun = [summary](const std::string& line) {
        if (!line.starts_with("\"C:\\Tools\\packages\\") || summary.empty()) return;
        fake.summaries.push_back({kSummary, 600, true});
        fake.summaryTexts[kSummary] = summary;
    };
    fake.log.clear();
}

}  // namespace

TEST_CASE("step 5 fails: the cause in the box, Notepad on the summary after it, the package kept")
{
    struct Case {
        const char* what;
        std::optional<int32_t> exitCode;
        std::string summary;
        ServiceState service;
        bool connects;
        std::string cause;  // part of the box after the apology
        bool password;
    };
    const Case cases[] = {
        {"the service is not running: no connection is tried", -2061893606, kRecoveryHandle, ServiceState::Stopped,
         true, "没有启动", false},
        {"no service at all", -2068643838, kNoFeatures, ServiceState::NotInstalled, true, "已有SQL Server实例", false},
        {"the service runs but the connection fails; setup passed", 0, kPassed, ServiceState::Running, false,
         "报告数据库已安装", true},
        {"3010: the password is kept", 3010, kPassedReboot, ServiceState::Stopped, true, "请重启服务器", true},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Main form;
        RunStep4(form, c.exitCode, c.summary);
        fake.sqlService = c.service;
        fake.sqlConnects = c.connects;
        CHECK(EndsWith([&] { form.Install(); }) == 1);
        // The connection only where the service runs.
        CHECK(fake.Logged("connect") == (c.service == ServiceState::Running));
        const std::vector<std::string> messages = fake.Entries("msg:");
        REQUIRE(messages.size() == 1);
        const std::string& box = messages[0];
        CHECK(box.starts_with("msg:非常抱歉，数据库安装失败，请重试！\n\n原因") != c.password);
        CHECK(box.starts_with("msg:非常抱歉，数据库安装失败，请重试！\n\n"));
        CHECK(box.find(c.cause) != std::string::npos);
        CHECK(box.ends_with("\n" + kSummary));
        CHECK((box.find("SA密码：Ab3defGh4kmnpq2rst5u") != std::string::npos) == c.password);
        // The older run's summary is never read, let alone blamed.
        CHECK(fake.Entries("read-summary:") == std::vector<std::string>{"read-summary:" + kSummary});
        // Notepad on the summary after the box, then the end; nothing written.
        const auto msg = std::find(fake.log.begin(), fake.log.end(), box);
        REQUIRE(std::distance(msg, fake.log.end()) == 3);
        CHECK(*(msg + 1) == "notepad:" + kSummary);
        CHECK(*(msg + 2) == "end:1");
        CHECK(fake.Entries("write:").empty());
        CHECK(fake.Entries("write-utf8:").empty());
        CHECK(fake.fileSizes.count("C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe") == 1);
        CHECK(form.About1.text == "数据库安装失败");
        CHECK(form.About2.text == "非常抱歉，数据库安装失败，请重试");
    }
}

TEST_CASE("step 5 fails without any summary: the exit code, no Notepad")
{
    Main form;
    RunStep4(form, 112, "");
    fake.sqlService = ServiceState::NotInstalled;
    CHECK(EndsWith([&] { form.Install(); }) == 1);
    const std::vector<std::string> messages = fake.Entries("msg:");
    REQUIRE(messages.size() == 1);
    CHECK(messages[0] == "msg:非常抱歉，数据库安装失败，请重试！\n\n原因：SQL Server安装程序未能启动或解压（退出代码112）"
                         "（磁盘空间不足）。安装包已保留，下次运行时直接使用；请检查C盘剩余空间后重新运行本程序。");
    CHECK(fake.Entries("notepad:").empty());
    CHECK_FALSE(fake.Logged("connect"));
}
