#include <doctest/doctest.h>

#include <algorithm>

#include "envcheck/program_folder.h"
#include "envcheck/tcp.h"
#include "envcheck/version.h"
#include "helpers.h"
#include "platform/fs.h"
#include "setup/netfx.h"
#include "wizard/ui.h"

namespace {

constexpr char kUnsafeFolder[] =
    "非常抱歉，程序所在的文件夹不安全，其他用户可以改动它或其中的程序。"
    "请把压缩包解压到C:\\Program Files下的文件夹（例如C:\\Program Files\\Stackhold）后再运行。";

// Runs step 1 and gives the one message shown, or "" when all gates passed.
std::string GateMessage(Main& form)
{
    const int code = EndsWith([&] { form.CheckEnvironMental(); });
    const auto messages = fake.Entries("msg:");
    if (code == -1) {
        CHECK(messages.empty());
        return "";
    }
    CHECK(code == 1);
    REQUIRE(messages.size() == 1);
    CHECK(fake.log.back() == "end:1");
    return messages[0].substr(4);
}

}  // namespace

TEST_CASE("Windows version gate: numeric on the dot-less text")
{
    struct Case {
        const char* version;
        const char* message;
    };
    const Case cases[] = {
        {"6.0", "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[60]。"},
        {"5.2", "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[52]。"},
        {"0.0", "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[0]。"},
        {"", "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[0]。"},
        {"6.1", ""},
        {"6.2", ""},
        {"6.3", ""},
        {"10.0", ""},
    };
    for (const Case& c : cases) {
        MachineThatPasses();
        fake.windowsVersion = c.version;
        Main form;
        form.Form_Load(kProgramDir);
        CAPTURE(c.version);
        CHECK(GateMessage(form) == c.message);
    }
}

TEST_CASE("the gates run in order and each refusal is the only message")
{
    // Every gate fails: only the first message shows; then lift them one by one.
    MachineThatPasses();
    fake.windowsVersion = "6.0";
    fake.tcpPorts = {135, 1433};
    fake.services = {"MSSQLSERVER"};
    fake.freeMiB["C:"] = 5119;
    fake.fileSizes.clear();

    const char* expected[] = {
        "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[60]。",
        "非常抱歉，1433端口已被使用。",
        "非常抱歉，MSSQLSERVER服务已经存在。",
        "非常抱歉，C盘剩余空间必须大于5G。",
        "Wget.exe不存在，请重新下载系统。",
        kUnsafeFolder,
    };
    fake.objectTrust[std::string(kProgramDir) + "\\wget.exe"] = ObjectTrust{true, true, kMayWriteData};
    auto lift = [](int gate) {
        switch (gate) {
        case 0: fake.windowsVersion = "6.1"; break;
        case 1: fake.tcpPorts = {135, 14330, 143}; break;  // near misses do not count
        case 2: fake.services = {"MSSQL$SQLEXPRESS"}; break;  // a named instance is no obstacle
        case 3: fake.freeMiB["C:"] = 5120; break;           // exactly 5120 passes
        case 4: fake.fileSizes[std::string(kProgramDir) + "\\wget.exe"] = 1; break;
        }
    };
    for (int gate = 0; gate < 6; ++gate) {
        fake.log.clear();
        Main form;
        form.Form_Load(kProgramDir);
        CHECK(GateMessage(form) == expected[gate]);
        CHECK(form.state.CurrentStep == 1);
        CHECK(form.Step1_Img.picture == Picture::BlueBar);
        CHECK(form.About1.text == "正在检测环境");
        CHECK(form.Step1_Name.color == kStepPending);
        lift(gate);
    }
}

