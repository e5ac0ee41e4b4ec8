#include <doctest/doctest.h>

#include "helpers.h"
#include "setup/notes.h"
#include "setup/setup_command.h"
#include "stackhold_config.h"

namespace {

const std::string kTail =
    "  /SECURITYMODE=\"SQL\" /SQLSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" /SAPWD=\"Ab3defGh4kmnpq2rst5u\" "
    "/SQLSYSADMINACCOUNTS=\"BUILTIN\\ADMINISTRATORS\" /ENABLERANU=1 /AGTSVCACCOUNT=\"NT AUTHORITY\\SYSTEM\" "
    "/TCPENABLED=1 /ERRORREPORTING=1 /IACCEPTSQLSERVERLICENSETERMS";

SetupRequest RequestFor(const std::string& packageDir, const std::string& installDir)
{
    return {packageDir + "\\SQLEXPR_x64_CHS.exe", "/Q", "MSSQLSERVER", installDir, "Ab3defGh4kmnpq2rst5u"};
}

}  // namespace

TEST_CASE("the setup command line, byte for byte")
{
    CHECK(SetupCommandLine(RequestFor("C:\\Tools\\packages", "C:\\Tools\\SQL Server")) ==
          "\"C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe\" /Q /ACTION=Install /FEATURES=SQL,Tools "
          "/INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR=\"C:\\Tools\\SQL Server\"" + kTail);
    CHECK(SetupCommandLine(RequestFor("C:\\Program Files\\Corvane\\packages", "E:\\My Data\\SQL Server")) ==
          "\"C:\\Program Files\\Corvane\\packages\\SQLEXPR_x64_CHS.exe\" /Q /ACTION=Install /FEATURES=SQL,Tools "
          "/INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR=\"E:\\My Data\\SQL Server\"" + kTail);
    CHECK(SetupCommandLine(RequestFor("C:\\packages", "D:")) ==
          "\"C:\\packages\\SQLEXPR_x64_CHS.exe\" /Q /ACTION=Install /FEATURES=SQL,Tools "
          "/INSTANCENAME=MSSQLSERVER /INSTALLSQLDATADIR=\"D:\"" + kTail);
}

TEST_CASE("Install: texts, step 4 set before .NET, setup run, then step 5 whatever setup did")
{
    Main form;
    AtStep4(form);
    int stepDuringRuns = 0;
    std::string about1DuringRuns;
    fake.onRun = [&](const std::string&) {
        stepDuringRuns = form.state.CurrentStep;
        about1DuringRuns = form.About1.text;
    };
    fake.sqlConnects = true;
    form.Install();
    CHECK(stepDuringRuns == 4);
    CHECK(about1DuringRuns == "正在安装数据库");
    CHECK(form.Step4_Img.picture == Picture::BlueBar);
    CHECK(form.Step4_Name.color == kStepDone);
    // The batch file runs first, as a batch; setup runs as a program.
    const auto runs = fake.Entries("run");
    REQUIRE(runs.size() == 2);
    CHECK(runs[0] == "run-batch:C:\\Tools\\fx35.bat");
    CHECK(runs[1] == "run:" + SetupCommandLine({"C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe", "/Q", "MSSQLSERVER",
                                                  "D:\\Data\\SQL Server", "Ab3defGh4kmnpq2rst5u"}));
    CHECK(fake.Logged("connect"));
}

TEST_CASE("Install shows the raw box text, not the normalised directory")
{
    Main form;
    AtStep4(form);
    std::string about2;
    fake.onRun = [&](const std::string&) { about2 = form.About2.text; };
    form.Install();
    CHECK(about2 == "版本：SQL Server 2012 Express (64位)，安装目录：D:/Data//SQL Server/");
}

TEST_CASE("step 5 failure: texts, red, message, end; package kept, no notes")
{
    Main form;
    AtStep4(form);
    fake.sqlConnects = false;
    CHECK(EndsWith([&] { form.CheckSuccess(); }) == 1);
    CHECK(form.Step5_Img.picture == Picture::BlueDot);
    CHECK(form.Step5_Name.color == kStepPending);
    CHECK_FALSE(form.state.Verified);
    CHECK(form.About1.text == "数据库安装失败");
    CHECK(form.About1.color == kFailRed);
    CHECK(form.About2.text == "非常抱歉，数据库安装失败，请重试");
    CHECK(form.state.CurrentStep == 5);
    // Nothing is known of setup here but its exit code 0: the box keeps the
    // password (checked with the other causes below).
    REQUIRE(fake.log.size() == 4);
    CHECK(fake.log[0] == "service-state:MSSQLSERVER");
    CHECK(fake.log[1] == "connect");
    CHECK(fake.log[2].starts_with("msg:非常抱歉，数据库安装失败，请重试！\n\n"));
    CHECK(fake.log[3] == "end:1");
    CHECK(fake.fileSizes.count("C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe") == 1);
}

