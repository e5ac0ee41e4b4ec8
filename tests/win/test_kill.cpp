// The process killer under Wine: every process of the name (any letter case)
// started from the given folder is stopped and has really ended on return;
// other names, and the same name from other folders, live on.
// Runs in a Wine prefix of its own, so no other test's wget.exe is touched.
#include <doctest/doctest.h>

#include "download/kill.h"
#include "win_test_util.h"

#include <tlhelp32.h>

#include <vector>

using namespace wintest;

namespace {

// Processes the test started; whatever is still running at the end is stopped.
class Children {
public:
    ~Children()
    {
        for (HANDLE h : handles_) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    }
    HANDLE Start(const std::string& program, const std::string& args)
    {
        std::wstring line = Utf8ToWide(Quoted(program) + " " + args);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(Utf8ToWide(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                            nullptr, nullptr, &si, &pi))
            return nullptr;
        CloseHandle(pi.hThread);
        handles_.push_back(pi.hProcess);
        return pi.hProcess;
    }

private:
    std::vector<HANDLE> handles_;
};

int CountProcesses(const wchar_t* exeName)
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, exeName) == 0) ++count;
    CloseHandle(snapshot);
    return count;
}

// A new process shows in the list once it runs; wait for that, bounded.
bool WaitUntilListed(const wchar_t* exeName, int count)
{
    for (int i = 0; i < 200; ++i) {
        if (CountProcesses(exeName) >= count) return true;
        Sleep(50);
    }
    return false;
}

bool WaitUntilExists(const std::string& path)
{
    for (int i = 0; i < 200; ++i) {
        if (IsFile(path)) return true;
        Sleep(50);
    }
    return false;
}

// The same folder through Wine's drive Z:, which leads to the Unix root:
// another drive letter for the very same files, as a substituted or mapped
// drive is on Windows. Empty outside Wine.
std::string ThroughDriveZ(const std::string& folder)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    char* unix = unixName(Utf8ToWide(folder).c_str());
    if (!unix) return {};
    std::string path = std::string("Z:") + unix;
    HeapFree(GetProcessHeap(), 0, unix);
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

bool HasEnded(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }

DWORD ExitCode(HANDLE process)
{
    DWORD code = 12345;
    GetExitCodeProcess(process, &code);
    return code;
}

bool CopyAs(const std::string& to)
{
    return CopyFileW(Utf8ToWide(FixturePath("childprog.exe")).c_str(), Utf8ToWide(to).c_str(), FALSE);
}

}  // namespace

