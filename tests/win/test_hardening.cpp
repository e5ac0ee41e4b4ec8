// DLLs planted beside the programs: a folder holding the program and copies
// of planted.dll under the names of the system DLLs it uses, as a Downloads
// folder might. A planted copy that gets loaded leaves a marker beside it.
//
// Wine prefers its own built-in DLLs over a file found beside a program; the
// test runs with WINEDLLOVERRIDES "n,b" for these names (tests/win/
// hardening.cmake), so that Wine loads such a file first, as Windows does.
// The control cases prove that this setting is in force.
#include <doctest/doctest.h>

#include <winsock2.h>

#include <string>
#include <vector>

#include "win_test_util.h"

using namespace wintest;

namespace {

// The DLLs the installer delay-loads itself.
const std::vector<std::string> kDelayLoaded = {"winhttp.dll", "crypt32.dll", "wintrust.dll", "bcrypt.dll",
                                               "iphlpapi.dll"};
// The probe's: the installer's and version.dll.
const std::vector<std::string> kProbeDelayLoaded = {"winhttp.dll", "crypt32.dll", "wintrust.dll",
                                                    "bcrypt.dll",  "iphlpapi.dll", "version.dll"};

// <build>\<relative>: the test program lives in <build>\tests\win.
std::string BuildPath(const std::string& relative)
{
    const std::string fixtures = FixturePath("x");
    const std::string build = fixtures.substr(0, fixtures.size() - std::string("\\fixtures\\x").size());
    return build + "\\" + relative;
}

bool CopyTo(const std::string& from, const std::string& to)
{
    return ::CopyFileW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), FALSE) != 0;
}

// A folder with the program and the planted copies.
struct PlantedFolder {
    Scratch dir;
    std::string program;
    std::vector<std::string> names;

    PlantedFolder(const std::string& programSource, std::vector<std::string> plantedNames)
        : names(std::move(plantedNames))
    {
        REQUIRE(dir.ok());
        const std::string name = programSource.substr(programSource.find_last_of('\\') + 1);
        program = dir / name;
        REQUIRE(CopyTo(programSource, program));
        for (const std::string& planted : names) REQUIRE(CopyTo(FixturePath("planted.dll"), dir / planted));
    }

    std::vector<std::string> Loaded() const
    {
        std::vector<std::string> loaded;
        for (const std::string& planted : names)
            if (IsFile(dir / (planted + ".loaded"))) loaded.push_back(planted);
        return loaded;
    }
};

// The exit code, or -1 when it could not start, -2 when it had to be stopped.
// A console program shares the test's console, so what it says shows in the
// test's output.
int RunBounded(const std::string& program, const std::string& arguments, DWORD limitMs,
               const std::string& currentDir)
{
    const RunResult result = Run(Utf8ToWide(program), Utf8ToWide(Quoted(program) + " " + arguments),
                                 limitMs, Utf8ToWide(currentDir), 0);
    if (!result.started) return -1;
    return result.timedOut ? -2 : static_cast<int>(result.exitCode);
}

// A local port that refuses connections: bound, then let go.
int ClosedPort()
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
    int port = 0;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (s != INVALID_SOCKET && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (s != INVALID_SOCKET) ::closesocket(s);
    ::WSACleanup();
    return port;
}

std::string Joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += name + " ";
    return text;
}

}  // namespace

TEST_CASE("a DLL planted beside a program that imports it the ordinary way is loaded (control)")
{
    PlantedFolder folder(FixturePath("dllprobe_static.exe"), {"winhttp.dll"});
    CHECK(RunBounded(folder.program, "", 30000, folder.dir / "") == 0);
    CHECK(Joined(folder.Loaded()) == "winhttp.dll ");
}

TEST_CASE("delay-loaded system DLLs come from the system folder, never from beside the program")
{
    struct Case {
        const char* mode;
        int exitCode;        // DLLs found outside the system folder
        const char* loaded;  // planted copies that were loaded
    };
    const Case cases[] = {
        // The search restricted as the installer's entry does.
        {"restrict", 0, ""},
        // The loader hook alone: Windows 7 without the update that brings
        // the restriction.
        {"hook", 0, ""},
        // Control: neither, and the planted WinHTTP is taken.
        {"nohook", 1, "winhttp.dll "},
    };
    for (const Case& c : cases) {
        const std::string mode = c.mode;
        CAPTURE(mode);
        PlantedFolder folder(FixturePath("dllprobe.exe"), kProbeDelayLoaded);
        const std::string report = folder.dir / "report.txt";
        const int code = RunBounded(folder.program, std::string(c.mode) + " " + Quoted(report), 30000,
                                    folder.dir / "");
        const std::string bytes = ReadBytes(report);
        const std::wstring where(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
        CAPTURE(WideToUtf8(where));
        CHECK(code == c.exitCode);
        CHECK(Joined(folder.Loaded()) == std::string(c.loaded));
    }
}

TEST_CASE("a delay-loaded DLL the system folder lacks fails the call, never searched for by bare name")
{
    struct Case {
        const char* mode;
        DWORD exitCode;
        const char* loaded;
    };
    const Case cases[] = {
        // The hook: the call fails the way a failed delay load does.
        {"absent", 0xC06D007E, ""},
        // Control: the helper's own search finds the copy beside the program.
        {"absent-nohook", 51, "stackhold_absent.dll "},
    };
    for (const Case& c : cases) {
        const std::string mode = c.mode;
        CAPTURE(mode);
        PlantedFolder folder(FixturePath("dllprobe.exe"), {"stackhold_absent.dll"});
        const int code = RunBounded(folder.program, mode + " " + Quoted(folder.dir / "report.txt"), 30000,
                                    folder.dir / "");
        CHECK(static_cast<DWORD>(code) == c.exitCode);
        CHECK(Joined(folder.Loaded()) == std::string(c.loaded));
    }
}

TEST_CASE("Stackhold.exe starts without loading any planted DLL")
{
    // Its delay-loaded DLLs and comctl32, which it imports the ordinary way
    // but takes from the side-by-side store its manifest names. Not
    // version.dll, which it does not use: Wine's user32 imports it, before
    // any code of ours runs, from beside the program; Windows' user32 is a
    // known DLL that does not.
    std::vector<std::string> names = kDelayLoaded;
    names.push_back("comctl32.dll");
    PlantedFolder folder(BuildPath("bin\\Stackhold.exe"), names);
    // Started from its own folder, as a double click in Downloads does. It
    // may stop at any step here (no display, no operator): whatever it
    // loaded by then is what counts.
    const int code = RunBounded(folder.program, "", 15000, folder.dir / "");
    CHECK(code != -1);
    CHECK(Joined(folder.Loaded()) == "");
}

TEST_CASE("wget.exe fetches without loading a planted WinHTTP")
{
    // WinHTTP only, which the tool loads itself. Wine's WinHTTP delay-loads
    // crypt32 and others by bare name and, unlike Windows, looks beside the
    // program for them despite the restricted search.
    PlantedFolder folder(BuildPath("bin\\wget.exe"), {"winhttp.dll"});
    const int port = ClosedPort();
    REQUIRE(port > 0);
    const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/package.exe";
    const int code = RunBounded(folder.program, "-t 1 -P " + Quoted(folder.dir / "out") + " " + Quoted(address),
                                60000, folder.dir / "");
    // 4: the network failed, so WinHTTP was loaded and asked.
    CHECK(code == 4);
    CHECK(Joined(folder.Loaded()) == "");
}
