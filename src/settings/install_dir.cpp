#include "settings/install_dir.h"

#include "platform/names.h"
#include "platform/strings.h"

namespace {
constexpr std::size_t kMaxPath = 260;
}

std::string NormaliseInstallDir(const std::string& boxText)
{
    std::string dir = ReplaceAll(boxText, "/", "\\");
    while (Contains(dir, "\\\\")) dir = ReplaceAll(dir, "\\\\", "\\");
    if (!dir.empty() && dir.back() == '\\') dir.pop_back();
    return dir;
}

std::vector<std::string> DirectoryLevels(const std::string& installDir)
{
    return Split(installDir, '\\');
}

bool IsUsableLevel(const std::string& level, bool isDrive)
{
    if (isDrive) {
        const char c = level.size() == 2 ? level[0] : '\0';
        return level.size() == 2 && level[1] == ':' &&
               ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
    }
    return IsValidWindowsName(level);
}

bool FitsPathLimit(const std::string& installDir)
{
    // The folder itself plus its closing backslash and terminating NUL.
    return CountCharacters(installDir) + 2 <= kMaxPath;
}

std::string DriveTextOf(const std::string& installDir)
{
    return installDir.substr(0, installDir.find(':'));
}

std::string InstanceFolderName(const std::string& version, const std::string& instanceName)
{
    if (version == "2012") return "MSSQL11." + instanceName;
    if (version == "2008") return "MSSQL10_50." + instanceName;
    return {};
}

DirectoryClaim ClaimInstallDir(const std::string& installDir, const std::string& instanceFolder)
{
    DirectoryClaim claim;
    std::vector<std::string> levels = DirectoryLevels(installDir);
    const auto refuse = [&claim](FolderFault fault, const std::string& level) {
        claim.holds.clear();
        claim.fault = fault;
        claim.level = level;
        return std::move(claim);
    };
    // The drive root must be there; no call can make one, and its DACL is
    // the volume's, never ours to change.
    if (levels.empty() || !IsUsableLevel(levels[0], true) || !EnsureFolder(levels[0] + "\\"))
        return refuse(FolderFault::NotCreated, installDir);
    if (levels.size() == 1) {
        if (instanceFolder.empty()) return refuse(FolderFault::NotCreated, installDir);
        levels.push_back(instanceFolder);
    }
    // Each level is judged (or made) while the one above it is held, so the
    // path that was judged is the path that stays.
    std::string path = levels[0];
    for (std::size_t i = 1; i < levels.size(); ++i) {
        path += "\\" + levels[i];
        // A name Windows would refuse, read differently (trailing dots or
        // blanks, device names) or that setup's command line cannot carry
        // (a double quote) is refused before anything of that name is made.
        if (!IsUsableLevel(levels[i], false)) return refuse(FolderFault::NotCreated, path);
        TrustedFolder level = HoldTrustedFolder(path, i + 1 == levels.size());
        if (level.fault != FolderFault::None) return refuse(level.fault, path);
        claim.holds.push_back(std::move(level.hold));
    }
    return claim;
}

std::string DirectoryRefusalText(const DirectoryClaim& claim)
{
    const std::string level = "安装目录中的“" + claim.level + "”";
    switch (claim.fault) {
    case FolderFault::NotAFolder:
        return level + "不是文件夹，请重新选择。";
    case FolderFault::ReparsePoint:
        return level + "是链接或挂载点，不是真正的文件夹，请重新选择。";
    case FolderFault::ForeignOwner:
        return level + "不属于管理员、SYSTEM或当前账户，其他用户可能改动它，请重新选择。";
    case FolderFault::NotChecked:
        return level + "无法检查或保护（没有权限或正被其他程序使用），请重新选择。";
    case FolderFault::None:
    case FolderFault::NotCreated:
        break;
    }
    return kDirectoryRefused;
}
