// The command runner under Wine: waits for the real end of a hidden child
// while the thread's timers keep ticking, returns at once for what cannot be
// started, runs a batch file only when asked to run one (through the
// command interpreter, with the WOW64 redirection off just for its start),
// and refuses a second wait from inside the first.
#include <doctest/doctest.h>

#include "pe_machine.h"
#include "platform/runner.h"
#include "platform/system_dll_win32.h"
#include "win_test_util.h"
#include "wizard/ui.h"

using namespace wintest;

namespace {

std::string Child(const std::string& args) { return Quoted(FixturePath("childprog.exe")) + " " + args; }

}  // namespace

TEST_CASE("RunAndWait waits for the child's end while the timer ticks")
{
    Scratch dir;
    REQUIRE(dir.ok());
    TickingWindow window(100);
    REQUIRE(window.ok());
    const std::string done = dir / "done.txt";

    Stopwatch clock;
    RunAndWait(Child("--sleep 2000 --write " + Quoted(done) + " finished"), PumpEvents);
    const double seconds = clock.Seconds();

    CHECK(seconds >= 1.9);
    CHECK(seconds < 10.0);
    // The child wrote its file as its last act: the wait lasted to its end.
    CHECK(ReadBytes(done) == "finished");
    // 2 s at 100 ms a tick: the events were dispatched throughout the wait.
    CHECK(window.ticks() >= 5);
}

TEST_CASE("RunAndWait starts the child with a hidden window")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string show = dir / "show.txt";
    RunAndWait(Child("--show " + Quoted(show)), PumpEvents);
    CHECK(ReadBytes(show) == "flags=" + std::to_string(STARTF_USESHOWWINDOW) +
                                     " show=" + std::to_string(SW_HIDE));
}

TEST_CASE("RunAndWait returns at once when nothing can be started")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string cases[] = {
        Quoted(dir / "no such program.exe") + " --sleep 5000",
        dir / "missing.exe",
        "",
        Quoted(dir / "no such script.bat") + " arg",
    };
    for (const std::string& command : cases) {
        CAPTURE(command);
        Stopwatch clock;
        RunAndWait(command, PumpEvents);
        CHECK(clock.Seconds() < 1.0);
    }
}

TEST_CASE("RunAndWait ends a wait on a child whose exit code is 259")
{
    Stopwatch clock;
    RunAndWait(Child("--sleep 300 --exit 259"), PumpEvents);
    const double seconds = clock.Seconds();
    CHECK(seconds >= 0.25);
    CHECK(seconds < 5.0);
}

