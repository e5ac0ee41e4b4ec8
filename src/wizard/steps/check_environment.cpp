// Step 1: the machine's gates, then the program's own folder, before the
// operator is asked anything; the first refusal ends the program.
#include "envcheck/gates.h"
#include "envcheck/program_folder.h"
#include "platform/fs.h"
#include "platform/program_dir.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

namespace {
constexpr char kUnsafeFolder[] =
    "非常抱歉，程序所在的文件夹不安全，其他用户可以改动它或其中的程序。"
    "请把压缩包解压到C:\\Program Files下的文件夹（例如C:\\Program Files\\Stackhold）后再运行。";
}  // namespace

void Main::CheckEnvironMental()
{
    Step1_Img.picture = Image_OK.picture;
    About1.text = "正在检测环境";
    state.CurrentStep = 1;
    RefreshWindow();

    const std::string refusal = FirstRefusedGate(state.ProgramDir, state.InstanceName);
    if (!refusal.empty()) failAndEnd(refusal);
    // The program runs as administrator and runs what lies beside it: the
    // folder is held first, so the folder judged stays the folder used.
    programFolder_ = HoldFolder(state.ProgramDir);
    if (!programFolder_ || !CheckProgramFolder(state.ProgramDir, ProgramFileName()).Safe())
        failAndEnd(kUnsafeFolder);

    Step1_Name.color = kStepDone;
    About1.text = "安装环境符合";
    DispalyStep2();
}
