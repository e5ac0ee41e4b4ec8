// The platform pieces of the notes file: the desktop folder, the date line,
// the file's bytes in the system code page, and Notepad opening it
// minimized. The program runs twice: under code page 936 (zh-CN) and under
// a code page without Chinese (en-US); STACKHOLD_EXPECT_ACP names which.
#include <doctest/doctest.h>

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "setup/notes.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

UINT ExpectedAcp()
{
    const char* text = std::getenv("STACKHOLD_EXPECT_ACP");
    return text ? static_cast<UINT>(std::atoi(text)) : 936;
}

NotesFields SampleFields()
{
    NotesFields f;
    f.edition = "SQL Server 2012 Express (64位)";
    f.instanceName = "MSSQLSERVER";
    f.saPassword = "k7#Qm2@xW9!pL4$zR8&e";
    f.installDir = "D:\\DB\\SQL Server";
    f.siteUrl = "http://www.corvane.com/";
    f.dateTime = "2024/5/6 7:08:09";
    return f;
}

std::wstring Decode(UINT codePage, const std::string& bytes)
{
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                        static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return L"<not valid in this code page>";
    std::wstring text(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                          static_cast<int>(bytes.size()), text.data(), n);
    return text;
}

std::set<DWORD> NotepadProcesses()
{
    std::set<DWORD> ids;
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"notepad.exe") == 0) ids.insert(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return ids;
}

struct WindowSearch {
    std::set<DWORD> processes;
    HWND found = nullptr;
    std::wstring title;
};

BOOL CALLBACK FindTopWindow(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (!search->processes.count(process) || ::GetWindow(window, GW_OWNER) ||
        !::IsWindowVisible(window))
        return TRUE;
    wchar_t title[512] = {};
    ::GetWindowTextW(window, title, 512);
    search->found = window;
    search->title = title;
    return FALSE;
}

// Ends the Notepads this test started, whatever happens to the checks.
class NotepadReaper {
public:
    explicit NotepadReaper(std::set<DWORD> before) : before_(std::move(before)) {}
    ~NotepadReaper()
    {
        for (const DWORD id : Started())
            if (const HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
                ::TerminateProcess(process, 0);
                ::WaitForSingleObject(process, 5000);
                ::CloseHandle(process);
            }
    }
    NotepadReaper(const NotepadReaper&) = delete;
    NotepadReaper& operator=(const NotepadReaper&) = delete;

    std::set<DWORD> Started() const
    {
        std::set<DWORD> started;
        for (const DWORD id : NotepadProcesses())
            if (!before_.count(id)) started.insert(id);
        return started;
    }

private:
    std::set<DWORD> before_;
};

}  // namespace

TEST_CASE("the test runs under the code page it was started for")
{
    CHECK(::GetACP() == ExpectedAcp());
}

TEST_CASE("GetDesktopFolder is the user's existing desktop folder, without a trailing backslash")
{
    const std::string desktop = GetDesktopFolder();
    REQUIRE_FALSE(desktop.empty());
    CHECK(desktop.back() != '\\');
    CHECK(IsFolder(Utf8ToWide(desktop)));

    // The same folder as the known-folder API names.
    PWSTR known = nullptr;
    REQUIRE(::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &known) == S_OK);
    std::wstring expected = known;
    ::CoTaskMemFree(known);
    while (!expected.empty() && expected.back() == L'\\') expected.pop_back();
    CHECK(_wcsicmp(Utf8ToWide(desktop).c_str(), expected.c_str()) == 0);
}

