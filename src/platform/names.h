#pragma once

#include <string_view>

// True when name can be one file or folder name on Windows and means what
// it says: not empty, not "." or "..", no character Windows forbids in names
// (< > : " / \ | ? * and control characters), not a reserved device name
// (IsDeviceName: CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension
// or blanks before it, the download tool's rule), and not
// ending in a blank or a dot, which Windows would silently drop.
bool IsValidWindowsName(std::string_view name);

// Number of characters (code points) of a UTF-8 text.
std::size_t CountCharacters(std::string_view text);
