#include <doctest/doctest.h>

#include "helpers.h"

TEST_CASE("Form_Load fills the installer state from the program directory")
{
    struct Case {
        const char* programDir;
        const char* installDir;
        const char* packageDir;
    };
    const Case cases[] = {
        {"C:\\Tools", "C:\\Tools\\SQL Server", "C:\\Tools\\packages"},
        {"C:\\", "C:\\SQL Server", "C:\\packages"},  // a drive root keeps one backslash
        {"D:\\Program Files\\Corvane", "D:\\Program Files\\Corvane\\SQL Server",
         "D:\\Program Files\\Corvane\\packages"},
        // Every doubled backslash collapses, deliberately, also the one that
        // opens a network path.
        {"\\\\srv\\share", "\\srv\\share\\SQL Server", "\\srv\\share\\packages"},
    };
    for (const Case& c : cases) {
        MachineThatPasses();
        Main form;
        form.Form_Load(c.programDir);
        CAPTURE(c.programDir);
        CHECK(form.state.QuietSwitch == "/Q");
        CHECK(std::string(form.state.ChosenEdition->code) == "2012x64");
        CHECK(form.state.InstanceName == "MSSQLSERVER");
        CHECK(form.state.SaPassword.size() == 20);
        CHECK(form.state.InstallDir == c.installDir);
        CHECK(form.state.PackageDir == c.packageDir);
        CHECK(form.state.HandCursor == LoadHandCursor());
        CHECK(form.state.CurrentStep == 0);
        // All four bars grey, the dot grey, nothing else started.
        for (Control* bar : {&form.Step1_Img, &form.Step2_Img, &form.Step3_Img, &form.Step4_Img})
            CHECK(bar->picture == Picture::GreyBar);
        CHECK(form.Step5_Img.picture == Picture::GreyDot);
        CHECK(fake.log.empty());
    }
}

TEST_CASE("the window's layout: start texts, hidden page and templates, timers")
{
    Main form;
    CHECK(form.About1.text == "准备就绪");
    CHECK(form.Label1.text == "一键安装SQL Server数据库");
    CHECK(form.Label3.text == "0s");
    CHECK(form.Step3_Name.text == "3.下载软件");
    CHECK(form.Step2_Version.items.size() == 4);
    CHECK(form.Step2_Version.items[3] == "SQL Server 2012 Express (64位)");
    for (Control* c : {&form.Step2_T1, static_cast<Control*>(&form.Step2_Version), &form.Step2_T2, &form.Step2_Path,
                       &form.Step2_Select, &form.Step2_Submit, &form.Image_OK, &form.Image_OK2, &form.Image_Wait})
        CHECK_FALSE(c->visible);
    CHECK(form.Timer1.enabled);
    CHECK(form.Timer1.interval == 10);
    CHECK_FALSE(form.Timer2.enabled);
    CHECK(form.Timer3.enabled);
    CHECK(form.Timer3.interval == 1000);
    // The window is 8055 × 5085 twips: every control lies inside it.
    for (Control* c : form.Controls()) {
        CAPTURE(c->name);
        CHECK(c->place.left + c->place.width <= 8055 + 400);  // the close mark overhangs the right edge, as it is placed
        CHECK(c->place.top + c->place.height <= 5085 + 100);
    }
}

TEST_CASE("a failing random generator ends the start-up with a message, before any step")
{
    MachineThatPasses();
    fake.randomWorks = false;
    Main form;
    CHECK(EndsWith([&] { form.Form_Load(kProgramDir); }) == 1);
    REQUIRE(fake.Entries("msg:").size() == 1);
    CHECK(fake.Entries("msg:")[0] == "msg:非常抱歉，无法生成安全的随机密码，请重新运行。");
}

TEST_CASE("Timer1 fires the chain once; Timer3 counts seconds")
{
    MachineThatPasses();
    Main form;
    form.Form_Load(kProgramDir);
    form.Timer1_Timer();
    CHECK_FALSE(form.Timer1.enabled);
    CHECK(form.state.CurrentStep == 2);

    form.Timer3_Timer();
    CHECK(form.Label3.text == "1s");
    for (int i = 0; i < 9; ++i) form.Timer3_Timer();
    CHECK(form.Label3.text == "10s");
    CHECK(form.state.ElapsedSeconds == 10);
}