TEST_CASE("step 5 success: texts, topmost, then notes, deletion and Notepad in that order")
{
    Main form;
    AtStep4(form);
    fake.sqlConnects = true;
    form.CheckSuccess();
    CHECK(form.Step5_Name.color == kStepDone);
    CHECK(form.state.Verified);
    CHECK(form.About1.text == "数据库安装成功！");
    CHECK(form.About1.color == kWhite);
    CHECK(form.About1.bold);
    CHECK(form.About2.text == "恭喜，数据库安装成功，SA密码：Ab3defGh4kmnpq2rst5u");
    const std::string notes = "C:\\Users\\Operator\\Desktop\\SQL Server安装说明.txt";
    const std::vector<std::string> expected = {
        "service-state:MSSQLSERVER", "connect", "topmost", "write:" + notes, "delete:C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe", "notepad:" + notes};
    CHECK(fake.log == expected);
    CHECK(form.state.CurrentStep == 5);
}

TEST_CASE("step 5 success: no notes where there is no desktop or the write fails, no Notepad")
{
    const std::string notes = "C:\\Users\\Operator\\Desktop\\SQL Server安装说明.txt";
    struct Case {
        const char* what;
        std::string desktop;
        bool writeFails;
        bool ansiFits;
    };
    const Case cases[] = {
        {"the shell gives no desktop folder", "", false, true},
        {"an old read-only notes file cannot be replaced", "C:\\Users\\Operator\\Desktop", true, true},
        {"the UTF-8 notes cannot be written", "C:\\Users\\Operator\\Desktop", true, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Main form;
        AtStep4(form);
        fake.sqlConnects = true;
        fake.desktop = c.desktop;
        fake.ansiFits = c.ansiFits;
        fake.fileSizes[notes] = 100;
        fake.written[notes] = "ansi:管理密码：OldPassword";
        if (c.writeFails) fake.failingWrites.insert(notes);
        form.CheckSuccess();
        CHECK(fake.Entries("notepad:").empty());
        // Nothing written anywhere but the desktop: never a drive root.
        for (const std::string& w : fake.Entries("write"))
            CHECK(w.find(":" + c.desktop + "\\") != std::string::npos);
        if (c.desktop.empty()) CHECK(fake.Entries("write").empty());
        // The window still shows the new password, the package still goes.
        CHECK(form.About2.text == "恭喜，数据库安装成功，SA密码：Ab3defGh4kmnpq2rst5u");
        CHECK(fake.Logged("delete:C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe"));
    }
}

TEST_CASE("the notes text, byte for byte")
{
    const std::string rule(81, '-');
    const std::string expected =
        "欢迎使用【Corvane·Stackhold】，SQL Server数据库已经安装好，相关信息如下：\r\n\r\n" + rule +
        "\r\n\r\n"
        "系统版本：SQL Server 2012 Express (64位)\r\n\r\n"
        "实 例 名：MSSQLSERVER\r\n\r\n"
        "管理账户：SA\r\n\r\n"
        "管理密码：Ab3defGh4kmnpq2rst5u  （此密码随机生成）\r\n\r\n"
        "安装目录：D:\\DB\\SQL Server\r\n\r\n" +
        rule +
        "\r\n\r\n"
        "感谢使用Corvane，Corvane专注服务器安全防护，全方位保护服务器安全，100% 防挂马、防黑链、防篡改。\r\n\r\n"
        "如有需要，欢迎垂询，官网地址：http://www.corvane.example/\r\n\r\n"
        "2026/12/10 9:30:05";
    const std::string text = ComposeInstallationNotes({"SQL Server 2012 Express (64位)", "MSSQLSERVER",
                                                       "Ab3defGh4kmnpq2rst5u", "D:\\DB\\SQL Server",
                                                       "http://www.corvane.example/", "2026/12/10 9:30:05"});
    CHECK(text == expected);
    // 21 lines: 20 line ends, none after the last.
    std::size_t lineEnds = 0;
    for (std::size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos; i += 2) ++lineEnds;
    CHECK(lineEnds == 20);
}

TEST_CASE("the notes file: ANSI where the code page holds it, UTF-8 with BOM where it does not")
{
    Main form;
    AtStep4(form);
    const std::string path = "C:\\Users\\Operator\\Desktop\\SQL Server安装说明.txt";
    CHECK(form.WriteInstallationNotes() == path);
    REQUIRE(fake.written.count(path));
    CHECK(fake.written[path].starts_with("ansi:欢迎使用"));
    CHECK(fake.written[path].find("管理密码：Ab3defGh4kmnpq2rst5u") != std::string::npos);
    CHECK(fake.written[path].find(std::string("官网地址：") + STACKHOLD_SITE_URL) != std::string::npos);

    fake.ansiFits = false;
    form.WriteInstallationNotes();
    CHECK(fake.written[path].starts_with("utf8:欢迎使用"));

    // No desktop: no notes at all, never the root of the current drive,
    // which every user of the server can read.
    fake.desktop = "";
    fake.log.clear();
    CHECK(form.WriteInstallationNotes().empty());
    CHECK(fake.Entries("write").empty());
}
