#pragma once

#include <string>
#include <vector>

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
