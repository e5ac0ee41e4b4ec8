// Setup's summary logs found and read where setup leaves them, and the
// evidence of the .NET 3.5 enabling: the framework's registry entry in the
// native view, and the system folder the DISM line names.
#include <doctest/doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/text_win32.h"
#include "setup/netfx.h"
#include "setup/setup_log.h"
#include "win/setup_test_util.h"
#include "win_test_util.h"

using namespace setup_test;
using namespace wintest;

namespace {

constexpr wchar_t kNetFxKey[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";

std::wstring NativeProgramFiles()
{
    HKEY key = nullptr;
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return {};
    ::RegQueryValueExW(key, L"ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    return buffer;
}

// The Setup Bootstrap\Log folders of the prefix, removed before and after.
class LogFolders {
public:
    LogFolders() { Clean(); }
    ~LogFolders() { Clean(); }
    LogFolders(const LogFolders&) = delete;
    LogFolders& operator=(const LogFolders&) = delete;
    std::wstring Log(const wchar_t* version) const
    {
        return NativeProgramFiles() + L"\\Microsoft SQL Server\\" + version + L"\\Setup Bootstrap\\Log";
    }

private:
    static void Clean() { RemoveTree(NativeProgramFiles() + L"\\Microsoft SQL Server"); }
};

bool MakeFolders(const std::wstring& path)
{
    const size_t cut = path.find_last_of(L'\\');
    if (cut != std::wstring::npos && cut > 2 && !IsFolder(path.substr(0, cut))) MakeFolders(path.substr(0, cut));
    return ::CreateDirectoryW(path.c_str(), nullptr) || IsFolder(path);
}

bool SetWriteTime(const std::wstring& path, int64_t value)
{
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME t{static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(static_cast<uint64_t>(value) >> 32)};
    const bool ok = ::SetFileTime(file, nullptr, nullptr, &t) != FALSE;
    ::CloseHandle(file);
    return ok;
}

std::string Utf16Le(const std::string& utf8)
{
    const std::wstring wide = Utf8ToWide(utf8);
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
    return bytes;
}

void SetNetFx(REGSAM view, const DWORD* install)
{
    HKEY key = nullptr;
    REQUIRE(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNetFxKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                              nullptr) == ERROR_SUCCESS);
    if (install)
        ::RegSetValueExW(key, L"Install", 0, REG_DWORD, reinterpret_cast<const BYTE*>(install), sizeof *install);
    else
        ::RegDeleteValueW(key, L"Install");
    ::RegCloseKey(key);
}

void RemoveNetFx()
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY parent = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP", 0,
                            KEY_ALL_ACCESS | view, &parent) == ERROR_SUCCESS) {
            ::RegDeleteKeyExW(parent, L"v3.5", view, 0);
            ::RegCloseKey(parent);
        }
    }
}

}  // namespace

