#include "console.h"

#include <windows.h>

#include <string>

#include "platform/text_win32.h"

namespace wget {
namespace {

bool gQuiet = false;

bool IsConsole(HANDLE h)
{
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode);
}

void WriteTo(DWORD which, std::string_view text)
{
    const HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty()) return;
    if (IsConsole(h)) {
        const std::wstring wide = Utf8ToWide(text);
        DWORD written = 0;
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

void SetQuiet(bool quiet) { gQuiet = quiet; }

void Say(std::string_view text)
{
    if (!gQuiet) WriteTo(STD_ERROR_HANDLE, text);
}

bool OnConsole() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

int ConsoleColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

void SayProgress(std::string_view line)
{
    if (gQuiet) return;
    std::string text = "\r";
    text.append(line);
    WriteTo(STD_ERROR_HANDLE, text);
}

void SayOut(std::string_view text) { WriteTo(STD_OUTPUT_HANDLE, text); }

}  // namespace wget
