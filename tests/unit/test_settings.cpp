#include <doctest/doctest.h>

#include "helpers.h"
#include "settings/install_dir.h"

#include <set>

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

TEST_CASE("submission: box text to InstallDir, levels claimed in order, refusal or acceptance")
{
    const std::string dirRefused = "msg:安装目录错误，请重新选择。";
    struct Case {
        const char* box;
        const char* installDir;  // after the attempt
        std::vector<std::string> walk;  // the root ensured, each level below it claimed (the last made ours)
        std::string message;  // empty: accepted
    };
    const std::vector<Case> cases = {
        {"D:/Data//SQL Server/", "D:\\Data\\SQL Server",
         {"ensure:D:\\", "claim:D:\\Data", "claim-own:D:\\Data\\SQL Server"}, ""},
        // A bare drive: the root stays as it is; the folder setup makes for
        // the instance there is the level made ours.
        {"D:\\", "D:", {"ensure:D:\\", "claim-own:D:\\MSSQL11.MSSQLSERVER"}, ""},
        {"D:", "D:", {"ensure:D:\\", "claim-own:D:\\MSSQL11.MSSQLSERVER"}, ""},
        {"D:\\\\\\Data\\\\\\\\x", "D:\\Data\\x", {"ensure:D:\\", "claim:D:\\Data", "claim-own:D:\\Data\\x"}, ""},
        {"d:\\data", "d:\\data", {"ensure:d:\\", "claim-own:d:\\data"}, ""},
        {"\\SQL Server", "\\SQL Server", {}, dirRefused},
        {"\\\\server\\share\\SQL", "\\\\server\\share\\SQL", {}, dirRefused},
        {"D:\\SQL:Server", "D:\\SQL:Server", {"ensure:D:\\"}, dirRefused},
        {"SQL:Server", "SQL:Server", {}, dirRefused},
        {"D:\\a\"b", "D:\\a\"b", {"ensure:D:\\"}, dirRefused},
        {"D:\\x\\what?", "D:\\x\\what?", {"ensure:D:\\", "claim:D:\\x"}, dirRefused},
        {"D:\\a<b|c", "D:\\a<b|c", {"ensure:D:\\"}, dirRefused},
        {"D:\\CON\\x", "D:\\CON\\x", {"ensure:D:\\"}, dirRefused},
        {"D:\\data\\nul.txt", "D:\\data\\nul.txt", {"ensure:D:\\", "claim:D:\\data"}, dirRefused},
        {"D:\\com1", "D:\\com1", {"ensure:D:\\"}, dirRefused},
        {"D:\\trailing.\\x", "D:\\trailing.\\x", {"ensure:D:\\"}, dirRefused},
        {"Q:\\SQL Server", "Q:\\SQL Server", {"ensure:Q:\\"}, dirRefused},  // drive missing
        {"D:\\locked\\x", "D:\\locked\\x", {"ensure:D:\\", "claim:D:\\locked", "claim-own:D:\\locked\\x"},
         dirRefused},  // a level that cannot be made
        {"D:\\file.txt\\x", "D:\\file.txt\\x", {"ensure:D:\\", "claim:D:\\file.txt"},
         "msg:安装目录中的“D:\\file.txt”不是文件夹，请重新选择。"},
    };
    for (const Case& c : cases) {
        Main form;
        PageOpen(form);
        fake.failingFolders = {"Q:\\", "D:\\locked\\x\\"};
        fake.folders.erase("Q:\\");
        fake.folderFaults["D:\\file.txt"] = FolderFault::NotAFolder;
        form.Step2_Path.text = c.box;
        CAPTURE(c.box);
        const int code = EndsWith([&] { form.Step2_Submit_Click(); });
        CHECK(form.state.InstallDir == c.installDir);
        std::vector<std::string> walk;
        for (const std::string& e : fake.log)
            if (e.starts_with("ensure:") || e.starts_with("claim")) walk.push_back(e);
        CHECK(walk == c.walk);
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

TEST_CASE("levels of the directory: an untrusted level refuses with its path and why, the page stays open")
{
    struct Case {
        const char* box;
        const char* level;  // the level refused
        FolderFault fault;
        std::vector<std::string> walk;
        const char* message;
    };
    const Case cases[] = {
        {"D:\\Data\\SQL Server", "D:\\Data", FolderFault::ForeignOwner, {"claim:D:\\Data"},
         "安装目录中的“D:\\Data”不属于管理员、SYSTEM或当前账户，其他用户可能改动它，请重新选择。"},
        {"D:\\Data\\SQL Server", "D:\\Data", FolderFault::ReparsePoint, {"claim:D:\\Data"},
         "安装目录中的“D:\\Data”是链接或挂载点，不是真正的文件夹，请重新选择。"},
        {"D:\\Data\\SQL Server", "D:\\Data\\SQL Server", FolderFault::ForeignOwner,
         {"claim:D:\\Data", "claim-own:D:\\Data\\SQL Server"},
         "安装目录中的“D:\\Data\\SQL Server”不属于管理员、SYSTEM或当前账户，其他用户可能改动它，请重新选择。"},
        {"D:\\Data\\SQL Server", "D:\\Data\\SQL Server", FolderFault::NotChecked,
         {"claim:D:\\Data", "claim-own:D:\\Data\\SQL Server"},
         "安装目录中的“D:\\Data\\SQL Server”无法检查或保护（没有权限或正被其他程序使用），请重新选择。"},
        {"D:\\Data\\SQL Server", "D:\\Data\\SQL Server", FolderFault::NotAFolder,
         {"claim:D:\\Data", "claim-own:D:\\Data\\SQL Server"},
         "安装目录中的“D:\\Data\\SQL Server”不是文件夹，请重新选择。"},
        // A bare drive: the instance folder someone made first in its root.
        {"D:", "D:\\MSSQL11.MSSQLSERVER", FolderFault::ForeignOwner, {"claim-own:D:\\MSSQL11.MSSQLSERVER"},
         "安装目录中的“D:\\MSSQL11.MSSQLSERVER”不属于管理员、SYSTEM或当前账户，其他用户可能改动它，请重新选择。"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        Main form;
        PageOpen(form);
        fake.folderFaults[c.level] = c.fault;
        form.Step2_Path.text = c.box;
        CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == -1);
        CHECK(fake.Entries("claim") == c.walk);
        CHECK(fake.Entries("msg:") == std::vector<std::string>{std::string("msg:") + c.message});
        // Nothing of the attempt stays held; the page stays as it was.
        for (const auto& [token, path] : fake.held) CHECK(path == kProgramDir);
        CHECK(form.state.CurrentStep == 2);
        CHECK(form.Step2_Path.text == c.box);
        CHECK(form.Step2_Submit.visible);
        CHECK_FALSE(form.About1.visible);

        // Once the level is sound the same submission goes through.
        fake.folderFaults.clear();
        fake.log.clear();
        CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == 1);
        CHECK(form.state.CurrentStep == 3);
    }
}

TEST_CASE("levels of the directory: missing ones made protected, existing ones kept, the last made ours, all held")
{
    struct Case {
        const char* what;
        std::set<std::string> existing;  // levels there before (with their backslash)
        std::set<std::string> protectedAfter;
    };
    const Case cases[] = {
        {"all missing: each made with the protected DACL", {},
         {"D:\\Data", "D:\\Data\\SQL Server"}},
        {"the upper level there and ours: kept as it is, the last made", {"D:\\Data\\"},
         {"D:\\Data\\SQL Server"}},
        {"the directory itself there and ours: given the protected DACL", {"D:\\Data\\", "D:\\Data\\SQL Server\\"},
         {"D:\\Data\\SQL Server"}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Main form;
        PageOpen(form);
        for (const std::string& f : c.existing) fake.folders.insert(f);
        form.Step2_Path.text = "D:\\Data\\SQL Server";
        CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == 1);
        CHECK(fake.protectedFolders == c.protectedAfter);
        CHECK(fake.Entries("claim") == std::vector<std::string>{"claim:D:\\Data", "claim-own:D:\\Data\\SQL Server"});
        // Held from the submission on (step 3 ended without an address,
        // so setup never ran and nothing let go of them).
        std::set<std::string> heldPaths;
        for (const auto& [token, path] : fake.held) heldPaths.insert(path);
        CHECK(heldPaths.count("D:\\Data"));
        CHECK(heldPaths.count("D:\\Data\\SQL Server"));
        CHECK(fake.Entries("release:D:").empty());
    }
}

TEST_CASE("a bare drive: the instance folder setup makes there is the level made ours, by edition")
{
    struct Case {
        int edition;
        const char* folder;
    };
    const Case cases[] = {
        {0, "D:\\MSSQL10_50.MSSQLSERVER"},
        {1, "D:\\MSSQL10_50.MSSQLSERVER"},
        {2, "D:\\MSSQL11.MSSQLSERVER"},
        {3, "D:\\MSSQL11.MSSQLSERVER"},
    };
    for (const Case& c : cases) {
        Main form;
        PageOpen(form);
        form.Step2_Version.listIndex = c.edition;
        form.Step2_Path.text = "D:\\";
        CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == 1);
        CHECK(form.state.InstallDir == "D:");  // setup is still handed the bare drive
        CHECK(fake.Entries("claim") == std::vector<std::string>{std::string("claim-own:") + c.folder});
        CHECK(fake.protectedFolders == std::set<std::string>{c.folder});
    }
    CHECK(InstanceFolderName("2012", "MSSQLSERVER") == "MSSQL11.MSSQLSERVER");
    CHECK(InstanceFolderName("2008", "MSSQLSERVER") == "MSSQL10_50.MSSQLSERVER");
    CHECK(InstanceFolderName("", "MSSQLSERVER").empty());
}

TEST_CASE("a path beyond Windows' limit is refused before anything is made")
{
    Main form;
    PageOpen(form);
    form.Step2_Path.text = "D:\\" + std::string(257, 'a');
    CHECK(EndsWith([&] { form.Step2_Submit_Click(); }) == -1);
    CHECK(fake.Entries("ensure:").empty());
    CHECK(fake.Entries("claim").empty());
    CHECK(fake.Entries("msg:") == std::vector<std::string>{"msg:安装目录错误，请重新选择。"});

    fake.log.clear();
    form.Step2_Path.text = "D:\\" + std::string(255, 'a');  // 258 with its backslash and NUL: fits
    EndsWith([&] { form.Step2_Submit_Click(); });
    CHECK(fake.Entries("ensure:").size() == 1);
    CHECK(fake.Entries("claim").size() == 1);
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
    CHECK(fake.Entries("release:d:\\Data") == std::vector<std::string>{"release:d:\\Data"});  // not held on
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
