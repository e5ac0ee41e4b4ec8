#include "download/kill.h"

#include "platform/handles_win32.h"
#include "platform/strings.h"
#include "platform/text_win32.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

namespace {

// How long, in all, to wait for stopped processes to be gone: a stopped
// download tool must have let go of the partial package before the caller
// deletes it, but a process that will not end must not hold up the caller.
constexpr DWORD kEndWaitMilliseconds = 5000;

bool SameTextNoCase(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Asks one of the path functions that take (input, buffer, size) and answer
// the length needed; empty when it fails.
template <typename Ask>
std::wstring AskPath(Ask ask)
{
    std::wstring out(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        const DWORD length = ask(out.data(), static_cast<DWORD>(out.size()));
        if (length == 0) return {};
        if (length < out.size()) {
            out.resize(length);
            return out;
        }
        out.resize(length);
    }
    return {};
}

// One spelling for one file: absolute, "." and ".." resolved, forward
// slashes turned round, repeated separators dropped, 8.3 short names
// expanded where the file exists, and no "\\?\" prefix. Letter case is
// left to the comparison.
std::wstring NormalPath(const std::wstring& path)
{
    std::wstring plain = path;
    if (plain.rfind(L"\\\\?\\UNC\\", 0) == 0)
        plain = L"\\\\" + plain.substr(8);
    else if (plain.rfind(L"\\\\?\\", 0) == 0)
        plain = plain.substr(4);
    std::wstring full = AskPath([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(plain.c_str(), size, buffer, nullptr);
    });
    if (full.empty()) return plain;
    std::wstring longPath = AskPath([&](wchar_t* buffer, DWORD size) {
        return GetLongPathNameW(full.c_str(), buffer, size);
    });
    return longPath.empty() ? full : longPath;
}

// The file the process was started from, as a Win32 path; empty when the
// system will not say.
std::wstring ImagePath(HANDLE process)
{
    std::wstring path(32768, L'\0');  // no Windows path is longer
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process, 0, path.data(), &size)) return {};
    path.resize(size);
    return path;
}

// Which file a path leads to, whatever the spelling: the volume and the
// file's index on it. Reaches through what path text cannot see: a
// substituted or mapped drive letter, a junction in the folder's path.
struct FileIdentity {
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool known = false;
    bool operator==(const FileIdentity& o) const
    {
        return known && o.known && volume == o.volume && indexHigh == o.indexHigh &&
               indexLow == o.indexLow;
    }
};

FileIdentity IdentityOf(const std::wstring& path)
{
    // No access asked: reading the attributes of a running program's file
    // conflicts with no sharing mode.
    const UniqueFile file{CreateFileW(path.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return {};
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, true};
}

// Our own tool: the same path once both are normalised, or else the very
// same file reached by another way.
bool IsOurImage(const std::wstring& imagePath, const std::wstring& ours, const FileIdentity& oursId)
{
    if (SameTextNoCase(NormalPath(imagePath), ours)) return true;
    return oursId.known && IdentityOf(imagePath) == oursId;
}

// Opens a process to read its image path and stop it, with the right to
// wait for its end where the system grants that too.
UniqueHandle OpenForStop(DWORD processId)
{
    constexpr DWORD kRights = PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION;
    HANDLE h = OpenProcess(kRights | SYNCHRONIZE, FALSE, processId);
    if (!h) h = OpenProcess(kRights, FALSE, processId);
    return UniqueHandle{h};
}

// The snapshot's bare exe names only pick the candidates; what decides is
// the image path read through the open handle, which also pins the process,
// so an id reused in between cannot make us stop a stranger.
std::vector<UniqueHandle> StopMatching(const std::wstring& name, const std::wstring& image)
{
    const FileIdentity imageId = IdentityOf(image);
    std::vector<UniqueHandle> stopped;
    UniqueFile snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    if (!snapshot) return stopped;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (entry.th32ProcessID == self || !SameTextNoCase(name, entry.szExeFile)) continue;
        UniqueHandle process = OpenForStop(entry.th32ProcessID);
        if (!process) continue;
        const std::wstring path = ImagePath(process.get());
        // A process whose image cannot be read may not be ours: it lives on.
        if (path.empty() || !IsOurImage(path, image, imageId)) continue;
        if (TerminateProcess(process.get(), 0)) stopped.push_back(std::move(process));
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

void KillProcessByName(const std::string& name, const std::string& folder) noexcept
{
    try {
        const std::wstring wanted = Utf8ToWide(name), wideFolder = Utf8ToWide(folder);
        if (wanted.empty() || wideFolder.empty()) return;
        WaitForEnds(StopMatching(wanted, NormalPath(JoinPath(wideFolder, wanted))));
    } catch (...) {
        // Out of memory: whatever was stopped stays stopped.
    }
}
