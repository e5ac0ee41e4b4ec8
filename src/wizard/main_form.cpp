#include "wizard/main_form.h"

#include "platform/strings.h"
#include "settings/password.h"
#include "wizard/editions.h"
#include "wizard/ui.h"

namespace {

Control MakeLabel(int id, const char* name, TwipRect place, std::string text, double points,
                  Rgb color = kStepPending)
{
    Control c;
    c.id = id;
    c.name = name;
    c.kind = ControlKind::Label;
    c.place = place;
    c.text = std::move(text);
    c.fontPoints = points;
    c.color = color;
    return c;
}

Control MakePicture(int id, const char* name, TwipRect place, Picture picture, bool visible)
{
    Control c;
    c.id = id;
    c.name = name;
    c.kind = ControlKind::Picture;
    c.place = place;
    c.picture = picture;
    c.visible = visible;
    return c;
}

Control MakeHeaderLabel(int id, const char* name, TwipRect place, std::string text, double points,
                        Rgb color)
{
    Control c = MakeLabel(id, name, place, std::move(text), points, color);
    c.transparent = true;
    return c;
}

}  // namespace

std::string ComboBox::Text() const
{
    if (listIndex < 0 || listIndex >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(listIndex)];
}

Main::Main()
{
    // The window's layout: places in twips, texts, fonts and colours.
    Picture1 = MakePicture(kIdPicture1, "Picture1", {0, 0, 8055, 2655}, Picture::Banner, true);

    Label3 = MakeHeaderLabel(kIdLabel3, "Label3", {120, 120, 735, 255}, "0s", 9, kCounterCyan);
    Label3.defaultFont = true;
    Label2 = MakeHeaderLabel(kIdLabel2, "Label2", {2280, 840, 3735, 735}, "", 9, kWhite);
    Label2.kind = ControlKind::LinkButton;
    Label_Close = MakeHeaderLabel(kIdLabelClose, "Label_Close", {7800, 90, 240, 240}, " ", 9, kWhite);
    Label_Close.kind = ControlKind::LinkButton;
    Label_Close.centred = true;
    Label1 = MakeHeaderLabel(kIdLabel1, "Label1", {2930, 1680, 3855, 375}, "一键安装SQL Server数据库",
                             10.5, kWhite);
    Label1.bold = true;
    Image_OK2 = MakePicture(kIdImageOK2, "Image_OK2", {720, 360, 90, 90}, Picture::BlueDot, false);

    Image1 = MakePicture(kIdImage1, "Image1", {2900, 3040, 2250, 705}, Picture::RoundedBox, true);
    About1 = MakeHeaderLabel(kIdAbout1, "About1", {2935, 3280, 2190, 300}, "准备就绪", 12, kWhite);
    About1.centred = true;
    About2 = MakeLabel(kIdAbout2, "About2", {0, 4000, 8055, 200}, "", 9, kOrange);
    About2.centred = true;

    Image_Wait = MakePicture(kIdImageWait, "Image_Wait", {5280, 2880, 1590, 90}, Picture::GreyBar, false);
    Image_OK = MakePicture(kIdImageOK, "Image_OK", {840, 3120, 1560, 90}, Picture::BlueBar, false);
    Step1_Img = MakePicture(kIdStep1Img, "Step1_Img", {560, 4400, 1560, 90}, Picture::None, true);
    Step2_Img = MakePicture(kIdStep2Img, "Step2_Img", {2270, 4400, 1560, 90}, Picture::None, true);
    Step3_Img = MakePicture(kIdStep3Img, "Step3_Img", {3980, 4400, 1560, 90}, Picture::None, true);
    Step4_Img = MakePicture(kIdStep4Img, "Step4_Img", {5690, 4400, 1560, 90}, Picture::None, true);
    Step5_Img = MakePicture(kIdStep5Img, "Step5_Img", {7400, 4400, 90, 90}, Picture::GreyDot, true);

    Step1_Name = MakeLabel(kIdStep1Name, "Step1_Name", {240, 4760, 1815, 255}, "1.环境检测", 7.5);
    Step2_Name = MakeLabel(kIdStep2Name, "Step2_Name", {1920, 4760, 1455, 375}, "2.版本选择", 7.5);
    Step3_Name = MakeLabel(kIdStep3Name, "Step3_Name", {3650, 4760, 1935, 375}, "3.下载软件", 7.5);
    Step4_Name = MakeLabel(kIdStep4Name, "Step4_Name", {5330, 4760, 1455, 375}, "4.安装软件", 7.5);
    Step5_Name = MakeLabel(kIdStep5Name, "Step5_Name", {7080, 4760, 1335, 375}, "5.完成安装", 7.5);

    Step2_T1 = MakeLabel(kIdStep2T1, "Step2_T1", {480, 3150, 1215, 375}, "版本选择：", 9);
    Step2_T1.bold = true;
    Step2_T1.visible = false;
    Step2_T2 = MakeLabel(kIdStep2T2, "Step2_T2", {480, 3800, 1215, 375}, "安装目录：", 9);
    Step2_T2.bold = true;
    Step2_T2.visible = false;
    // The settings labels use the system's window-text colour; black is what
    // that is on every stock scheme.
    Step2_T1.color = Step2_T2.color = Rgb{0, 0, 0};

    static_cast<Control&>(Step2_Version) =
        MakeLabel(kIdStep2Version, "Step2_Version", {1560, 3100, 3495, 300}, "", 9, Rgb{0, 0, 0});
    Step2_Version.kind = ControlKind::ComboBox;
    Step2_Version.backColor = kWhite;
    Step2_Version.visible = false;
    for (const Edition& edition : kEditions) Step2_Version.items.push_back(edition.item);

    Step2_Path = MakeLabel(kIdStep2Path, "Step2_Path", {1560, 3750, 4935, 300}, "", 9, Rgb{0, 0, 0});
    Step2_Path.kind = ControlKind::TextBox;
    Step2_Path.backColor = kWhite;
    Step2_Path.visible = false;

    Step2_Select = MakeLabel(kIdStep2Select, "Step2_Select", {6720, 3795, 855, 375}, "浏览...", 9);
    Step2_Select.kind = ControlKind::LinkButton;
    Step2_Select.visible = false;

    Step2_Submit = MakeLabel(kIdStep2Submit, "Step2_Submit", {5400, 3050, 1095, 375}, "立即安装", 9, kWhite);
    Step2_Submit.kind = ControlKind::Button;
    Step2_Submit.backColor = kOrange;
    Step2_Submit.visible = false;

    Timer1 = {10, true};
    Timer2 = {1000, false};
    Timer3 = {1000, true};
}

