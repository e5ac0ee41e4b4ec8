#include "setup/runner.h"

#include "platform/handles_win32.h"
#include "platform/paths_win32.h"
#include "platform/pump_wait_win32.h"
#include "platform/text_win32.h"
#include "wizard/ui.h"

#include <string>

namespace {

// The window's handlers run from inside the wait; none of them may start a
// second wait, and one that tries gets nothing started.
bool gWaiting = false;

class WaitingFlag {
public:
    WaitingFlag() noexcept { gWaiting = true; }
    ~WaitingFlag() { gWaiting = false; }
    WaitingFlag(const WaitingFlag&) = delete;
    WaitingFlag& operator=(const WaitingFlag&) = delete;
};

bool IsBlank(wchar_t c) noexcept { return c == L' ' || c == L'\t'; }

std::wstring TrimmedLeft(const std::wstring& text)
{
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    return text.substr(start);
}

std::wstring TrimmedRight(const std::wstring& text)
{
    std::size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) --end;
    return text.substr(0, end);
}

// The program part of a command line: the first token in double quotes, or
// the text up to the first blank.
std::wstring ProgramPart(const std::wstring& commandLine)
{
    const std::wstring line = TrimmedLeft(commandLine);
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        return line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    std::size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    return line.substr(0, end);
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* suffix)
{
    const std::size_t n = std::char_traits<wchar_t>::length(suffix);
    if (text.size() < n) return false;
    return CompareStringOrdinal(text.c_str() + (text.size() - n), static_cast<int>(n), suffix,
                                static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

bool IsBatchName(const std::wstring& program)
{
    return EndsWithNoCase(program, L".bat") || EndsWithNoCase(program, L".cmd");
}

std::wstring CommandInterpreterPath()
{
    const std::wstring system = SystemFolder();
    return system.empty() ? std::wstring() : system + L"\\cmd.exe";
}

bool IsFullPath(const std::wstring& path)
{
    const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                            (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    return drive || path.rfind(L"\\\\", 0) == 0;
}

// How a command line is started: a batch file runs through the command
// interpreter, anything else directly.
struct StartPlan {
    std::wstring application;  // empty: taken from the command line
    std::wstring commandLine;
};

StartPlan PlanStart(const std::wstring& commandLine)
{
    std::wstring line = commandLine;
    bool batch = IsBatchName(ProgramPart(line));
    if (!batch) {
        // A batch file path with blanks given without quotes (a program
        // folder under "Program Files", say) names the whole line: quote it,
        // or the interpreter would cut it at the first blank.
        const std::wstring whole = TrimmedRight(TrimmedLeft(line));
        if (whole.find(L'"') == std::wstring::npos && IsBatchName(whole) && IsExistingFile(whole)) {
            line = L"\"" + whole + L"\"";
            batch = true;
        }
    }
    if (!batch) {
        // A full path is also handed over as the program to start, so that
        // the system runs that very file: left to find it from the command
        // line, it would add ".exe" to a name without it (another file than
        // the one the caller checked) and try an unquoted path with blanks
        // piece by piece ("C:\Program.exe" first).
        const std::wstring program = ProgramPart(line);
        return {IsFullPath(program) ? program : std::wstring(), line};
    }
    const std::wstring interpreter = CommandInterpreterPath();
    // Without the system folder's cmd.exe nothing is started: a bare
    // "cmd.exe" would be looked for in the current folder first.
    if (interpreter.empty()) return {};
    // cmd.exe /c takes away the first and the last double quote of the text
    // after it (it keeps them only when that text is one quoted name of an
    // existing program, which a line wrapped in one more pair never is), so
    // the extra pair leaves the line itself, quotes and all, as it was.
    return {interpreter, L"cmd.exe /d /c \"" + line + L"\""};
}

UniqueHandle StartHidden(const StartPlan& plan)
{
    if (plan.commandLine.empty()) return UniqueHandle{};
    // CreateProcessW may write into the command line: give it its own copy.
    std::wstring writable = plan.commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    const wchar_t* application = plan.application.empty() ? nullptr : plan.application.c_str();
    if (!CreateProcessW(application, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return UniqueHandle{};
    CloseHandle(info.hThread);
    return UniqueHandle{info.hProcess};
}

}  // namespace

void RunAndWait(const std::string& commandLine) noexcept
{
    if (gWaiting) return;
    try {
        WaitingFlag waiting;
        const UniqueHandle process = StartHidden(PlanStart(Utf8ToWide(commandLine)));
        if (!process) {
            PumpEvents();
            return;
        }
        // The end is the handle becoming signalled: an exit code of 259
        // (STILL_ACTIVE) is never mistaken for a running process.
        WaitPumpingEvents(process.get());
    } catch (...) {
        // Out of memory while building the command line: nothing was started.
    }
}