TEST_CASE("RunBatchAndWait runs a batch file through the command interpreter and waits for it")
{
    Scratch dir;
    REQUIRE(dir.ok());
    // A folder with a blank and the interpreter's own signs in its name, as
    // a program folder may have.
    const std::string folder = dir / "with blank & (x)";
    REQUIRE(CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    const std::string out = folder + "\\out.txt";
    // The batch's child sleeps first: the runner must wait for the batch to end.
    const std::string body = "@echo off\r\n" + Quoted(FixturePath("childprog.exe")) +
                             " --sleep 800 --write " + Quoted(out) + " ran\r\n";
    for (const char* name : {"fx35.bat", "run me.bat", "RUN ME.CMD", "upper.Bat"}) {
        CAPTURE(name);
        const std::string script = folder + "\\" + name;
        REQUIRE(WriteBytes(script, body));
        DeleteFileW(Utf8ToWide(out).c_str());
        Stopwatch clock;
        RunBatchAndWait(script, PumpEvents);
        const double seconds = clock.Seconds();
        CHECK(ReadBytes(out) == "ran");
        CHECK(seconds >= 0.7);
        CHECK(seconds < 10.0);
        DeleteFileW(Utf8ToWide(script).c_str());
    }

    // Only a full path names the batch file; nothing else is started.
    const std::string script = folder + "\\fx35.bat";
    REQUIRE(WriteBytes(script, body));
    DeleteFileW(Utf8ToWide(out).c_str());
    for (const std::string& bad : {std::string("fx35.bat"), Quoted(script), std::string(""),
                                   folder + "\\missing.bat"}) {
        CAPTURE(bad);
        Stopwatch clock;
        RunBatchAndWait(bad, PumpEvents);
        CHECK(clock.Seconds() < 1.0);
    }
    Sleep(1200);
    CHECK(ReadBytes(out) == "<missing>");
}

TEST_CASE("RunAndWait never starts a batch file, which the system would hand to the interpreter")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string out = dir / "out.txt";
    const std::string body = "@echo off\r\n" + Quoted(FixturePath("childprog.exe")) + " --write " +
                             Quoted(out) + " ran\r\n";
    struct Case {
        const char* file;
        const char* named;  // how the command line names it
    };
    const Case cases[] = {
        {"package.bat", "package.bat"},
        {"package.cmd", "package.cmd"},
        {"PACKAGE.CMD", "PACKAGE.CMD"},
        {"package.bat", "package.bat."},  // the file system drops the dot
        {"package.cmd", "package.cmd. ."},
    };
    for (const Case& c : cases) {
        const std::string named = c.named;
        CAPTURE(named);
        const std::string script = dir / c.file;
        REQUIRE(WriteBytes(script, body));
        DeleteFileW(Utf8ToWide(out).c_str());
        Stopwatch clock;
        RunAndWait(Quoted(dir / c.named) + " /Q", PumpEvents);
        CHECK(clock.Seconds() < 1.0);
        Sleep(500);
        CHECK(ReadBytes(out) == "<missing>");
        DeleteFileW(Utf8ToWide(script).c_str());
    }

    // Control: the system, given the batch file as the program to start,
    // does run it through the interpreter.
    const std::string script = dir / "package.bat";
    REQUIRE(WriteBytes(script, body));
    DeleteFileW(Utf8ToWide(out).c_str());
    const RunResult control = Run(Utf8ToWide(script), Utf8ToWide(Quoted(script)), 30000, L"", 0);
    CHECK(control.started);
    CHECK(ReadBytes(out) == "ran");
}

namespace {

// What the window's handlers saw of the system folder during a wait.
struct SystemFolderProbe {
    int ticks = 0;
    int redirectedTicks = 0;  // ticks that saw the system folder as usual
    bool dllLoaded = false;   // a system DLL loaded by its full path on the first tick
};

void LookAtSystemFolder(TickingWindow& window)
{
    auto* probe = static_cast<SystemFolderProbe*>(window.context);
    if (probe->ticks++ == 0) probe->dllLoaded = LoadSystemDll(L"version.dll") != nullptr;
    if (MachineOf(SystemKernel32().c_str()) == kOwnMachine) ++probe->redirectedTicks;
}

}  // namespace

TEST_CASE("RunBatchAndWait: redirection off to start the interpreter, on again while it waits")
{
    Scratch dir;
    REQUIRE(dir.ok());
    // The batch keeps what its interpreter sees as system32\kernel32.dll: the
    // 64-bit one when the 64-bit interpreter was started.
    const std::string seen = dir / "seen.dll";
    const std::string script = dir / "fx35.bat";
    REQUIRE(WriteBytes(script, "@echo off\r\ncopy /y \"%SystemRoot%\\system32\\kernel32.dll\" " + Quoted(seen) +
                                   " >nul\r\n" + Quoted(FixturePath("childprog.exe")) + " --sleep 1000\r\n"));
    SystemFolderProbe probe;
    TickingWindow window(50);
    REQUIRE(window.ok());
    window.context = &probe;
    window.onTick = &LookAtSystemFolder;

    RunBatchAndWait(script, PumpEvents);

    // Started without redirection: the interpreter is the system's own kind.
    CHECK(MachineOf(Utf8ToWide(seen).c_str()) == NativeMachine());
    // Waited with it: every handler saw this program's own system folder,
    // and could load a system DLL from it.
    CHECK(probe.ticks >= 5);
    CHECK(probe.redirectedTicks == probe.ticks);
    CHECK(probe.dllLoaded);
    // And it stays on after the call.
    CHECK(MachineOf(SystemKernel32().c_str()) == kOwnMachine);
}

