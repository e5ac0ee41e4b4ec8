// The window's own controls in its header: close, link and drag.
#include "download/kill.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "stackhold_config.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

void Main::Label_Close_Click()
{
    if (state.CurrentStep == 4) return ShowMessage("数据库正在安装，无法结束。");
    if (state.CurrentStep == 5) EndProcess(0);
    if (!AskYesNo("确定结束安装吗？")) return;
    if (state.CurrentStep == 3) {
        // Our own tool, from the program folder, is stopped and has really
        // ended before its partial file is removed, so the file is not left
        // behind locked; a wget.exe of anyone else's keeps running.
        KillProcessByName("wget.exe", state.ProgramDir);
        SleepMilliseconds(100);
        // Only inside the package folder that was made safe and is held:
        // before that, or without a checked name, nothing is deleted.
        if (packageFolder_ && !state.PackageFileName.empty())
            DeleteFileInHeldFolder(packageFolder_, state.PackageFileName);
    }
    EndProcess(0);
}

void Main::Label2_Click() { OpenWebSite(STACKHOLD_SITE_URL); }

void Main::Label2_MouseMove() { ShowHandCursor(state.HandCursor); }

void Main::Picture1_MouseDown() { DragWindow(); }
