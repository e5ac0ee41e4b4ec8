// The one rule for Windows' reserved device names, compiled by the installer
// (platform/names.cpp, which refuses such a package name) and by the download
// tool (tools/wget/address.cpp, which prefixes "_" to a name it is given):
// with one rule, every name the installer accepts is the very name the tool
// writes, and "con .exe" is a device to both.
#pragma once

#include <string_view>

// True when Windows takes the name for a device: its stem (the text before
// the first "."), without trailing blanks, which Windows drops there, is
// CON, PRN, AUX, NUL, COM1-9 or LPT1-9 (also with the superscript digits
// 1, 2, 3 Windows counts), in any letter case, whatever the extension.
// "con.txt" and "con .exe" open the console; "console" and "com10" are files.
bool IsDeviceName(std::string_view name);
