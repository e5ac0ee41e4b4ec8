#include "platform/runner.h"

#include "platform/handles_win32.h"
#include "platform/paths_win32.h"
#include "platform/pump_wait_win32.h"
#include "platform/strings.h"
#include "platform/text_win32.h"
#include "platform/wow64.h"

#include <string>

namespace {

// The window's handlers run from inside the wait; none of them may start a
// second wait, and one that tries gets nothing started.
bool gWaiting = false;
// The exit code of the program last waited for (none when nothing started).
std::optional<int32_t> gLastExitCode;

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

// A name Windows would start through the command interpreter, also when it
// ends in dots or blanks, which the file system drops.
bool IsBatchName(std::wstring program)
{
    while (!program.empty() && (program.back() == L'.' || IsBlank(program.back()))) program.pop_back();
    return EndsWithNoCase(program, L".bat") || EndsWithNoCase(program, L".cmd");
}

std::wstring CommandInterpreterPath()
{
    const std::wstring system = SystemFolder();
    return system.empty() ? std::wstring() : JoinPath(system, L"cmd.exe");
}

bool IsFullPath(const std::wstring& path)
{
    const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') ||
                                            (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    return drive || path.rfind(L"\\\\", 0) == 0;
}

// How a command line is started.
struct StartPlan {
    std::wstring application;  // empty: taken from the command line
    std::wstring commandLine;  // empty: nothing to start
};

StartPlan PlanProgram(const std::wstring& commandLine)
{
    const std::wstring program = ProgramPart(commandLine);
    // CreateProcessW itself would hand a batch file to the command
    // interpreter, which parses the rest of the line by its own rules.
    if (program.empty() || IsBatchName(program)) return {};
    // A full path is also handed over as the program to start, so that the
    // system runs that very file: left to find it from the command line, it
    // would add ".exe" to a name without it (another file than the one the
    // caller checked) and try an unquoted path with blanks piece by piece
    // ("C:\Program.exe" first).
    return {IsFullPath(program) ? program : std::wstring(), commandLine};
}

StartPlan PlanBatch(const std::wstring& batchFile)
{
    if (!IsFullPath(batchFile) || batchFile.find(L'"') != std::wstring::npos) return {};
    const std::wstring interpreter = CommandInterpreterPath();
    // Without the system folder's cmd.exe nothing is started: a bare
    // "cmd.exe" would be looked for in the current folder first.
    if (interpreter.empty()) return {};
    // cmd.exe /c takes away the first and the last double quote of the text
    // after it (it keeps them only when that text is one quoted name of an
    // existing program, which a name wrapped in one more pair never is), so
    // the extra pair leaves the quoted path, blanks and all, as it was.
    return {interpreter, L"cmd.exe /d /c \"\"" + batchFile + L"\"\""};
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

// Starts the plan, with the WOW64 redirection switched off for the creation
// alone when asked, then waits for its end.
void StartAndWait(const StartPlan& plan, bool redirectionOff, EventPump pump)
{
    if (gWaiting) return;
    WaitingFlag waiting;
    gLastExitCode.reset();
    UniqueHandle process;
    if (redirectionOff) {
        FsRedirectionOff off;
        process = StartHidden(plan);
    } else {
        process = StartHidden(plan);
    }
    if (!process) {
        pump();
        return;
    }
    // The end is the handle becoming signalled: an exit code of 259
    // (STILL_ACTIVE) is never mistaken for a running process.
    DWORD code = 0;
    if (WaitPumpingEvents(process.get(), pump) && ::GetExitCodeProcess(process.get(), &code))
        gLastExitCode = static_cast<int32_t>(code);
}

}  // namespace

void RunAndWait(const std::string& commandLine, EventPump pump) noexcept
{
    try {
        StartAndWait(PlanProgram(Utf8ToWide(commandLine)), false, pump);
    } catch (...) {
        // Out of memory while building the command line: nothing was started.
    }
}

void RunBatchAndWait(const std::string& batchFile, EventPump pump) noexcept
{
    try {
        // The 64-bit interpreter on 64-bit Windows, so that the DISM it runs
        // services the 64-bit system.
        StartAndWait(PlanBatch(Utf8ToWide(batchFile)), true, pump);
    } catch (...) {
        // Out of memory while building the command line: nothing was started.
    }
}

std::optional<int32_t> LastExitCode() noexcept { return gLastExitCode; }