namespace {

struct NestedProbe {
    std::string command;
    double seconds = -1;
};

void StartNestedWait(TickingWindow& window)
{
    auto* probe = static_cast<NestedProbe*>(window.context);
    if (probe->seconds >= 0) return;
    Stopwatch clock;
    RunAndWait(probe->command, PumpEvents);
    probe->seconds = clock.Seconds();
}

}  // namespace

TEST_CASE("A RunAndWait from inside a wait returns at once and starts nothing")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string nested = dir / "nested.txt";
    NestedProbe probe{Child("--write " + Quoted(nested) + " started"), -1};
    TickingWindow window(50);
    REQUIRE(window.ok());
    window.context = &probe;
    window.onTick = &StartNestedWait;

    Stopwatch clock;
    RunAndWait(Child("--sleep 1500"), PumpEvents);
    CHECK(clock.Seconds() >= 1.4);
    REQUIRE(probe.seconds >= 0);  // the handler ran during the outer wait
    CHECK(probe.seconds < 0.5);
    Sleep(500);
    CHECK_FALSE(IsFile(nested));

    // The wait is over: the next call runs normally again.
    window.onTick = nullptr;
    RunAndWait(probe.command, PumpEvents);
    CHECK(ReadBytes(nested) == "started");
}

TEST_CASE("RunAndWait runs the very file a full path names")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string out = dir / "out.txt";
    const std::wstring child = Utf8ToWide(FixturePath("childprog.exe"));

    // A program whose name lacks ".exe" beside a file of that name with
    // ".exe" added that is no program: Windows, left to find the program
    // from the command line, adds the extension (Wine does not); named as
    // the program to start, the file itself runs on both.
    const std::string program = dir / "package";
    REQUIRE(CopyFileW(child.c_str(), Utf8ToWide(program).c_str(), FALSE));
    REQUIRE(WriteBytes(program + ".exe", "not a program"));
    RunAndWait(Quoted(program) + " --write " + Quoted(out) + " ran", PumpEvents);
    CHECK(ReadBytes(out) == "ran");

    // An unquoted path with blanks starts nothing, rather than the program
    // the part before the first blank names: here "run.exe", which would
    // take the rest of the line as "--sleep 1... --write <out> decoy".
    const std::string folder = dir / "run --sleep 1";
    REQUIRE(CreateDirectoryW(Utf8ToWide(folder).c_str(), nullptr));
    REQUIRE(CopyFileW(child.c_str(), Utf8ToWide(folder + "\\child.exe").c_str(), FALSE));
    REQUIRE(CopyFileW(child.c_str(), Utf8ToWide(dir / "run.exe").c_str(), FALSE));
    DeleteFileW(Utf8ToWide(out).c_str());
    RunAndWait(folder + "\\child.exe --write " + Quoted(out) + " decoy", PumpEvents);
    CHECK(ReadBytes(out) == "<missing>");
}

TEST_CASE("LastExitCode: the code of the program last waited for, nothing when nothing started")
{
    Scratch dir;
    REQUIRE(dir.ok());
    struct Case {
        std::string command;
        std::optional<int32_t> code;
    };
    const Case cases[] = {
        {Child("--exit 3010"), 3010},
        {Child(""), 0},
        // Setup's own codes are negative as 32-bit numbers (0x84B30002).
        {Child("--exit 2226323458"), -2068643838},
        {Quoted(dir / "no such program.exe"), std::nullopt},
        {Quoted(dir / "script.bat"), std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.command);
        RunAndWait(Child("--exit 7"), PumpEvents);  // an earlier code never stays
        RunAndWait(c.command, PumpEvents);
        CHECK(LastExitCode() == c.code);
    }

    // The batch file's code is the interpreter's, which ends with the batch's last command.
    const std::string script = dir / "exit.bat";
    REQUIRE(WriteBytes(script, "@echo off\r\n" + Quoted(FixturePath("childprog.exe")) + " --exit 5\r\n"));
    RunBatchAndWait(script, PumpEvents);
    CHECK(LastExitCode() == 5);
    RunBatchAndWait("relative.bat", PumpEvents);
    CHECK_FALSE(LastExitCode().has_value());
}
