// Step 1: the gates a machine must pass, in this order, before the
// operator is asked anything.
#include "envcheck/program_folder.h"
#include "envcheck/tcp.h"
#include "envcheck/version.h"
#include "platform/fs.h"
#include "platform/service.h"
#include "platform/strings.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

namespace {
constexpr int kMinimumVersion = 61;  // Windows 7 / Server 2008 R2
constexpr int kSqlServerPort = 1433;
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

    const int version = VersionNumber(GetWindowsVersion());
    if (version < kMinimumVersion)
        failAndEnd("非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[" + std::to_string(version) + "]。");
    if (IsPortInUse(kSqlServerPort)) failAndEnd("非常抱歉，1433端口已被使用。");
    if (ServiceExists(state.InstanceName)) failAndEnd("非常抱歉，" + state.InstanceName + "服务已经存在。");
    if (GetDriveFreeSpace("C:") < kMinimumFreeMiB) failAndEnd("非常抱歉，C盘剩余空间必须大于5G。");
    if (!FileExists(JoinPathCollapsed(state.ProgramDir, "wget.exe")))
        failAndEnd("Wget.exe不存在，请重新下载系统。");
    // The program runs as administrator and runs what lies beside it: the
    // folder is held first, so the folder judged stays the folder used.
    programFolder_ = HoldFolder(state.ProgramDir);
    if (!programFolder_ || !CheckProgramFolder(state.ProgramDir, ProgramFileName()).Safe())
        failAndEnd(kUnsafeFolder);

    Step1_Name.color = kStepDone;
    About1.text = "安装环境符合";
    DispalyStep2();
}
