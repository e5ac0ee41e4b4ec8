// Text conversion at the Windows API boundary: the core speaks UTF-8, every
// W function UTF-16, and the files and HTTP bodies that are ANSI text (the
// notes file, fx35.bat, the service's answer) use the system ANSI code page.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
// UTF-8 to the system ANSI code page (CP_ACP); unmappable characters become '?'.
std::string Utf8ToAnsi(std::string_view text);
// System ANSI code page bytes to UTF-8.
std::string AnsiToUtf8(std::string_view bytes);
// True when every character of text has a place in the ANSI code page.
bool FitsAnsiCodePage(std::string_view text);
