// The process killer under Wine: every process of the name, in any letter
// case, is stopped and has really ended on return; other names live on.
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

TEST_CASE("KillProcessByName stops every WGET.EXE, not wget2.exe, and they have ended on return")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string tool = dir / "WGET.EXE";
    const std::string other = dir / "wget2.exe";
    REQUIRE(CopyAs(tool));
    REQUIRE(CopyAs(other));
    // Each copy keeps a file locked, as the download tool keeps its package.
    const std::string part1 = dir / "one.part";
    const std::string part2 = dir / "two.part";

    Children children;
    HANDLE first = children.Start(tool, "--hold " + Quoted(part1) + " --sleep 60000");
    HANDLE second = children.Start(tool, "--hold " + Quoted(part2) + " --sleep 60000");
    HANDLE survivor = children.Start(other, "--sleep 60000");
    REQUIRE(first);
    REQUIRE(second);
    REQUIRE(survivor);
    REQUIRE(WaitUntilListed(L"WGET.EXE", 2));
    REQUIRE(WaitUntilListed(L"wget2.exe", 1));
    REQUIRE(WaitUntilExists(part1));
    REQUIRE(WaitUntilExists(part2));

    Stopwatch clock;
    KillProcessByName("wget.exe");
    CHECK(clock.Seconds() < 6.0);

    // Ended, with exit code 0, and their files are free to delete right away.
    CHECK(HasEnded(first));
    CHECK(HasEnded(second));
    CHECK(ExitCode(first) == 0);
    CHECK(ExitCode(second) == 0);
    CHECK(DeleteFileW(Utf8ToWide(part1).c_str()));
    CHECK(DeleteFileW(Utf8ToWide(part2).c_str()));
    CHECK(CountProcesses(L"WGET.EXE") == 0);

    CHECK_FALSE(HasEnded(survivor));
    CHECK(CountProcesses(L"wget2.exe") == 1);
}

TEST_CASE("KillProcessByName with no process of the name stops nothing")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string program = dir / "survivor.exe";
    REQUIRE(CopyAs(program));
    Children children;
    HANDLE process = children.Start(program, "--sleep 60000");
    REQUIRE(process);
    REQUIRE(WaitUntilListed(L"survivor.exe", 1));

    // Neither a missing name, a part of the name nor an empty name matches.
    for (const char* name : {"wget.exe", "survivor", "urvivor.exe", "survivor.exe.", ""}) {
        const std::string nameText = name;
        CAPTURE(nameText);
        Stopwatch clock;
        KillProcessByName(name);
        CHECK(clock.Seconds() < 1.0);
        CHECK_FALSE(HasEnded(process));
    }
}
