// Where the notes file goes, the date line it ends with, and Notepad.
#include "setup/notes.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/handles_win32.h"
#include "platform/paths_win32.h"
#include "platform/strings.h"
#include "platform/text_win32.h"

namespace {

// The longest path the shell can hand back (extended-length form).
constexpr DWORD kLongPathChars = 32768;

// Notepad by its full path in the system folder rather than found on the
// search path, whose first entry is the program's own folder (often a
// Downloads folder). A 32-bit installer on 64-bit Windows takes the native
// Notepad through Sysnative: the same program, and Wine's 32-bit Notepad in
// its WoW64 mode crashes opening a file.
std::wstring NotepadPath()
{
    BOOL wow64 = FALSE;
    if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
        const std::wstring windowsDir = WindowsFolder();
        const std::wstring native = JoinPath(windowsDir, L"Sysnative\\notepad.exe");
        if (!windowsDir.empty() && IsExistingFile(native)) return native;
    }
    const std::wstring systemDir = SystemFolder();
    return systemDir.empty() ? std::wstring() : JoinPath(systemDir, L"notepad.exe");
}

// What a GetDateFormatW / GetTimeFormatW call gives: asked once for the
// size, once for the text; empty when either fails.
template <typename Format>
std::wstring FormattedText(Format format)
{
    int n = format(nullptr, 0);
    if (n <= 0) return {};
    std::wstring text(static_cast<size_t>(n), L'\0');
    n = format(text.data(), n);
    if (n <= 0) return {};
    text.resize(static_cast<size_t>(n - 1));
    return text;
}

// The user's short date format.
std::wstring DateText(const SYSTEMTIME& now)
{
    return FormattedText([&now](LPWSTR out, int size) {
        return ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, out, size);
    });
}

// Flags 0: the user's long time format.
std::wstring TimeText(const SYSTEMTIME& now)
{
    return FormattedText([&now](LPWSTR out, int size) {
        return ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, out, size);
    });
}

}  // namespace

std::string GetDesktopFolder() noexcept
{
    try {
        UniqueCoTaskMem<ITEMIDLIST> pidl;
        if (::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, pidl.put()) != S_OK || !pidl)
            return {};
        std::vector<wchar_t> buffer(kLongPathChars, L'\0');
        if (!::SHGetPathFromIDListEx(pidl.get(), buffer.data(), kLongPathChars, GPFIDL_DEFAULT))
            return {};
        std::wstring path(buffer.data());
        while (!path.empty() && path.back() == L'\\') path.pop_back();
        return WideToUtf8(path);
    } catch (...) {
        return {};
    }
}

std::string LocalDateTimeText() noexcept
{
    try {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        std::wstring date = DateText(now);
        std::wstring time = TimeText(now);
        if (date.empty() || time.empty()) return {};
        return WideToUtf8(date + L" " + time);
    } catch (...) {
        return {};
    }
}

void OpenInstallationNotes(const std::string& path) noexcept
{
    try {
        const std::wstring program = NotepadPath();
        if (program.empty()) return;
        std::wstring commandLine = L"\"" + program + L"\" \"" + Utf8ToWide(path) + L"\"";

        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINIMIZED;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &info))
            return;
        UniqueHandle process(info.hProcess);
        UniqueHandle thread(info.hThread);
    } catch (...) {
    }
}
