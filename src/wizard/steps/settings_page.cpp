// Step 2: the settings page, its folder chooser and the submission.
#include "envcheck/gates.h"
#include "platform/fs.h"
#include "platform/strings.h"
#include "settings/browse.h"
#include "settings/install_dir.h"
#include "wizard/editions.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

void Main::DispalyStep2()
{
    state.CurrentStep = 2;
    Step2_Img.picture = Image_OK.picture;
    About1.visible = About2.visible = Image1.visible = false;
    for (Control* c : settingsPage()) c->visible = true;
    Step2_Path.text = state.InstallDir;
    Step2_Version.listIndex = kDefaultEdition;
}

void Main::Step2_Select_Click()
{
    Step2_Path.text = JoinPathCollapsed(BrowseForFolder("请选择文件夹"), "SQL Server");
}

void Main::Step2_Submit_Click()
{
    // With no item selected the edition stays as it was.
    const int selected = Step2_Version.listIndex;
    if (selected >= 0 && selected < kEditionCount) state.ChosenEdition = &kEditions[selected];
    state.InstallDir = Step2_Path.text;
    if (!Contains(state.InstallDir, ":")) return ShowMessage(kDirectoryRefused);
    state.InstallDir = NormaliseInstallDir(state.InstallDir);
    // A path Windows cannot hold is refused before anything is made.
    if (!FitsPathLimit(state.InstallDir)) return ShowMessage(kDirectoryRefused);

    // Level by level from the drive down, each made ours or judged and held
    // until setup has ended; a refused level is named in the message.
    DirectoryClaim claim =
        ClaimInstallDir(state.InstallDir, InstanceFolderName(state.ChosenEdition->version,
                                                             state.InstanceName));
    if (!claim) return ShowMessage(DirectoryRefusalText(claim));

    const std::string drive = DriveTextOf(state.InstallDir);
    if (GetDriveFreeSpace(drive + ":") < kMinimumFreeMiB)
        return ShowMessage(drive + "盘剩余空间必须大于5G，请重新选择。");

    installDirHolds_ = std::move(claim.holds);
    Step2_Name.color = kStepDone;
    About1.text = "安装环境符合";
    About1.visible = About2.visible = Image1.visible = true;
    for (Control* c : settingsPage()) c->visible = false;
    DownLoadSQLFile();
}