TEST_CASE("KillProcessByName stops every WGET.EXE of our folder, however spelled, and nothing else")
{
    Scratch dir;
    REQUIRE(dir.ok());
    // A long folder name, so that its 8.3 short name is another spelling.
    const std::string ours = dir / "Program Folder Of Ours";
    const std::string elsewhere = dir / "elsewhere";
    const std::string inside = ours + "\\sub";
    for (const std::string& folder : {ours, elsewhere, inside})
        REQUIRE(CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    const std::string tool = ours + "\\WGET.EXE";
    REQUIRE(CopyAs(tool));
    REQUIRE(CopyAs(ours + "\\wget2.exe"));
    REQUIRE(CopyAs(elsewhere + "\\wget.exe"));
    REQUIRE(CopyAs(inside + "\\wget.exe"));

    // Someone else's download tools: the same name, other folders (one of
    // them inside ours), and a neighbour of ours with another name. They run
    // through every round and must survive all of them.
    Children strangers;
    const std::vector<HANDLE> survivors = {
        strangers.Start(elsewhere + "\\wget.exe", "--sleep 60000"),
        strangers.Start(inside + "\\wget.exe", "--sleep 60000"),
        strangers.Start(ours + "\\wget2.exe", "--sleep 60000"),
    };
    for (HANDLE h : survivors) REQUIRE(h);
    REQUIRE(WaitUntilListed(L"wget.exe", 2));
    REQUIRE(WaitUntilListed(L"wget2.exe", 1));

    std::wstring shortWide(MAX_PATH, L'\0');
    const DWORD shortLength =
        GetShortPathNameW(Utf8ToWide(ours).c_str(), shortWide.data(), MAX_PATH);
    REQUIRE(shortLength > 0);
    REQUIRE(shortLength < MAX_PATH);
    shortWide.resize(shortLength);
    const std::string shortName = WideToUtf8(shortWide);
    REQUIRE(shortName != ours);
    std::string upper = ours;
    CharUpperBuffA(upper.data(), static_cast<DWORD>(upper.size()));
    std::string slashes = ours;
    for (char& c : slashes)
        if (c == '\\') c = '/';

    const std::string viaZ = ThroughDriveZ(ours);
    REQUIRE(!viaZ.empty());
    REQUIRE(IsFile(viaZ + "\\WGET.EXE"));

    struct Spelling {
        const char* what;
        std::string folder;
    };
    const Spelling spellings[] = {
        {"as GetModuleFileName gives it", ours},
        {"upper case, with a trailing backslash", upper + "\\"},
        {"its 8.3 short name", shortName},
        {"forward slashes", slashes},
        {"through sub\\..", inside + "\\.."},
        {"another drive letter for the same files", viaZ},
    };
    int round = 0;
    for (const Spelling& s : spellings) {
        CAPTURE(s.what);
        CAPTURE(s.folder);
        // Each copy keeps a file locked, as the download tool keeps its package.
        const std::string part1 = dir / ("one" + std::to_string(round) + ".part");
        const std::string part2 = dir / ("two" + std::to_string(round) + ".part");
        ++round;
        Children children;
        HANDLE first = children.Start(tool, "--hold " + Quoted(part1) + " --sleep 60000");
        HANDLE second = children.Start(tool, "--hold " + Quoted(part2) + " --sleep 60000");
        REQUIRE(first);
        REQUIRE(second);
        REQUIRE(WaitUntilListed(L"WGET.EXE", 4));
        REQUIRE(WaitUntilExists(part1));
        REQUIRE(WaitUntilExists(part2));

        Stopwatch clock;
        KillProcessByName("wget.exe", s.folder);
        CHECK(clock.Seconds() < 6.0);

        // Ended, with exit code 0, and their files are free to delete right away.
        CHECK(HasEnded(first));
        CHECK(HasEnded(second));
        CHECK(ExitCode(first) == 0);
        CHECK(ExitCode(second) == 0);
        CHECK(DeleteFileW(Utf8ToWide(part1).c_str()));
        CHECK(DeleteFileW(Utf8ToWide(part2).c_str()));
        for (HANDLE h : survivors) CHECK_FALSE(HasEnded(h));
    }
    CHECK(CountProcesses(L"WGET.EXE") == 2);
    CHECK(CountProcesses(L"wget2.exe") == 1);
}

TEST_CASE("KillProcessByName with no process of the name in the folder stops nothing")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string program = dir / "survivor.exe";
    REQUIRE(CopyAs(program));
    Children children;
    HANDLE process = children.Start(program, "--sleep 60000");
    REQUIRE(process);
    REQUIRE(WaitUntilListed(L"survivor.exe", 1));
    const std::string here = dir / std::string();

    // Neither a missing name, a part of the name nor an empty name matches;
    // nor does the right name in another folder, a folder only beginning
    // like ours, or no folder at all.
    struct Case {
        std::string name, folder;
    };
    const Case cases[] = {
        {"wget.exe", here},        {"survivor", here},
        {"urvivor.exe", here},     {"survivor.exe.", here},
        {"", here},                {"survivor.exe", dir / "other"},
        {"survivor.exe", here + "x"}, {"survivor.exe", ""},
        {"survivor.exe", "C:\\"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CAPTURE(c.folder);
        Stopwatch clock;
        KillProcessByName(c.name, c.folder);
        CHECK(clock.Seconds() < 1.0);
        CHECK_FALSE(HasEnded(process));
    }
}