TEST_CASE("LocalDateTimeText is the local date and time in the locale's short date and long time")
{
    SYSTEMTIME before{};
    ::GetLocalTime(&before);
    const std::string text = LocalDateTimeText();
    SYSTEMTIME after{};
    ::GetLocalTime(&after);
    CAPTURE(text);
    REQUIRE_FALSE(text.empty());

    std::smatch m;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (ExpectedAcp() == 936) {
        // zh-CN: yyyy/M/d H:mm:ss
        const std::regex zh(R"((\d{4})/(\d{1,2})/(\d{1,2}) (\d{1,2}):(\d{2}):(\d{2}))");
        REQUIRE(std::regex_match(text, m, zh));
        year = std::stoi(m[1]), month = std::stoi(m[2]), day = std::stoi(m[3]);
        hour = std::stoi(m[4]);
    } else {
        // en-US: M/d/yyyy h:mm:ss AM|PM
        const std::regex en(
            R"((\d{1,2})/(\d{1,2})/(\d{4}) (\d{1,2}):(\d{2}):(\d{2}) (AM|PM))");
        REQUIRE(std::regex_match(text, m, en));
        month = std::stoi(m[1]), day = std::stoi(m[2]), year = std::stoi(m[3]);
        hour = std::stoi(m[4]) % 12 + (m[7] == "PM" ? 12 : 0);
    }
    minute = std::stoi(m[5]), second = std::stoi(m[6]);

    auto matches = [&](const SYSTEMTIME& t) {
        return year == t.wYear && month == t.wMonth && day == t.wDay && hour == t.wHour &&
               minute == t.wMinute && second == t.wSecond;
    };
    CHECK((matches(before) || matches(after)));
}

TEST_CASE("the notes' bytes: ANSI GBK under code page 936, else UTF-8 with a byte-order mark")
{
    Scratch scratch;
    REQUIRE(scratch.ok());
    const std::string notes = ComposeInstallationNotes(SampleFields());
    const std::string path = WideToUtf8(scratch / Utf8ToWide(kNotesFileName));

    if (ExpectedAcp() == 936) {
        CHECK(TextFitsAnsiCodePage(notes));
        CHECK(WriteTextFile(path, notes));
        const std::string bytes = ReadBytes(Utf8ToWide(path));
        // No byte-order mark; "欢迎使用【Corvane·Stackhold】" in GBK.
        CHECK(ToHex(bytes.substr(0, 28)) ==
              "bb b6 d3 ad ca b9 d3 c3 a1 be 43 6f 72 76 61 6e 65 a1 a4 53 74 61 63 6b 68 6f 6c "
              "64");
        // Every character came through: the bytes read back as the text.
        CHECK(Decode(936, bytes) == Utf8ToWide(notes));
        CHECK(bytes.find('?') == std::string::npos);
    } else {
        CHECK_FALSE(TextFitsAnsiCodePage(notes));
        CHECK(TextFitsAnsiCodePage("SQL Server 2012 Express, MSSQLSERVER, D:\\DB"));
        CHECK(WriteUtf8TextFile(path, notes));
        CHECK(ReadBytes(Utf8ToWide(path)) == "\xEF\xBB\xBF" + notes);
    }
    // Characters no Chinese code page holds never fit.
    CHECK_FALSE(TextFitsAnsiCodePage("\xE0\xB8\x81"));      // Thai ko kai
    CHECK_FALSE(TextFitsAnsiCodePage("\xF0\x9F\x98\x80"));  // an emoji
}

TEST_CASE("OpenInstallationNotes starts Notepad minimized on the file and does not wait")
{
    Scratch scratch;
    REQUIRE(scratch.ok());
    const std::wstring folder = scratch / L"桌面 folder";
    REQUIRE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::string path = WideToUtf8(folder + L"\\" + Utf8ToWide(kNotesFileName));
    REQUIRE(WriteUtf8TextFile(path, "notes"));

    NotepadReaper reaper(NotepadProcesses());
    const DWORD begin = ::GetTickCount();
    OpenInstallationNotes(path);
    CHECK(::GetTickCount() - begin < 3000);

    // Notepad's top-level window, titled after the file, shown minimized.
    WindowSearch search;
    for (int i = 0; i < 150 && !search.found; ++i) {
        ::Sleep(100);
        search.processes = reaper.Started();
        if (!search.processes.empty())
            ::EnumWindows(FindTopWindow, reinterpret_cast<LPARAM>(&search));
    }
    REQUIRE_MESSAGE(search.found, "no Notepad window appeared");
    CAPTURE(WideToUtf8(search.title));
    CHECK(search.title.find(L"SQL Server安装说明") != std::wstring::npos);
    CHECK(::IsIconic(search.found));
    CHECK(reaper.Started().size() == 1);
}
