#pragma once

#include <string>
#include <vector>

// Forward slashes to backslashes, runs of backslashes to one, one trailing
// backslash removed ("D:/Data//SQL Server/" gives "D:\Data\SQL Server").
std::string NormaliseInstallDir(const std::string& boxText);

// The folders to ensure in order, each with its closing backslash
// ("D:\Data" gives "D:\", "D:\Data\").
std::vector<std::string> FoldersToEnsure(const std::string& installDir);

// The drive text before the first colon ("d" for "d:\x").
std::string DriveTextOf(const std::string& installDir);

// False for a normalised directory that Windows or the setup command line
// cannot use although it holds a colon: not a drive letter, a network path,
// forbidden characters, reserved device names, too long.
bool IsUsableInstallDir(const std::string& installDir);
