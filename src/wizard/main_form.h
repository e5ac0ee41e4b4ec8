// The window Main: the installer state, a plain model of the window's
// controls under their given names (About1, Step2_Path ...), and the step
// chain. The Win32 layer
// mirrors this model into real child controls; the native tests drive it
// against fakes of the platform procedures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "setup/failure_cause.h"
#include "wizard/control_ids.h"
#include "wizard/editions.h"

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kWindowBack{244, 247, 252};
inline constexpr Rgb kBannerBlue{14, 140, 220};
inline constexpr Rgb kBarBlue{34, 157, 235};
inline constexpr Rgb kBarGrey{232, 232, 232};
inline constexpr Rgb kStepDone{16, 141, 220};
inline constexpr Rgb kStepPending{64, 64, 64};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kFailRed{255, 0, 0};
inline constexpr Rgb kOrange{255, 128, 0};
inline constexpr Rgb kCounterCyan{0, 192, 192};

enum class ControlKind { Label, Picture, ComboBox, TextBox, Button, LinkButton };

// What a picture control shows; the window paints each at its size.
enum class Picture { None, Banner, GreyBar, BlueBar, GreyDot, BlueDot, RoundedBox };

// Place in twips (15 twips make one pixel at 96 DPI), relative to the
// window's client area (the header picture starts at its origin).
struct TwipRect {
    int left = 0, top = 0, width = 0, height = 0;
};

struct Control {
    int id = 0;
    const char* name = "";
    ControlKind kind = ControlKind::Label;
    TwipRect place;
    std::string text;
    Rgb color = kStepPending;
    Rgb backColor = kWindowBack;
    bool transparent = false;
    double fontPoints = 9;
    bool bold = false;
    bool defaultFont = false;  // the system's UI font instead of 黑体
    bool centred = false;
    bool visible = true;
    Picture picture = Picture::None;
};

struct ComboBox : Control {
    std::vector<std::string> items;
    int listIndex = -1;  // -1: no item selected
    // The text of the selected item, as the box shows it.
    std::string Text() const;
};

struct Timer {
    int interval = 0;
    bool enabled = false;
};

// The form-level variables that carry the run from step to step.
struct InstallState {
    std::string ProgramDir;
    std::string QuietSwitch;
    // The chosen edition, a row of kEditions: its box text, its code and
    // the keys the download-address service is asked with.
    const Edition* ChosenEdition = &kEditions[kDefaultEdition];
    std::string InstanceName;
    std::string SaPassword;
    std::string InstallDir;
    std::string PackageDir;
    std::string PackageFileName;
    int64_t RemotePackageSize = 0;
    int64_t LastSampleSize = 0;
    int64_t LastSampleTime = 0;  // LocalClockSeconds(); 0 is the zero date
    int CurrentStep = 0;
    bool Verified = false;  // step 5 proved the installation
    int ElapsedSeconds = 0;
    void* HandCursor = nullptr;
};


class Main {
public:
    Main();

    InstallState state;

    // The controls, by their given names.
    Control Picture1, Label1, Label2, Label3, Label_Close, Image_OK2, Image1, About1, About2,
        Image_Wait, Image_OK;
    Control Step1_Img, Step2_Img, Step3_Img, Step4_Img, Step5_Img;
    Control Step1_Name, Step2_Name, Step3_Name, Step4_Name, Step5_Name;
    Control Step2_T1, Step2_T2, Step2_Path, Step2_Select, Step2_Submit;
    ComboBox Step2_Version;
    Timer Timer1, Timer2, Timer3;

    // Every control, in creation order (pictures first so labels lie above them).
    std::vector<Control*> Controls();

    // Start-up and the step chain.
    void Form_Load(const std::string& programDir);
    void Timer1_Timer();
    void CheckEnvironMental();
    void DispalyStep2();  // spelled so deliberately, not DisplayStep2: the step's given name
    void Step2_Select_Click();
    void Step2_Submit_Click();
    void DownLoadSQLFile();
    void Timer2_Timer();
    void Install();
    void CheckSuccess();

    // The window's own controls.
    void Timer3_Timer();
    void Label_Close_Click();
    void Label2_Click();
    void Label2_MouseMove();
    void Picture1_MouseDown();

    // Step 5's notes file: composed, written to the desktop; its path, or
    // empty when none was written (no desktop folder, or writing failed).
    std::string WriteInstallationNotes();

private:
    // The package folder, held from step 3 on so it stays the protected
    // folder that was checked; and the verified package, held from its
    // signature check until setup has been started from it.
    HeldFile packageFolder_;
    HeldFile package_;
    // The program's folder, held from the step-1 gate on so it stays the
    // folder judged; the levels of the installation directory, held from
    // the submission until setup has ended.
    HeldFile programFolder_;
    std::vector<HeldFile> installDirHolds_;
    // What step 4 kept for the report of a failed installation.
    InstallEvidence installEvidence_;

    std::vector<Control*> settingsPage();
    // The package's full path: the one place it is joined.
    std::string packagePath() const;
    [[noreturn]] void failAndEnd(const std::string& message);
};
