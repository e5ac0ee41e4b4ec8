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
