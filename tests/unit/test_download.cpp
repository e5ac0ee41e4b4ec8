#include <doctest/doctest.h>

#include <algorithm>

#include "download/address.h"
#include "download/progress.h"
#include "download/signature.h"
#include "helpers.h"
#include "stackhold_config.h"
#include "wizard/editions.h"

namespace {

const std::string kAddress = "http://dl.example.test/sql/SQLEXPR_x64_CHS.exe";
const std::string kPackage = "C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe";
const std::string kWgetLine = "\"C:\\Tools\\wget.exe\" -c -P, --directory-prefix=\"C:\\Tools\\packages\" "
                              "\"http://dl.example.test/sql/SQLEXPR_x64_CHS.exe\"";

std::string ServiceUrl(const char* version, int x64)
{
    return kServiceBase + "/api/sqlserver.asp?version=" + version + "&x64=" + std::to_string(x64);
}

// A form that has passed step 2 with the default edition; the service
// answers kAddress and the host announces 1,000,000 bytes.
void ReadyForDownload(Main& form)
{
    MachineThatPasses();
    form.Form_Load(kProgramDir);
    form.Timer1_Timer();
    form.state.CurrentStep = 2;
    fake.httpBodies[ServiceUrl("2012", 1)] = "<html>地址：[" + kAddress + "]</html>";
    fake.remoteSizes[kAddress] = 1000000;
    fake.sqlConnects = true;
    fake.log.clear();
}

}  // namespace

TEST_CASE("service address for every edition")
{
    struct Case {
        int row;
        const char* code;
        const char* version;
        int x64;
    };
    const Case cases[] = {
        {0, "2008x86", "2008", 0}, {1, "2008x64", "2008", 1}, {2, "2012x86", "2012", 0}, {3, "2012x64", "2012", 1}};
    for (const Case& c : cases) {
        CAPTURE(c.code);
        Main form;
        ReadyForDownload(form);
        form.state.ChosenEdition = &kEditions[c.row];
        CHECK(std::string(form.state.ChosenEdition->code) == c.code);
        CHECK(EndsWith([&] { form.DownLoadSQLFile(); }) == 1);  // only the first request matters here
        const auto asked = fake.Entries("http:");
        REQUIRE(asked.size() == 1);
        CHECK(asked[0] == "http:" + ServiceUrl(c.version, c.x64));
        CHECK(form.About2.text == std::string("数据库版本：") + kEditions[c.row].item);
    }
    CHECK(ServiceAddress("h.example:8443", "2012", 1) == "https://h.example:8443/api/sqlserver.asp?version=2012&x64=1");
    CHECK(ServiceAddress("h", "", 0) == "https://h/api/sqlserver.asp?version=&x64=0");
}

TEST_CASE("the address between the brackets")
{
    struct Case {
        const char* answer;
        const char* address;
    };
    const Case cases[] = {
        {"[http://a/b.exe]", "http://a/b.exe"},
        {"中文说明[http://a/b.exe]后面", "http://a/b.exe"},
        {"x[first]y[second]", "first"},
        {"]before[after", "after"},  // the only "]" stands before the "["
        {"[]", ""},
        {"[no close", ""},
        {"no open]", ""},
        {"", ""},
        {"[a[b]", "a"},
    };
    for (const Case& c : cases) CHECK(ExtractBracketed(c.answer) == c.address);
}

