#include "download/kill.h"

#include "platform/handles_win32.h"
#include "platform/text_win32.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

// How long, in all, to wait for stopped processes to be gone: a stopped
// download tool must have let go of the partial package before the caller
// deletes it, but a process that will not end must not hold up the caller.
constexpr DWORD kEndWaitMilliseconds = 5000;

bool SameNameNoCase(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// Opens a process to stop it, with the right to wait for its end where the
// system grants that too.
UniqueHandle OpenForStop(DWORD processId)
{
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
    if (!h) h = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    return UniqueHandle{h};
}

std::vector<UniqueHandle> StopMatching(const std::wstring& name)
{
    std::vector<UniqueHandle> stopped;
    UniqueFile snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    if (!snapshot) return stopped;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (entry.th32ProcessID == self || !SameNameNoCase(name, entry.szExeFile)) continue;
        UniqueHandle process = OpenForStop(entry.th32ProcessID);
        if (process && TerminateProcess(process.get(), 0)) stopped.push_back(std::move(process));
    }
    return stopped;
}

void WaitForEnds(const std::vector<UniqueHandle>& processes)
{
    const ULONGLONG deadline = GetTickCount64() + kEndWaitMilliseconds;
    for (const UniqueHandle& process : processes) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        // A handle without the right to wait fails at once: nothing to wait on.
        WaitForSingleObject(process.get(), static_cast<DWORD>(deadline - now));
    }
}

}  // namespace

void KillProcessByName(const std::string& name) noexcept
{
    try {
        const std::wstring wanted = Utf8ToWide(name);
        if (wanted.empty()) return;
        WaitForEnds(StopMatching(wanted));
    } catch (...) {
        // Out of memory: whatever was stopped stays stopped.
    }
}
