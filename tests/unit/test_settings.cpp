#include <doctest/doctest.h>

#include "helpers.h"
#include "settings/install_dir.h"

namespace {

// A form on the settings page, with the download step not reachable (the
// service answers nothing), so an accepted submission shows as step 3 ending.
Main& PageOpen(Main& form)
{
    MachineThatPasses();
    form.Form_Load(kProgramDir);
    form.Timer1_Timer();
    REQUIRE(form.state.CurrentStep == 2);
    fake.log.clear();
    return form;
}

}  // namespace

TEST_CASE("the settings page opens with the defaults and hides the status lines")
{
    Main form;
    PageOpen(form);
    CHECK(form.Step2_Img.picture == Picture::BlueBar);
    CHECK(form.Step2_Path.text == "C:\\Tools\\SQL Server");
    CHECK(form.Step2_Version.listIndex == 3);
    CHECK(form.Step2_Version.Text() == "SQL Server 2012 Express (64位)");
    for (Control* c : {&form.About1, &form.About2, &form.Image1}) CHECK_FALSE(c->visible);
    for (Control* c : {&form.Step2_T1, static_cast<Control*>(&form.Step2_Version), &form.Step2_T2, &form.Step2_Path,
                       &form.Step2_Select, &form.Step2_Submit})
        CHECK(c->visible);
    CHECK(form.About1.text == "安装环境符合");  // kept, only hidden
}

TEST_CASE("the folder chooser fills the directory box")
{
    struct Case {
        const char* chosen;
        const char* box;
    };
    const Case cases[] = {
        {"D:\\", "D:\\SQL Server"},
        {"D:\\Data", "D:\\Data\\SQL Server"},
        {"", "\\SQL Server"},  // cancelled
    };
    for (const Case& c : cases) {
        Main form;
        PageOpen(form);
        form.Step2_Path.text = "E:\\before";
        fake.browseResult = c.chosen;
        form.Step2_Select_Click();
        CHECK(fake.Logged("browse:请选择文件夹"));
        CHECK(form.Step2_Path.text == c.box);
    }
}

TEST_CASE("submission: box text to InstallDir, folders ensured in order, refusal or acceptance")
{
    const std::string dirRefused = "msg:安装目录错误，请重新选择。";
    struct Case {
        const char* box;
        const char* installDir;  // after the attempt
        std::vector<std::string> ensured;
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"D:/Data//SQL Server/", "D:\\Data\\SQL Server", {"D:\\", "D:\\Data\\", "D:\\Data\\SQL Server\\"}, ""},
        {"D:\\", "D:", {"D:\\"}, ""},
        {"D:", "D:", {"D:\\"}, ""},
        {"D:\\\\\\Data\\\\\\\\x", "D:\\Data\\x", {"D:\\", "D:\\Data\\", "D:\\Data\\x\\"}, ""},
        {"d:\\data", "d:\\data", {"d:\\", "d:\\data\\"}, ""},
        {"\\SQL Server", "\\SQL Server", {}, dirRefused},
        {"\\\\server\\share\\SQL", "\\\\server\\share\\SQL", {}, dirRefused},
        {"D:\\SQL:Server", "D:\\SQL:Server", {"D:\\"}, dirRefused},
        {"SQL:Server", "SQL:Server", {}, dirRefused},
        {"D:\\a\"b", "D:\\a\"b", {"D:\\"}, dirRefused},
        {"D:\\x\\what?", "D:\\x\\what?", {"D:\\", "D:\\x\\"}, dirRefused},
        {"D:\\a<b|c", "D:\\a<b|c", {"D:\\"}, dirRefused},
        {"D:\\CON\\x", "D:\\CON\\x", {"D:\\"}, dirRefused},
        {"D:\\data\\nul.txt", "D:\\data\\nul.txt", {"D:\\", "D:\\data\\"}, dirRefused},
        {"D:\\com1", "D:\\com1", {"D:\\"}, dirRefused},
        {"D:\\trailing.\\x", "D:\\trailing.\\x", {"D:\\"}, dirRefused},
        {"Q:\\SQL Server", "Q:\\SQL Server", {"Q:\\"}, dirRefused},  // drive missing: EnsureFolder fails
        {"D:\\file.txt\\x", "D:\\file.txt\\x", {"D:\\", "D:\\file.txt\\"}, dirRefused},  // a level is a file
    };
    for (const Case& c : cases) {
        Main form;
        PageOpen(form);
        fake.failingFolders = {"Q:\\", "D:\\file.txt\\"};
        fake.folders.erase("Q:\\");
        form.Step2_Path.text = c.box;
        CAPTURE(c.box);
        const int code = EndsWith([&] { form.Step2_Submit_Click(); });
        CHECK(form.state.InstallDir == c.installDir);
        std::vector<std::string> ensured;
        for (const std::string& e : fake.Entries("ensure:")) ensured.push_back(e.substr(7));
        CHECK(ensured == c.ensured);
        if (c.message.empty()) {
            // Accepted: step 3 began (and ended for want of an address).
            CHECK(code == 1);
            CHECK(form.state.CurrentStep == 3);
        } else {
            CHECK(code == -1);
            CHECK(fake.Entries("msg:") == std::vector<std::string>{c.message});
            CHECK(form.state.CurrentStep == 2);
            CHECK(form.Step2_Path.text == c.box);  // the box keeps what the operator typed
            CHECK(form.Step2_Submit.visible);
            CHECK_FALSE(form.About1.visible);
            CHECK(form.Step2_Name.color == kStepPending);
        }
    }
}

