// Step 4: .NET Framework 3.5, then the unattended SQL Server setup. Its
// outcome is judged by step 5 alone.
#include "platform/runner.h"
#include "setup/netfx.h"
#include "setup/setup_command.h"
#include "setup/setup_log.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

void Main::Install()
{
    Step4_Img.picture = Image_OK.picture;
    About1.text = "正在安装数据库";
    About2.text = std::string("版本：") + state.ChosenEdition->item + "，安装目录：" + Step2_Path.text;
    state.CurrentStep = 4;
    RefreshWindow();

    // What happens here is kept only for the report of a failure; step 5
    // judges the installation by its connection alone.
    installEvidence_.netFxBatchRan = EnableNetFx35(state.ProgramDir, PumpEvents);
    installEvidence_.netFxPresent = IsNetFx35Present();
    installEvidence_.setupStarted = FileClockNow();
    RunAndWait(SetupCommandLine({packagePath(), state.QuietSwitch, state.InstanceName, state.InstallDir, state.SaPassword}),
               PumpEvents);
    installEvidence_.setupExitCode = LastExitCode();
    // Setup was started from the verified package and has ended: the
    // package and the directory's levels may go now.
    package_.reset();
    installDirHolds_.clear();

    Step4_Name.color = kStepDone;
    About1.text = "数据库安装结束";
    CheckSuccess();
}