TEST_CASE("package file names from addresses, and the names refused")
{
    CHECK(PackageFileNameFrom("http://h/p/SQLEXPR.exe") == "SQLEXPR.exe");
    CHECK(PackageFileNameFrom("h:SQLEXPR.exe") == "h:SQLEXPR.exe");  // no "/": the whole address
    CHECK(PackageFileNameFrom("http://h/p/") == "");
    CHECK(PackageFileNameFrom("http://h/get.exe?id=1") == "get.exe?id=1");
    for (const char* ok : {"SQLEXPR_x64_CHS.exe", "SQLEXPR32_x86_CHS.exe", "setup (1).exe", "SQLEXPR.EXE",
                           "SqlExpr.Exe", "a.b.exe"})
        CHECK(IsUsablePackageFileName(ok));
    for (const char* bad : {"", ".", "..", "a\\..\\b.exe", "h:SQLEXPR.exe", "get.exe?id=1", "a|b", "CON", "x.exe ",
                            "SQLEXPR.cmd", "SQLEXPR.bat", "SQLEXPR.BAT", "SQLEXPR.msi", "SQLEXPR", ".exe",
                            "x.exe.", "x.exe.bat", "x.com", "x.ex", "xexe", "x.exe:stream",
                            "con .exe", "NUL  .exe", "com1.exe"})  // the last three: devices, as the tool judges them
        CHECK_FALSE(IsUsablePackageFileName(bad));
    CHECK(IsUsablePackageAddress("http://h/a.exe"));
    for (const char* bad : {"", "no colon", "http://h/a.exe\" -O \"C:\\x.exe", "http://h/a\r\n.exe"})
        CHECK_FALSE(IsUsablePackageAddress(bad));
}

