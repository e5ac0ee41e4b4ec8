#pragma once

#include <string>
#include <vector>

#include "platform/fs.h"

// The page's refusal of a directory it cannot use at all.
inline constexpr char kDirectoryRefused[] = "安装目录错误，请重新选择。";

// Forward slashes to backslashes, runs of backslashes to one, one trailing
// backslash removed ("D:/Data//SQL Server/" gives "D:\Data\SQL Server").
std::string NormaliseInstallDir(const std::string& boxText);

// The levels of a normalised directory ("D:\Data" gives "D:", "Data").
std::vector<std::string> DirectoryLevels(const std::string& installDir);

// True when a level can be created as asked: the first must be a drive
// letter and its colon, every other a valid Windows folder name.
bool IsUsableLevel(const std::string& level, bool isDrive);

// True when the directory stays within Windows' 260-character path limit.
bool FitsPathLimit(const std::string& installDir);

// The drive text before the first colon ("d" for "d:\x").
std::string DriveTextOf(const std::string& installDir);

// The folder setup makes for the instance's files inside the data
// directory: "MSSQL11.MSSQLSERVER" for the 2012 editions, "MSSQL10_50." and
// the instance for 2008 R2. Empty for any other version text.
std::string InstanceFolderName(const std::string& version, const std::string& instanceName);

// The levels of the installation directory, as the settings page makes and
// holds them from the submission until setup has ended.
struct DirectoryClaim {
    std::vector<HeldFile> holds;  // the levels below the drive root, from the top down
    FolderFault fault = FolderFault::None;
    std::string level;  // the path of the level refused
    explicit operator bool() const { return fault == FolderFault::None; }
};

// Makes the normalised directory ours, level by level from the drive down:
// the drive root must exist and is never changed; each level below it must
// have a usable name and is then had through HoldTrustedFolder, the last
// one (the directory handed to setup) made ours with the protected DACL.
// A bare drive ("D:") hands setup its root, which stays as it is: there the
// folder setup would create for the instance's files (instanceFolder) is
// the level made ours instead, so that nobody can make it first. The first
// level refused ends the walk; those before it stay on disk, let go of.
DirectoryClaim ClaimInstallDir(const std::string& installDir, const std::string& instanceFolder);

// The page's one sentence for a refused claim: the directory message for a
// level that could not be made, otherwise which level and why.
std::string DirectoryRefusalText(const DirectoryClaim& claim);