TEST_CASE("the program folder gate: the folder, the program and wget.exe judged in turn, one message, then the end")
{
    const std::string folder = kProgramDir;
    const std::string program = folder + "\\Stackhold.exe";
    const std::string wget = folder + "\\wget.exe";
    const ObjectTrust safe{true, true, 0};
    struct Case {
        const char* what;
        std::string object;  // the one unsafe object; empty: all safe
        ObjectTrust trust;
        bool passes;
    };
    const std::vector<Case> cases = {
        {"all three safe", "", safe, true},
        {"the folder could not be read", folder, ObjectTrust{}, false},
        {"the folder owned by another account", folder, ObjectTrust{true, false, 0}, false},
        {"others may add files to the folder", folder, ObjectTrust{true, true, kMayWriteData}, false},
        {"others may add subfolders", folder, ObjectTrust{true, true, kMayAppendData}, false},
        {"others may delete the folder", folder, ObjectTrust{true, true, kMayDelete}, false},
        {"others may delete what it holds", folder, ObjectTrust{true, true, kMayDeleteChild}, false},
        {"others may change its permissions", folder, ObjectTrust{true, true, kMayChangePermissions}, false},
        {"others may take its ownership", folder, ObjectTrust{true, true, kMayTakeOwnership}, false},
        {"the program owned by another account", program, ObjectTrust{true, false, 0}, false},
        {"others may write the program", program, ObjectTrust{true, true, kMayWriteData}, false},
        {"others may append to wget.exe", wget, ObjectTrust{true, true, kMayAppendData}, false},
        {"others may delete wget.exe", wget, ObjectTrust{true, true, kMayDelete}, false},
        {"wget.exe owned by another account", wget, ObjectTrust{true, false, 0}, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        MachineThatPasses();
        if (!c.object.empty()) fake.objectTrust[c.object] = c.trust;
        Main form;
        form.Form_Load(kProgramDir);
        CHECK(GateMessage(form) == (c.passes ? "" : kUnsafeFolder));
        CHECK(form.state.CurrentStep == (c.passes ? 2 : 1));
        // Held before it is judged; judged in order, up to the first unsafe one.
        std::vector<std::string> judged = fake.Entries("judge:");
        std::vector<std::string> expected = {"judge:" + folder, "judge:" + program, "judge:" + wget};
        if (!c.passes) {
            const auto last = std::find(expected.begin(), expected.end(), "judge:" + c.object);
            expected.erase(last + 1, expected.end());
        }
        CHECK(judged == expected);
        CHECK(fake.Entries("hold-folder:") == std::vector<std::string>{"hold-folder:" + folder});
        CHECK(fake.log.front() == "hold-folder:" + folder);
    }
}

TEST_CASE("the program folder gate: a folder that cannot be held refuses; the program's own name is judged")
{
    MachineThatPasses();
    fake.unholdable = {kProgramDir};
    Main form;
    form.Form_Load(kProgramDir);
    CHECK(GateMessage(form) == kUnsafeFolder);
    CHECK(fake.Entries("judge:").empty());

    MachineThatPasses();
    fake.programFileName = "Stackhold (1).exe";
    fake.objectTrust[std::string(kProgramDir) + "\\Stackhold (1).exe"] = ObjectTrust{true, true, kMayWriteData};
    Main renamed;
    renamed.Form_Load(kProgramDir);
    CHECK(GateMessage(renamed) == kUnsafeFolder);
}

TEST_CASE("all gates pass: step 1 done, the settings page opens")
{
    MachineThatPasses();
    Main form;
    form.Form_Load(kProgramDir);
    CHECK(GateMessage(form).empty());
    CHECK(form.Step1_Name.color == kStepDone);
    CHECK(form.About1.text == "安装环境符合");
    CHECK(form.state.CurrentStep == 2);
}

TEST_CASE("the download tool is looked for beside the program, also at a drive root")
{
    MachineThatPasses();
    fake.fileSizes = {{"C:\\wget.exe", 1}};
    Main form;
    form.Form_Load("C:\\");
    CHECK(GateMessage(form).empty());

    MachineThatPasses();
    fake.fileSizes = {{"C:\\\\wget.exe", 1}};  // only the doubled form exists: not found
    Main other;
    other.Form_Load("C:\\");
    CHECK(GateMessage(other) == "Wget.exe不存在，请重新下载系统。");
}

TEST_CASE("IsPortInUse matches whole port numbers of the table only")
{
    struct Case {
        std::vector<uint16_t> ports;
        int port;
        bool found;
    };
    const Case cases[] = {
        {{135, 445, 1433}, 1433, true},
        {{1433, 135}, 1433, true},
        {{135, 1433, 445}, 1433, true},
        {{1433, 80, 1433}, 1433, true},  // a port once per row that holds it
        {{14330}, 1433, false},
        {{11433}, 1433, false},
        {{14330, 143, 11433}, 1433, false},
        {{1433}, 143, false},
        {{1433}, 433, false},
        {{1433}, 14, false},
        {{}, 1433, false},  // an unreadable or empty table: every port is free
        {{}, 0, false},
        {{0}, 0, true},
        {{65535}, 65535, true},
        {{1433}, -1433, false},
        {{64103}, -1433, false},  // -1433 as a 16-bit pattern
        {{1433}, 1433 + 65536, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.port);
        CAPTURE(c.ports.size());
        fake.tcpPorts = c.ports;
        CHECK(IsPortInUse(c.port) == c.found);
    }
}

TEST_CASE("VersionNumber drops the dots and reads the rest as a number")
{
    struct Case {
        const char* text;
        int number;
    };
    const Case cases[] = {
        {"6.1", 61},  {"10.0", 100}, {"6.0", 60}, {"6.2", 62},   {"6.3", 63},  {"06.1", 61},
        {"1.2.3", 123}, {"0.0", 0},  {"", 0},     {".", 0},      {"6.x", 0},   {" 6.1", 0},
        {"-6.1", 0},  {"+6.1", 0},   {"6,1", 0},  {"3276.7", 32767}, {"3276.8", 0}, {"99999999999.9", 0},
        {"abc", 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(VersionNumber(c.text) == c.number);
    }
}

TEST_CASE(".NET 3.5: the DISM line by version, batch file written, run as the batch file, removed")
{
    const std::string withoutServer =
        "c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET /FeatureName:NetFx3 "
        "/FeatureName:IIS-NetFxExtensibility /FeatureName:IIS-ApplicationDevelopment";
    const std::string withServer =
        "c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET /FeatureName:NetFx3 "
        "/FeatureName:NetFx3ServerFeatures /FeatureName:IIS-NetFxExtensibility "
        "/FeatureName:IIS-ApplicationDevelopment";
    CHECK(NetFx35CommandLine("6.1") == withoutServer);
    for (const char* v : {"6.2", "6.3", "10.0", "0.0", "6.10"}) CHECK(NetFx35CommandLine(v) == withServer);

    fake.Reset();
    fake.windowsVersion = "10.0";
    bool batchThereDuringRun = false;
    fake.onRun = [&](const std::string&) {
        batchThereDuringRun = fake.fileSizes.count("C:\\Program Files\\Corvane\\fx35.bat") > 0;
    };
    CHECK(EnableNetFx35("C:\\Program Files\\Corvane", PumpEvents));
    CHECK(batchThereDuringRun);
    CHECK(fake.written["C:\\Program Files\\Corvane\\fx35.bat"] == "ansi:" + withServer);
    const std::vector<std::string> expected = {
        "delete:C:\\Program Files\\Corvane\\fx35.bat",
        "write-fresh:C:\\Program Files\\Corvane\\fx35.bat",
        "run-batch:C:\\Program Files\\Corvane\\fx35.bat",
        "release:C:\\Program Files\\Corvane\\fx35.bat",
        "delete:C:\\Program Files\\Corvane\\fx35.bat",
    };
    CHECK(fake.log == expected);
    CHECK_FALSE(FileExists("C:\\Program Files\\Corvane\\fx35.bat"));
}

TEST_CASE(".NET 3.5: a batch file that cannot be made fresh is never run")
{
    const std::string batch = "C:\\Tools\\fx35.bat";
    struct Case {
        const char* what;
        bool leftover;     // an fx35.bat is there before
        bool undeletable;  // it cannot be removed (a DACL denying us, a lock)
        bool writeFails;   // creating the new one fails
        bool runs;
    };
    const Case cases[] = {
        {"a leftover is replaced", true, false, false, true},
        {"a leftover that cannot be removed", true, true, false, false},
        {"the new file cannot be created", false, false, true, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        fake.Reset();
        if (c.leftover) {
            fake.fileSizes[batch] = 40;
            fake.written[batch] = "ansi:del /q C:\\*";
        }
        if (c.undeletable) fake.undeletable.insert(batch);
        if (c.writeFails) fake.failingWrites.insert(batch);
        CHECK(EnableNetFx35("C:\\Tools", PumpEvents) == c.runs);
        CHECK(fake.Entries("run-batch:").size() == (c.runs ? 1u : 0u));
        CHECK(fake.Entries("run:").empty());
        if (c.runs) CHECK(fake.written[batch] == "ansi:" + NetFx35CommandLine("6.1"));
    }
}