TEST_CASE("the signer's root: Microsoft's product roots for Microsoft, a pin where one is given")
{
    const std::string pin = "b92a2f34f5fa7a4647b85ac72ff7e782879fd2f1d9a87bb449c2284a8a78cea7";
    const std::string upperPin = "B92A2F34F5FA7A4647B85AC72FF7E782879FD2F1D9A87BB449C2284A8A78CEA7";
    struct Case {
        const char* what;
        std::string publisher;
        std::string pin;
        SignerRoot root;
        std::string rootSha256;
    };
    const Case cases[] = {
        {"Microsoft, no pin", "Microsoft Corporation", "", SignerRoot::MicrosoftProduct, ""},
        {"Microsoft, pinned", "Microsoft Corporation", pin, SignerRoot::Pinned, pin},
        {"another publisher, pinned", "Corvane Stackhold Test Publisher", pin, SignerRoot::Pinned, pin},
        {"a pin in capitals", "Corvane Stackhold Test Publisher", upperPin, SignerRoot::Pinned, pin},
        // Only Microsoft's exact name has Microsoft's roots behind it.
        {"another publisher, no pin", "Corvane Stackhold Test Publisher", "", SignerRoot::None, ""},
        {"Microsoft in other letters", "microsoft corporation", "", SignerRoot::None, ""},
        {"Microsoft with a blank", "Microsoft Corporation ", "", SignerRoot::None, ""},
        {"empty publisher", "", "", SignerRoot::None, ""},
        // A pin that is no SHA-256 thumbprint accepts nothing, even for Microsoft.
        {"a short pin", "Microsoft Corporation", pin.substr(2), SignerRoot::None, ""},
        {"a long pin", "Microsoft Corporation", pin + "00", SignerRoot::None, ""},
        {"a pin with colons", "Microsoft Corporation", "b9:2a" + pin.substr(6), SignerRoot::None, ""},
        {"a pin that is not hex", "Microsoft Corporation", "g" + pin.substr(1), SignerRoot::None, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        const SignerPolicy policy = SignerPolicyFor(c.publisher, c.pin);
        CHECK(policy.root == c.root);
        CHECK(policy.rootSha256 == c.rootSha256);
    }
    // This build's setting is a valid choice for its publisher.
    CHECK(SignerPolicyFor(STACKHOLD_PUBLISHER, STACKHOLD_PUBLISHER_ROOT_SHA256).root != SignerRoot::None);
}

TEST_CASE("the download tool's command line, byte for byte")
{
    CHECK(WgetCommandLine("C:\\Tools", "C:\\Tools\\packages", kAddress) == kWgetLine);
    CHECK(WgetCommandLine("C:\\", "C:\\packages", "http://h/a.exe") ==
          "\"C:\\\\wget.exe\" -c -P, --directory-prefix=\"C:\\packages\" \"http://h/a.exe\"");
    CHECK(WgetCommandLine("D:\\My Tools", "D:\\My Tools\\packages", "http://h/a b.exe") ==
          "\"D:\\My Tools\\wget.exe\" -c -P, --directory-prefix=\"D:\\My Tools\\packages\" \"http://h/a b.exe\"");
}

TEST_CASE("a fresh download: every call in order, the timer on only while the tool runs")
{
    Main form;
    ReadyForDownload(form);
    bool timerOnDuringRun = false;
    int timerIntervalDuringRun = 0;
    fake.onRun = [&](const std::string& line) {
        if (line.find("wget.exe") == std::string::npos) return;
        timerOnDuringRun = form.Timer2.enabled;
        timerIntervalDuringRun = form.Timer2.interval;
        CHECK(form.state.CurrentStep == 3);
        fake.fileSizes[kPackage] = 1000000;
    };
    fake.sqlConnects = false;  // stop the chain at step 5 to keep the log short
    CHECK(EndsWith([&] { form.DownLoadSQLFile(); }) == 1);
    CHECK(timerOnDuringRun);
    CHECK(timerIntervalDuringRun == 1000);
    CHECK_FALSE(form.Timer2.enabled);
    CHECK(form.state.PackageFileName == "SQLEXPR_x64_CHS.exe");
    CHECK(form.state.RemotePackageSize == 1000000);
    CHECK(form.Step3_Img.picture == Picture::BlueBar);
    CHECK(form.Step3_Name.color == kStepDone);

    const std::vector<std::string> head(fake.log.begin(), fake.log.begin() + 8);
    const std::vector<std::string> expected = {
        // Made safe and held before anything is asked, written or deleted.
        "protect:C:\\Tools\\packages",
        "http:" + ServiceUrl("2012", 1),
        "head:" + kAddress,
        "run:" + kWgetLine,
        "taskbar:clear",
        "hold:" + kPackage,
        "verify:" + kPackage + "|" + STACKHOLD_PUBLISHER,
        "delete:C:\\Tools\\fx35.bat",
    };
    CHECK(head == expected);
    // Held from the check through DISM until setup has run from it.
    const auto release = std::find(fake.log.begin(), fake.log.end(), "release:" + kPackage);
    const auto setup = std::find_if(fake.log.begin(), fake.log.end(), [](const std::string& e) {
        return e.starts_with("run:\"" + kPackage + "\"");
    });
    const auto dism = std::find(fake.log.begin(), fake.log.end(), "run-batch:C:\\Tools\\fx35.bat");
    REQUIRE(setup != fake.log.end());
    CHECK(dism < setup);
    CHECK(setup < release);
    CHECK(fake.Entries("verify-by-path:").empty());
}

TEST_CASE("a complete package already there is reused: no tool, no timer")
{
    Main form;
    ReadyForDownload(form);
    fake.folders.insert("C:\\Tools\\packages");
    fake.fileSizes[kPackage] = 1000000;
    fake.sqlConnects = false;
    EndsWith([&] { form.DownLoadSQLFile(); });
    for (const std::string& run : fake.Entries("run:")) CHECK(run.find("wget.exe") == std::string::npos);
    // The folder of an earlier run is made safe again before it is used.
    CHECK(fake.log[0] == "protect:C:\\Tools\\packages");
    CHECK(fake.Logged("hold:" + kPackage));
    CHECK(form.Step3_Name.color == kStepDone);
    const std::vector<std::string> messages = fake.Entries("msg:");
    REQUIRE(messages.size() == 1);
    CHECK(messages[0].starts_with("msg:非常抱歉，数据库安装失败，请重试！\n\n"));
}

TEST_CASE("download failures end with their messages")
{
    const std::string addressFailed = "msg:非常抱歉，下载地址获取错误，请重试。";
    const std::string packageWrong = "msg:非常抱歉，安装包错误，请重新下载。";
    const std::string served = "[" + kAddress + "]";
    struct Case {
        const char* what;
        std::string answer;   // the service's body
        int64_t arrives = -1; // size the tool leaves (-1: no file)
        bool signatureValid = true;
        std::string message;
        bool toolRan = false;
        bool packageStays = true;     // the package file is still there afterwards
        bool holdable = true;         // HoldFileForRun can open it (no link, no other writer)
        bool sizeKnown = true;        // the package host tells the size
        bool folderProtected = true;  // the package folder can be made safe
    };
    const std::vector<Case> cases = {
        {.what = "service unreachable", .answer = "", .message = addressFailed},
        {.what = "error page", .answer = "<html>404 Not Found</html>", .message = addressFailed},
        {.what = "no colon", .answer = "[just-a-name.exe]", .message = addressFailed},
        {.what = "quote injection", .answer = "[http://h/a.exe\" -O \"C:\\Windows\\x.exe]", .message = addressFailed},
        {.what = "name with a backslash", .answer = "[http:..\\..\\evil.exe]", .message = addressFailed},
        {.what = "address ending in a slash", .answer = "[http://h/dir/]", .message = addressFailed},
        // The package runs as a program: nothing that Windows would give the
        // command interpreter or another handler.
        {.what = "a .cmd package", .answer = "[http://h/SQLEXPR.cmd]", .message = addressFailed},
        {.what = "a .bat package", .answer = "[http://h/SQLEXPR.bat]", .message = addressFailed},
        {.what = "a .msi package", .answer = "[http://h/SQLEXPR.msi]", .message = addressFailed},
        {.what = "a name without an extension", .answer = "[http://h/SQLEXPR]", .message = addressFailed},
        {.what = "shorter: kept for the next run to continue", .answer = served, .arrives = 999999,
         .message = packageWrong, .toolRan = true},
        {.what = "empty: kept", .answer = served, .arrives = 0, .message = packageWrong, .toolRan = true},
        {.what = "longer than announced: removed", .answer = served, .arrives = 1000001, .message = packageWrong,
         .toolRan = true, .packageStays = false},
        {.what = "tool stored nothing", .answer = served, .message = packageWrong, .toolRan = true},
        {.what = "bad signature: removed", .answer = served, .arrives = 1000000, .signatureValid = false,
         .message = packageWrong, .toolRan = true, .packageStays = false},
        {.what = "cannot be held (a link, another writer): removed", .answer = served, .arrives = 1000000,
         .message = packageWrong, .toolRan = true, .packageStays = false, .holdable = false},
        // Only an empty file would match an unknown size; one that is not
        // proves no file too long, so it stays for the next run.
        {.what = "no size from the package host", .answer = served, .arrives = 1000000, .message = packageWrong,
         .toolRan = true, .sizeKnown = false},
        {.what = "no safe package folder: the tool never starts", .answer = served, .message = packageWrong,
         .folderProtected = false},
    };
    for (const Case& c : cases) {
        Main form;
        ReadyForDownload(form);
        CAPTURE(c.what);
        fake.httpBodies[ServiceUrl("2012", 1)] = c.answer;
        fake.signatureValid = c.signatureValid;
        if (!c.holdable) fake.unholdable.insert(kPackage);
        if (!c.sizeKnown) fake.remoteSizes.clear();
        if (!c.folderProtected) fake.failingFolders.insert("C:\\Tools\\packages");
        fake.onRun = [&](const std::string&) {
            if (c.arrives >= 0) fake.fileSizes[kPackage] = c.arrives;
        };
        CHECK(EndsWith([&] { form.DownLoadSQLFile(); }) == 1);
        CHECK(fake.Entries("msg:") == std::vector<std::string>{c.message});
        CHECK(fake.Entries("run:").size() == (c.toolRan ? 1u : 0u));
        if (!c.folderProtected) {
            // Nothing is asked of the network before the folder is safe.
            CHECK(fake.Entries("http:").empty());
            CHECK(fake.Entries("head:").empty());
        }
        CHECK(fake.log.back() == "end:1");
        CHECK(form.state.CurrentStep == 3);
        CHECK(form.Step3_Name.color == kStepPending);
        if (c.arrives >= 0) CHECK(fake.fileSizes.count(kPackage) == (c.packageStays ? 1u : 0u));
        CHECK(fake.Entries("verify-by-path:").empty());
        // Nothing stays held once the check failed, and a held package is
        // let go before it is deleted (the hold shares no deleting).
        for (const auto& [token, path] : fake.held) CHECK(path != kPackage);
        const auto release = std::find(fake.log.begin(), fake.log.end(), "release:" + kPackage);
        const auto removal = std::find(fake.log.begin(), fake.log.end(), "delete:" + kPackage);
        if (release != fake.log.end() && removal != fake.log.end()) CHECK(release < removal);
    }
}

TEST_CASE("the close mark during step 3 deletes only inside the held package folder")
{
    // Clicked while the size request waits, and while the tool runs: the
    // package goes through the folder held since the step began.
    for (const bool duringHead : {true, false}) {
        CAPTURE(duringHead);
        Main form;
        ReadyForDownload(form);
        // During the size request even a complete package of an earlier
        // run goes; the tool runs for a partial one.
        fake.fileSizes[kPackage] = duringHead ? 1000000 : 500000;
        fake.answerYes = true;
        // The process ends inside the handler; the waits that call it are
        // noexcept, so the end is caught there and the log cut at it.
        std::vector<std::string> untilEnd;
        auto close = [&](const std::string& what) {
            if (!duringHead && what.find("wget.exe") == std::string::npos) return;
            try {
                form.Label_Close_Click();
            } catch (const ProcessEnded& ended) {
                CHECK(ended.exitCode == 0);
                untilEnd = fake.log;
                untilEnd.push_back("after the package is gone: " + std::to_string(fake.fileSizes.count(kPackage)));
            }
        };
        if (duringHead)
            fake.onHead = close;
        else
            fake.onRun = close;
        EndsWith([&] { form.DownLoadSQLFile(); });
        REQUIRE_FALSE(untilEnd.empty());
        const std::vector<std::string> tail = {"ask:确定结束安装吗？", "kill:wget.exe in C:\\Tools", "sleep:100",
                                               "delete:" + kPackage, "end:0", "after the package is gone: 0"};
        CHECK(untilEnd.front() == "protect:C:\\Tools\\packages");
        CHECK(std::vector<std::string>(untilEnd.end() - static_cast<long>(tail.size()), untilEnd.end()) == tail);
        CHECK(std::find(untilEnd.begin(), untilEnd.end(), "head:" + kAddress) != untilEnd.end());
        CHECK(std::count_if(untilEnd.begin(), untilEnd.end(), [](const std::string& e) {
                  return e.starts_with("run:");
              }) == (duringHead ? 0 : 1));
        CHECK(fake.Entries("delete-unheld:").empty());
    }
}

TEST_CASE("a package growing past the announced size stops our tool; the size check removes it")
{
    struct Case {
        int64_t announced;
        int64_t onDisk;
        bool stopped;
    };
    const Case cases[] = {
        {1000000, 999999, false},
        {1000000, 1000000, false},
        {1000000, 1000001, true},
        {1000000, 50000000, true},
        {0, 50000000, false},  // no size announced: nothing to judge by
        {1000000, -1, false},  // nothing on disk yet
    };
    for (const Case& c : cases) {
        CAPTURE(c.announced);
        CAPTURE(c.onDisk);
        Main form;
        ReadyForDownload(form);
        form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
        form.state.RemotePackageSize = c.announced;
        if (c.onDisk >= 0) fake.fileSizes[kPackage] = c.onDisk;
        form.About1.text = "marker";
        form.Timer2_Timer();
        // Stopped: the tick shows nothing past the whole.
        if (c.announced > 0) CHECK((form.About1.text == "marker") == c.stopped);
        CHECK(fake.Entries("kill:") ==
              (c.stopped ? std::vector<std::string>{"kill:wget.exe in C:\\Tools"} : std::vector<std::string>{}));
        CHECK(GrewPastAnnouncedSize(c.onDisk, c.announced) == c.stopped);
    }

    // Within the step: the tool's file grows past the size while the tool
    // runs, a tick stops the tool, and the check refuses and removes it.
    Main form;
    ReadyForDownload(form);
    fake.onRun = [&](const std::string& line) {
        if (line.find("wget.exe") == std::string::npos) return;
        fake.fileSizes[kPackage] = 1500000;
        form.Timer2_Timer();
    };
    CHECK(EndsWith([&] { form.DownLoadSQLFile(); }) == 1);
    const std::vector<std::string> tail = {"run:" + kWgetLine,       "kill:wget.exe in C:\\Tools",
                                           "taskbar:clear",           "delete:" + kPackage,
                                           "msg:非常抱歉，安装包错误，请重新下载。", "end:1"};
    CHECK(std::vector<std::string>(fake.log.end() - static_cast<long>(tail.size()), fake.log.end()) == tail);
    CHECK(fake.fileSizes.count(kPackage) == 0);
}

TEST_CASE("progress texts: rounding and number printing")
{
    CHECK(FormatNumber(17.6) == "17.6");
    CHECK(FormatNumber(0.176 * 100) == "17.6");
    CHECK(FormatNumber(100) == "100");
    CHECK(FormatNumber(-0.0) == "0");
    CHECK(FormatNumber(1.5) == "1.5");
    CHECK(FormatNumber(-512) == "-512");
    struct Speed {
        int64_t kb;
        const char* text;
    };
    const Speed speeds[] = {{0, "0K/S"},     {300, "300K/S"},  {1024, "1024K/S"}, {1025, "1M/S"},
                            {1536, "1.5M/S"}, {2048, "2M/S"},  {1126, "1.1M/S"},  {-500, "-500K/S"}};
    for (const Speed& s : speeds) CHECK(SpeedText(s.kb) == s.text);
    CHECK(PercentText(176, 1000) == "已下载 17.6%");
    CHECK(PercentText(1000, 1000) == "已下载 100%");
    CHECK(PercentText(-1, 138412032) == "已下载 0%");  // no file yet
    CHECK(PercentText(1765, 10000) == "已下载 17.6%");  // 0.1765 to three places, ties to even
    CHECK(SizeMegabytesText(138412032) == "132");
    CHECK(SizeMegabytesText(0) == "0");
    CHECK(SizeMegabytesText(3 * 1048576 / 2) == "2");  // 1.5 → 2 (even)
    CHECK(SizeMegabytesText(5 * 1048576 / 2) == "2");  // 2.5 → 2 (even)
    CHECK(RoundHalfEven(0.5) == 0);
    CHECK(RoundHalfEven(1.5) == 2);
}

TEST_CASE("Timer2 ticks: changes, stalls, same-second changes, first change, shrinking")
{
    Main form;
    ReadyForDownload(form);
    form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
    form.state.RemotePackageSize = 138412032;
    const std::string about2 = "版本：SQL Server 2012 Express (64位)，文件大小：132M，下载速度：";

    // First tick: no file yet (-1 differs from the initial 0): 0 %, speed 0.
    fake.clock = 5000;
    form.Timer2_Timer();
    CHECK(form.About1.text == "已下载 0%");
    CHECK(form.About2.text == about2 + "0K/S");
    CHECK(form.state.LastSampleSize == -1);
    CHECK(form.state.LastSampleTime == 5000);

    // Unchanged for two ticks: nothing changes, not even the sample time.
    form.About1.text = "marker";
    fake.clock = 5001;
    form.Timer2_Timer();
    fake.clock = 5002;
    form.Timer2_Timer();
    CHECK(form.About1.text == "marker");
    CHECK(form.state.LastSampleTime == 5000);

    // 3,072,001 more bytes after 3 s (from -1): 1000 KB/s.
    fake.fileSizes[kPackage] = 3072000;
    fake.clock = 5003;
    form.Timer2_Timer();
    CHECK(form.About2.text == about2 + "1000K/S");
    CHECK(form.About1.text == "已下载 2.2%");

    // A change within the same second: taken over silently.
    fake.fileSizes[kPackage] = 4000000;
    form.About2.text = "marker";
    form.Timer2_Timer();
    CHECK(form.About2.text == "marker");
    CHECK(form.state.LastSampleSize == 4000000);

    // Shrinking (the tool starting over): negative speed.
    fake.fileSizes[kPackage] = 4000000 - 1024 * 512;
    fake.clock = 5004;
    form.Timer2_Timer();
    CHECK(form.About2.text == about2 + "-512K/S");

    // Complete.
    fake.fileSizes[kPackage] = 138412032;
    fake.clock = 5010;
    form.Timer2_Timer();
    CHECK(form.About1.text == "已下载 100%");
    CHECK(fake.log.back() == "taskbar:138412032/138412032");
}

TEST_CASE("speed texts at the rounding ties: whole KB/s, then tenths of MB/s, halves to even")
{
    struct Case {
        int64_t bytes;  // arrived since the last change
        int seconds;    // since the last change
        const char* speed;
    };
    const Case cases[] = {
        {2560, 1, "2K/S"},                    // 2.5 KB/s
        {3584, 1, "4K/S"},                    // 3.5
        {5 * 1024, 2, "2K/S"},                // 2.5, over two seconds
        {7 * 1024, 2, "4K/S"},                // 3.5
        {1024 * 1024 + 512, 1, "1024K/S"},    // 1024.5 → 1024: still KB/s
        {1025 * 1024 + 512, 1, "1M/S"},       // 1025.5 → 1026 → 1.0 MB/s
        {1280 * 1024, 1, "1.2M/S"},           // 1.25 MB/s
        {1792 * 1024, 1, "1.8M/S"},           // 1.75
        {3 * 2304 * 1024, 3, "2.2M/S"},       // 2.25, over three seconds
    };
    const std::string about2 = "版本：SQL Server 2012 Express (64位)，文件大小：132M，下载速度：";
    for (const Case& c : cases) {
        CAPTURE(c.bytes);
        CAPTURE(c.seconds);
        Main form;
        ReadyForDownload(form);
        form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
        form.state.RemotePackageSize = 138412032;
        form.state.LastSampleSize = 1000;
        form.state.LastSampleTime = 7000;
        fake.fileSizes[kPackage] = 1000 + c.bytes;
        fake.clock = 7000 + c.seconds;
        form.Timer2_Timer();
        CHECK(form.About2.text == about2 + c.speed);
    }
    // The same ties straight from a speed in KB/s.
    CHECK(SpeedText(1280) == "1.2M/S");
    CHECK(SpeedText(1792) == "1.8M/S");
    CHECK(SpeedText(2304) == "2.2M/S");
}

TEST_CASE("Timer2 with no size from the host leaves the percentage alone")
{
    Main form;
    ReadyForDownload(form);
    form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
    form.state.RemotePackageSize = 0;
    form.About1.text = "正在下载文件";
    fake.fileSizes[kPackage] = 2048;
    form.Timer2_Timer();
    CHECK(form.About1.text == "正在下载文件");
    CHECK(form.About2.text == "版本：SQL Server 2012 Express (64位)，文件大小：0M，下载速度：0K/S");
}
