// The window's layout, control by control: place, text, font size,
// weight, colours, transparency and visibility at start, as the model holds
// them before Form_Load. The Windows-side window tests check that the window
// shows the model as it stands.
#include <doctest/doctest.h>

#include <set>
#include <string>
#include <vector>

#include "helpers.h"

namespace {

constexpr Rgb kBlack{0, 0, 0};     // the system window-text colour of every stock scheme
constexpr Rgb kCounter{0, 192, 192};

struct DesignRow {
    const char* name;
    TwipRect place;
    const char* text;      // nullptr for pictures
    double points;         // 0: not a captioned control
    bool bold;
    bool defaultFont;      // the system font instead of 黑体
    Rgb color;
    Rgb back;
    bool transparent;
    bool centred;
    bool visible;
    Picture picture;
};

// clang-format off
const DesignRow kDesign[] = {
    //  name            left  top   width height  text                      pt    bold   sysfont colour        back          transp centred visible picture
    {"Picture1",     {0, 0, 8055, 2655},       nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::Banner},
    {"Label3",       {120, 120, 735, 255},     "0s",                       9,    false, true,  kCounter,     {},           true,  false, true,  Picture::None},
    {"Label2",       {2280, 840, 3735, 735},   "",                         9,    false, false, kWhite,       {},           true,  false, true,  Picture::None},
    {"Label_Close",  {7800, 90, 240, 240},     " ",                        9,    false, false, kWhite,       {},           true,  true,  true,  Picture::None},
    {"Label1",       {2930, 1680, 3855, 375},  "一键安装SQL Server数据库", 10.5, true,  false, kWhite,       {},           true,  false, true,  Picture::None},
    {"Image_OK2",    {720, 360, 90, 90},       nullptr,                    0,    false, false, {},           {},           false, false, false, Picture::BlueDot},
    {"Image1",       {2900, 3040, 2250, 705},  nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::RoundedBox},
    {"About1",       {2935, 3280, 2190, 300},  "准备就绪",                 12,   false, false, kWhite,       {},           true,  true,  true,  Picture::None},
    {"About2",       {0, 4000, 8055, 200},     "",                         9,    false, false, kOrange,      kWindowBack,  false, true,  true,  Picture::None},
    {"Image_Wait",   {5280, 2880, 1590, 90},   nullptr,                    0,    false, false, {},           {},           false, false, false, Picture::GreyBar},
    {"Image_OK",     {840, 3120, 1560, 90},    nullptr,                    0,    false, false, {},           {},           false, false, false, Picture::BlueBar},
    {"Step1_Img",    {560, 4400, 1560, 90},    nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::None},
    {"Step2_Img",    {2270, 4400, 1560, 90},   nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::None},
    {"Step3_Img",    {3980, 4400, 1560, 90},   nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::None},
    {"Step4_Img",    {5690, 4400, 1560, 90},   nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::None},
    {"Step5_Img",    {7400, 4400, 90, 90},     nullptr,                    0,    false, false, {},           {},           false, false, true,  Picture::GreyDot},
    {"Step1_Name",   {240, 4760, 1815, 255},   "1.环境检测",               7.5,  false, false, kStepPending, kWindowBack,  false, false, true,  Picture::None},
    {"Step2_Name",   {1920, 4760, 1455, 375},  "2.版本选择",               7.5,  false, false, kStepPending, kWindowBack,  false, false, true,  Picture::None},
    {"Step3_Name",   {3650, 4760, 1935, 375},  "3.下载软件",               7.5,  false, false, kStepPending, kWindowBack,  false, false, true,  Picture::None},
    {"Step4_Name",   {5330, 4760, 1455, 375},  "4.安装软件",               7.5,  false, false, kStepPending, kWindowBack,  false, false, true,  Picture::None},
    {"Step5_Name",   {7080, 4760, 1335, 375},  "5.完成安装",               7.5,  false, false, kStepPending, kWindowBack,  false, false, true,  Picture::None},
    {"Step2_T1",     {480, 3150, 1215, 375},   "版本选择：",               9,    true,  false, kBlack,       kWindowBack,  false, false, false, Picture::None},
    {"Step2_Version",{1560, 3100, 3495, 300},  "",                         9,    false, false, kBlack,       kWhite,       false, false, false, Picture::None},
    {"Step2_T2",     {480, 3800, 1215, 375},   "安装目录：",               9,    true,  false, kBlack,       kWindowBack,  false, false, false, Picture::None},
    {"Step2_Path",   {1560, 3750, 4935, 300},  "",                         9,    false, false, kBlack,       kWhite,       false, false, false, Picture::None},
    {"Step2_Select", {6720, 3795, 855, 375},   "浏览...",                  9,    false, false, kStepPending, kWindowBack,  false, false, false, Picture::None},
    {"Step2_Submit", {5400, 3050, 1095, 375},  "立即安装",                 9,    false, false, kWhite,       kOrange,      false, false, false, Picture::None},
};
// clang-format on

}  // namespace

TEST_CASE("every control of the window in its place, font and colours")
{
    Main form;
    const std::vector<Control*> controls = form.Controls();
    REQUIRE(controls.size() == std::size(kDesign));
    std::set<std::string> seen;
    std::set<int> ids;
    for (const DesignRow& row : kDesign) {
        CAPTURE(row.name);
        const Control* found = nullptr;
        for (const Control* c : controls) {
            if (std::string(c->name) == row.name) found = c;
        }
        REQUIRE(found != nullptr);
        const Control& c = *found;
        seen.insert(c.name);
        ids.insert(c.id);
        CHECK(c.place.left == row.place.left);
        CHECK(c.place.top == row.place.top);
        CHECK(c.place.width == row.place.width);
        CHECK(c.place.height == row.place.height);
        // The window is 8055 × 5085 twips: every control lies inside it (the
        // close mark overhangs the right edge, as it is placed).
        CHECK(c.place.left + c.place.width <= 8055 + 400);
        CHECK(c.place.top + c.place.height <= 5085 + 100);
        CHECK(c.visible == row.visible);
        CHECK(c.picture == row.picture);
        if (!row.text) {
            CHECK(c.kind == ControlKind::Picture);
            continue;
        }
        CHECK(c.kind != ControlKind::Picture);
        CHECK(c.text == row.text);
        CHECK(c.fontPoints == row.points);
        CHECK(c.bold == row.bold);
        CHECK(c.defaultFont == row.defaultFont);
        CHECK(c.color == row.color);
        CHECK(c.transparent == row.transparent);
        if (!row.transparent) CHECK(c.backColor == row.back);
        CHECK(c.centred == row.centred);
    }
    // Every control once, each with its own identifier for the window.
    CHECK(seen.size() == controls.size());
    CHECK(ids.size() == controls.size());

    // The edition box's items, in the order of the edition table; none chosen
    // before the page opens.
    const std::vector<std::string> items = {
        "SQL Server 2008 R2 Express (32位)", "SQL Server 2008 R2 Express (64位)",
        "SQL Server 2012 Express (32位)", "SQL Server 2012 Express (64位)"};
    CHECK(form.Step2_Version.items == items);
    CHECK(form.Step2_Version.listIndex == -1);

    // The three timers: start-up, progress, elapsed seconds.
    CHECK(form.Timer1.interval == 10);
    CHECK(form.Timer1.enabled);
    CHECK(form.Timer2.interval == 1000);
    CHECK_FALSE(form.Timer2.enabled);
    CHECK(form.Timer3.interval == 1000);
    CHECK(form.Timer3.enabled);
}
