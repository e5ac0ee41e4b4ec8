// Two small platform procedures of the window logic: the program's folder
// and the local clock.
#include <doctest/doctest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "platform/program_dir.h"
#include "platform/text_win32.h"

TEST_CASE("the program's folder: no trailing backslash except at a drive root")
{
    struct Case {
        const wchar_t* file;
        const wchar_t* folder;
    };
    const Case cases[] = {
        {L"C:\\Tools\\Stackhold.exe", L"C:\\Tools"},
        {L"C:\\Stackhold.exe", L"C:\\"},
        {L"D:\\安装\\软件\\Stackhold.exe", L"D:\\安装\\软件"},
        {L"\\\\server\\share\\Stackhold.exe", L"\\\\server\\share"},
        {L"\\\\?\\E:\\Stackhold.exe", L"\\\\?\\E:\\"},
    };
    for (const Case& c : cases) {
        CAPTURE(WideToUtf8(c.file));
        CHECK(FolderOfFile(c.file) == c.folder);
    }
    const std::string folder = GetProgramDir();
    REQUIRE(folder.size() > 3);
    CHECK(folder.back() != '\\');
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring name = std::wstring(self).substr(std::wstring(self).find_last_of(L'\\'));
    CHECK(::GetFileAttributesW((Utf8ToWide(folder) + name).c_str()) != INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("the local clock counts seconds")
{
    const int64_t before = LocalClockSeconds();
    ::Sleep(1100);
    const int64_t after = LocalClockSeconds();
    CHECK(after - before >= 1);
    CHECK(after - before <= 2);
    // Seconds since 1601: any date after 2020 is beyond 13.2 billion.
    CHECK(before > 13'200'000'000LL);
}