TEST_CASE("the summaries under the native Program Files: the top-level one and each run's, with their times")
{
    LogFolders folders;
    const std::wstring log110 = folders.Log(L"110");
    const std::wstring log100 = folders.Log(L"100");
    const std::wstring run = log110 + L"\\20261210_093005";
    const std::wstring other = log110 + L"\\not a run";
    REQUIRE(MakeFolders(run));
    REQUIRE(MakeFolders(other));
    REQUIRE(MakeFolders(log100 + L"\\20261101_080000"));
    const std::string text = "Overall summary:\r\n  Final result:  Passed\r\n  Exit code (Decimal):  0\r\n";
    REQUIRE(WriteBytes(log110 + L"\\Summary.txt", Utf16Le(text)));
    REQUIRE(WriteBytes(run + L"\\Summary_SRV_20261210_093005.txt", text));
    REQUIRE(WriteBytes(run + L"\\Detail.txt", text));                  // not a summary
    REQUIRE(WriteBytes(other + L"\\Summary_SRV_1.txt", text));        // not a run's folder
    REQUIRE(WriteBytes(log100 + L"\\20261101_080000\\Summary_SRV_20261101_080000.txt", text));
    const int64_t old = FileClockNow() - 10LL * 24 * 3600 * 10000000;  // ten days ago
    REQUIRE(SetWriteTime(log100 + L"\\20261101_080000\\Summary_SRV_20261101_080000.txt", old));

    const int64_t before = FileClockNow() - 5LL * 10000000;
    const std::vector<SummaryFile> found = ListSetupSummaries();
    std::vector<std::string> paths;
    for (const SummaryFile& f : found) {
        paths.push_back(f.path);
        CHECK(f.topLevel == (f.path == WideToUtf8(log110 + L"\\Summary.txt")));
        if (f.path.find("\\100\\") != std::string::npos)
            CHECK(f.lastWrite == old);
        else
            CHECK(f.lastWrite >= before);
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> expected = {WideToUtf8(log100 + L"\\20261101_080000\\Summary_SRV_20261101_080000.txt"),
                                         WideToUtf8(log110 + L"\\20261210_093005\\Summary_SRV_20261210_093005.txt"),
                                         WideToUtf8(log110 + L"\\Summary.txt")};
    std::sort(expected.begin(), expected.end());
    CHECK(paths == expected);

    // This run's summary: the old one is never picked.
    const std::optional<SummaryFile> picked = PickSetupSummary(found, before);
    REQUIRE(picked);
    CHECK(picked->path == WideToUtf8(log110 + L"\\Summary.txt"));
    std::string read;
    REQUIRE(ReadSetupSummary(picked->path, read));
    CHECK(read == text);
}

TEST_CASE("a summary is read whatever its encoding; a missing one is not")
{
    LogFolders folders;
    const std::wstring log = folders.Log(L"110");
    REQUIRE(MakeFolders(log));
    const std::wstring path = log + L"\\Summary.txt";
    // Text the system's ANSI code page holds: Chinese under 936, accented
    // Latin under 1252.
    const std::string words = ::GetACP() == 936 ? "退出消息: 安装失败" : "Exit message: \xC3\xA9" "chec";
    std::string ansi;
    {
        const std::wstring wide = Utf8ToWide(words);
        const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                            nullptr, nullptr);
        ansi.resize(static_cast<size_t>(n));
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), n, nullptr, nullptr);
    }
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-16LE with its mark", Utf16Le(words), words},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" + words, words},
        {"UTF-8", words, words},
        {"ANSI", ansi, words},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        REQUIRE(WriteBytes(path, c.bytes));
        std::string text = "left over";
        CHECK(ReadSetupSummary(WideToUtf8(path), text));
        CHECK(text == c.text);
    }
    std::string text;
    CHECK_FALSE(ReadSetupSummary(WideToUtf8(log + L"\\missing.txt"), text));
}

TEST_CASE(".NET 3.5 counts as present only by its own entry in the native registry view")
{
    RemoveNetFx();
    CHECK_FALSE(IsNetFx35Present());
    const DWORD one = 1, zero = 0;
    SetNetFx(KEY_WOW64_64KEY, &one);
    CHECK(IsNetFx35Present());
    SetNetFx(KEY_WOW64_64KEY, &zero);
    CHECK_FALSE(IsNetFx35Present());
    SetNetFx(KEY_WOW64_64KEY, nullptr);
    CHECK_FALSE(IsNetFx35Present());
    RemoveNetFx();
    // The 32-bit view alone is not the framework of the system.
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    if (sizeof(void*) == 8 || wow64) {
        SetNetFx(KEY_WOW64_32KEY, &one);
        CHECK_FALSE(IsNetFx35Present());
    }
    RemoveNetFx();

    // The stand-in DISM turns it on as DISM does, unless told the source is missing.
    Scratch scratch;
    REQUIRE(scratch.ok());
    {
        EnvScope env{{L"STACKHOLD_RECORD_DIR", scratch.path().c_str()}, {L"STACKHOLD_DISM_NETFX", L"fail"}};
        CHECK(Run(FixturePath(L"dism.exe"), L"dism.exe /Online").exitCode == 0);
    }
    CHECK_FALSE(IsNetFx35Present());
    {
        EnvScope env{{L"STACKHOLD_RECORD_DIR", scratch.path().c_str()}, {L"STACKHOLD_DISM_NETFX", nullptr}};
        CHECK(Run(FixturePath(L"dism.exe"), L"dism.exe /Online").exitCode == 0);
    }
    CHECK(IsNetFx35Present());
    RemoveNetFx();
}

TEST_CASE("the native system folder is the one Windows names")
{
    wchar_t system[MAX_PATH] = {};
    REQUIRE(::GetSystemDirectoryW(system, MAX_PATH) > 0);
    CHECK(NativeSystemFolder() == WideToUtf8(system));
    // Under Wine: C:\windows\system32, which keeps the DISM line as it always read.
    CHECK(NetFx35CommandLine("6.1", NativeSystemFolder()).rfind("c:\\windows\\system32\\dism.exe  /Online", 0) == 0);
}