std::vector<Control*> Main::Controls()
{
    return {&Picture1,   &Image_OK2,  &Image1,     &Image_Wait, &Image_OK,     &Step1_Img,
            &Step2_Img,  &Step3_Img,  &Step4_Img,  &Step5_Img,  &Label3,       &Label2,
            &Label_Close, &Label1,    &About1,     &About2,     &Step1_Name,   &Step2_Name,
            &Step3_Name, &Step4_Name, &Step5_Name, &Step2_T1,   &Step2_Version, &Step2_T2,
            &Step2_Path, &Step2_Select, &Step2_Submit};
}

std::vector<Control*> Main::settingsPage()
{
    return {&Step2_T1, &Step2_Version, &Step2_Submit, &Step2_T2, &Step2_Path, &Step2_Select};
}

std::string Main::packagePath() const { return JoinPath(state.PackageDir, state.PackageFileName); }

void Main::failAndEnd(const std::string& message)
{
    ShowMessage(message);
    EndProcess(1);
}

void Main::Form_Load(const std::string& programDir)
{
    for (Control* bar : {&Step1_Img, &Step2_Img, &Step3_Img, &Step4_Img}) bar->picture = Image_Wait.picture;
    state.ProgramDir = programDir;
    state.QuietSwitch = "/Q";
    state.ChosenEdition = &kEditions[kDefaultEdition];
    state.InstanceName = "MSSQLSERVER";
    state.SaPassword = GenerateRandomPassword(20);
    // Without the system's random generator there is no password that can
    // be trusted; no installation may start with a guessable one.
    if (state.SaPassword.empty()) failAndEnd("非常抱歉，无法生成安全的随机密码，请重新运行。");
    state.InstallDir = JoinPathCollapsed(programDir, "SQL Server");
    state.PackageDir = JoinPathCollapsed(programDir, "packages");
    state.HandCursor = LoadHandCursor();
}

void Main::Timer1_Timer()
{
    // Off first, so the chain starts exactly once even though the steps
    // below pump messages while they wait.
    Timer1.enabled = false;
    CheckEnvironMental();
}

void Main::Timer3_Timer()
{
    ++state.ElapsedSeconds;
    Label3.text = std::to_string(state.ElapsedSeconds) + "s";
}
