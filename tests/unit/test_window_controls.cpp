#include <doctest/doctest.h>

#include "helpers.h"
#include "stackhold_config.h"

TEST_CASE("the close control decides by step")
{
    struct Case {
        int step;
        bool answerYes;
        std::vector<std::string> log;
        int exitCode;  // -1: the window goes on
        int presses = 1;
    };
    const std::string pkg = "C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe";
    const std::vector<Case> cases = {
        {0, false, {"ask:确定结束安装吗？"}, -1},
        {1, true, {"ask:确定结束安装吗？", "end:0"}, 0},
        {2, false, {"ask:确定结束安装吗？"}, -1},
        {2, true, {"ask:确定结束安装吗？", "end:0"}, 0},
        {3, false, {"ask:确定结束安装吗？"}, -1},
        // No package folder made safe and held yet: nothing is deleted
        // (the close within the step, folder held: tests/unit/test_download.cpp).
        {3, true, {"ask:确定结束安装吗？", "kill:wget.exe in C:\\Tools", "sleep:100", "end:0"}, 0},
        {4, true, {"msg:数据库正在安装，无法结束。"}, -1},
        // A second close during step 4 is refused again.
        {4, true, {"msg:数据库正在安装，无法结束。", "msg:数据库正在安装，无法结束。"}, -1, 2},
        {5, false, {"end:0"}, 0},
    };
    for (const Case& c : cases) {
        MachineThatPasses();
        Main form;
        form.Form_Load(kProgramDir);
        form.state.CurrentStep = c.step;
        form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
        fake.fileSizes[pkg] = 500;
        fake.answerYes = c.answerYes;
        CAPTURE(c.step);
        CAPTURE(c.presses);
        CHECK(EndsWith([&] {
                  for (int i = 0; i < c.presses; ++i) form.Label_Close_Click();
              }) == c.exitCode);
        CHECK(fake.log == c.log);
        CHECK(form.state.CurrentStep == c.step);
    }
}

TEST_CASE("link, hand cursor and drag")
{
    MachineThatPasses();
    Main form;
    form.Form_Load(kProgramDir);
    form.Label2_Click();
    form.Label2_MouseMove();
    form.Picture1_MouseDown();
    const std::vector<std::string> expected = {std::string("site:") + STACKHOLD_SITE_URL, "cursor:hand", "drag"};
    CHECK(fake.log == expected);
}
