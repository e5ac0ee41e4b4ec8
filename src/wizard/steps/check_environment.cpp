// Step 1: the five gates a machine must pass, in this order, before the
// operator is asked anything.
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

    Step1_Name.color = kStepDone;
    About1.text = "安装环境符合";
    DispalyStep2();
}
