// The whole step chain against the fakes, from the start-up timer to the
// success window: every platform call in order and the indicator between.
#include <doctest/doctest.h>

#include "helpers.h"
#include "setup/setup_command.h"
#include "stackhold_config.h"

namespace {

struct Snapshot {
    int step;
    std::string about1;
    std::vector<Picture> bars;
    std::vector<bool> namesDone;
};

Snapshot Take(Main& f)
{
    Snapshot s{f.state.CurrentStep, f.About1.text, {}, {}};
    for (Control* c : {&f.Step1_Img, &f.Step2_Img, &f.Step3_Img, &f.Step4_Img, &f.Step5_Img}) s.bars.push_back(c->picture);
    for (Control* c : {&f.Step1_Name, &f.Step2_Name, &f.Step3_Name, &f.Step4_Name, &f.Step5_Name})
        s.namesDone.push_back(c->color == kStepDone);
    return s;
}

}  // namespace

TEST_CASE("a whole installation, start to success")
{
    MachineThatPasses();
    const std::string address = "http://dl.example.test/SQLEXPR_x86_CHS.exe";
    const std::string package = "D:\\Apps\\Stackhold\\packages\\SQLEXPR_x86_CHS.exe";
    fake.fileSizes["D:\\Apps\\Stackhold\\wget.exe"] = 1;
    fake.httpBodies[kServiceBase + "/api/sqlserver.asp?version=2012&x64=0"] = "[" + address + "]";
    fake.remoteSizes[address] = 4096;

    Main form;
    std::vector<Snapshot> duringRuns;
    fake.onRun = [&](const std::string& line) {
        duringRuns.push_back(Take(form));
        if (line.find("wget.exe") != std::string::npos) {
            fake.fileSizes[package] = 2048;
            form.Timer2_Timer();  // a tick while the tool runs
            fake.fileSizes[package] = 4096;
        }
    };

    form.Form_Load("D:\\Apps\\Stackhold");
    const std::string password = form.state.SaPassword;
    form.Timer1_Timer();
    CHECK(form.state.CurrentStep == 2);
    form.Step2_Version.listIndex = 2;
    form.Step2_Path.text = "E:\\DB";
    fake.freeMiB["E:"] = 9000;
    fake.folders.insert("E:\\");
    form.Step2_Submit_Click();

    const std::vector<std::string> expected = {
        "hold-folder:D:\\Apps\\Stackhold",
        "judge:D:\\Apps\\Stackhold",
        "judge:D:\\Apps\\Stackhold\\Stackhold.exe",
        "judge:D:\\Apps\\Stackhold\\wget.exe",
        "ensure:E:\\",
        "claim-own:E:\\DB",
        "protect:D:\\Apps\\Stackhold\\packages",
        "http:" + kServiceBase + "/api/sqlserver.asp?version=2012&x64=0",
        "head:" + address,
        "run:\"D:\\Apps\\Stackhold\\wget.exe\" -c -P, --directory-prefix=\"D:\\Apps\\Stackhold\\packages\" \"" +
            address + "\"",
        "taskbar:2048/4096",
        "taskbar:clear",
        "hold:" + package,
        "verify:" + package + "|" + STACKHOLD_PUBLISHER,
        "delete:D:\\Apps\\Stackhold\\fx35.bat",
        "write-fresh:D:\\Apps\\Stackhold\\fx35.bat",
        "run-batch:D:\\Apps\\Stackhold\\fx35.bat",
        "release:D:\\Apps\\Stackhold\\fx35.bat",
        "delete:D:\\Apps\\Stackhold\\fx35.bat",
        "run:" + SetupCommandLine({package, "/Q", "MSSQLSERVER", "E:\\DB", password}),
        "release:" + package,
        "release:E:\\DB",
        "service-state:MSSQLSERVER",
        "connect",
        "topmost",
        "write:C:\\Users\\Operator\\Desktop\\SQL Server安装说明.txt",
        "delete:" + package,
        "notepad:C:\\Users\\Operator\\Desktop\\SQL Server安装说明.txt",
    };
    CHECK(fake.log == expected);
    CHECK(std::string(form.state.ChosenEdition->code) == "2012x86");
    CHECK(form.state.InstallDir == "E:\\DB");
    CHECK(fake.Entries("run:").back().find("/SAPWD=\"" + password + "\"") != std::string::npos);

    // The indicator while each outside program ran: the tool, DISM, setup.
    REQUIRE(duringRuns.size() == 3);
    CHECK(duringRuns[0].step == 3);
    CHECK(duringRuns[0].about1 == "正在下载文件");
    CHECK(duringRuns[0].bars == std::vector<Picture>{Picture::BlueBar, Picture::BlueBar, Picture::BlueBar,
                                                     Picture::GreyBar, Picture::GreyDot});
    CHECK(duringRuns[0].namesDone == std::vector<bool>{true, true, false, false, false});
    CHECK(duringRuns[1].step == 4);
    CHECK(duringRuns[2].about1 == "正在安装数据库");
    CHECK(duringRuns[2].namesDone == std::vector<bool>{true, true, true, false, false});

    // The end: four blue bars, the blue dot, five blue labels, the password shown.
    const Snapshot end = Take(form);
    CHECK(end.step == 5);
    CHECK(end.bars == std::vector<Picture>{Picture::BlueBar, Picture::BlueBar, Picture::BlueBar, Picture::BlueBar,
                                           Picture::BlueDot});
    CHECK(end.namesDone == std::vector<bool>(5, true));
    CHECK(form.About1.text == "数据库安装成功！");
    CHECK(form.About2.text == "恭喜，数据库安装成功，SA密码：" + password);
    CHECK(fake.Entries("msg:").empty());
    CHECK_FALSE(form.Timer2.enabled);
}
