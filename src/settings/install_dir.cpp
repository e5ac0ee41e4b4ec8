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
