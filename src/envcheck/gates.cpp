#include "envcheck/gates.h"

#include "envcheck/tcp.h"
#include "envcheck/version.h"
#include "platform/fs.h"
#include "platform/service.h"
#include "platform/strings.h"

namespace {
constexpr int kMinimumVersion = 61;  // Windows 7 / Server 2008 R2
constexpr int kSqlServerPort = 1433;
}  // namespace

std::string FirstRefusedGate(const std::string& programDir, const std::string& instanceName)
{
    const int version = VersionNumber(GetWindowsVersion());
    if (version < kMinimumVersion)
        return "非常抱歉，只有Windows Server 2008 R2及以上系统才能使用[" + std::to_string(version) + "]。";
    if (IsPortInUse(kSqlServerPort)) return "非常抱歉，1433端口已被使用。";
    if (ServiceExists(instanceName)) return "非常抱歉，" + instanceName + "服务已经存在。";
    if (GetDriveFreeSpace("C:") < kMinimumFreeMiB) return "非常抱歉，C盘剩余空间必须大于5G。";
    if (!FileExists(JoinPathCollapsed(programDir, "wget.exe"))) return "Wget.exe不存在，请重新下载系统。";
    return {};
}