TEST_CASE("a path beyond Windows' limit is refused before anything is made")
{
    Main form;
    PageOpen(form);
    form.Step2_Path.text = "D:\\" + std::string(257, 'a');
    CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == -1);
    CHECK(fake.Entries("ensure:").empty());
    CHECK(fake.Entries("msg:") == std::vector<std::string>{"msg:安装目录错误，请重新选择。"});

    fake.log.clear();
    form.Step2_Path.text = "D:\\" + std::string(255, 'a');  // 258 with its backslash and NUL: fits
    EndsWith([&] { form.Step2_Submit_Click(); });
    CHECK(fake.Entries("ensure:").size() == 2);
}

TEST_CASE("free space of the chosen drive: 5119 refused with the drive as typed, 5120 accepted")
{
    Main form;
    PageOpen(form);
    fake.freeMiB["D:"] = 5119;
    form.Step2_Path.text = "d:\\Data";
    CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == -1);
    CHECK(fake.Entries("msg:") == std::vector<std::string>{"msg:d盘剩余空间必须大于5G，请重新选择。"});
    CHECK(fake.folders.count("d:\\Data\\"));  // the directory was made and stays
    CHECK(form.Step2_Submit.visible);

    fake.log.clear();
    fake.freeMiB["D:"] = 5120;
    CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == 1);  // accepted; step 3 ends without an address
    CHECK(form.state.CurrentStep == 3);
    CHECK(fake.Entries("msg:")[0] != "msg:d盘剩余空间必须大于5G，请重新选择。");
}

TEST_CASE("edition rows by position; no selection keeps the edition")
{
    const char* codes[] = {"2008x86", "2008x64", "2012x86", "2012x64"};
    for (int i = 0; i < 4; ++i) {
        Main form;
        PageOpen(form);
        form.Step2_Version.listIndex = i;
        form.Step2_Path.text = "\\refused";  // the edition is taken even by a refused attempt
        form.Step2_Submit_Click();
        CHECK(std::string(form.state.ChosenEdition->code) == codes[i]);
    }
    Main form;
    PageOpen(form);
    form.state.ChosenEdition = &kEditions[1];
    form.Step2_Version.listIndex = -1;
    form.Step2_Path.text = "\\refused";
    form.Step2_Submit_Click();
    CHECK(std::string(form.state.ChosenEdition->code) == "2008x64");
}

TEST_CASE("an accepted submission shows step 2 done and hides the page before step 3")
{
    Main form;
    PageOpen(form);
    form.Step2_Version.listIndex = 0;
    form.Step2_Path.text = "D:/Data//SQL Server/";
    EndsWith([&] { form.Step2_Submit_Click(); });
    CHECK(form.Step2_Name.color == kStepDone);
    for (Control* c : {&form.About1, &form.About2, &form.Image1}) CHECK(c->visible);
    for (Control* c : {&form.Step2_T1, static_cast<Control*>(&form.Step2_Version), &form.Step2_T2, &form.Step2_Path,
                       &form.Step2_Select, &form.Step2_Submit})
        CHECK_FALSE(c->visible);
    CHECK(form.About2.text == "数据库版本：SQL Server 2008 R2 Express (32位)");
    CHECK(fake.Logged("http:" + kServiceBase + "/api/sqlserver.asp?version=2008&x64=0"));
}

TEST_CASE("directory normalisation and levels")
{
    CHECK(NormaliseInstallDir("D:/Data//SQL Server/") == "D:\\Data\\SQL Server");
    CHECK(NormaliseInstallDir("D:\\\\\\\\") == "D:");
    CHECK(DirectoryLevels("D:\\Data\\x") == std::vector<std::string>{"D:", "Data", "x"});
    CHECK(DriveTextOf("d:\\x") == "d");
    CHECK(IsUsableLevel("D:", true));
    CHECK_FALSE(IsUsableLevel("DD:", true));
    CHECK_FALSE(IsUsableLevel("1:", true));
    CHECK(IsUsableLevel("SQL Server", false));
    CHECK(IsUsableLevel("数据库", false));
    CHECK_FALSE(IsUsableLevel("LPT9", false));
    CHECK_FALSE(IsUsableLevel("x ", false));
}
