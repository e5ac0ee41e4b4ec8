// The file-system helpers against real files in the Wine prefix.
#include <doctest/doctest.h>

#include <windows.h>

#include <cmath>

#include "platform/fs.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

bool MakeReadOnly(const std::string& path)
{
    return ::SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

bool MakeFolder(const std::string& path)
{
    return ::CreateDirectoryW(Utf8ToWide(path).c_str(), nullptr) != 0;
}

}  // namespace

TEST_CASE("DeleteFileIfExists removes files only and always answers true")
{
    Scratch dir;
    REQUIRE(dir.ok());

    SUBCASE("nothing there: true, nothing made")
    {
        CHECK(DeleteFileIfExists(dir / "missing.exe"));
        CHECK_FALSE(FileExists(dir / "missing.exe"));
        CHECK(DeleteFileIfExists(dir / "no-such-folder\\missing.exe"));
    }
    SUBCASE("a plain file goes")
    {
        REQUIRE(WriteBytes(dir / "fx35.bat", "dism\r\n"));
        CHECK(DeleteFileIfExists(dir / "fx35.bat"));
        CHECK_FALSE(FileExists(dir / "fx35.bat"));
    }
    SUBCASE("a read-only file goes too")
    {
        REQUIRE(WriteBytes(dir / "package.exe", "MZ"));
        REQUIRE(MakeReadOnly(dir / "package.exe"));
        CHECK(DeleteFileIfExists(dir / "package.exe"));
        CHECK_FALSE(FileExists(dir / "package.exe"));
    }
    SUBCASE("a folder of that name stays")
    {
        REQUIRE(MakeFolder(dir / "packages"));
        CHECK(DeleteFileIfExists(dir / "packages"));
        CHECK(FolderExists(dir / "packages"));
    }
}

TEST_CASE("FileExists and FolderExists tell a file from a folder")
{
    Scratch dir;
    REQUIRE(dir.ok());
    REQUIRE(WriteBytes(dir / "wget.exe", "MZ"));
    REQUIRE(MakeFolder(dir / "packages"));
    REQUIRE(MakeFolder(dir / "数据库"));

    struct Case {
        std::string path;
        bool file;
        bool folder;
    };
    const Case cases[] = {
        {dir / "wget.exe", true, false},
        {dir / "packages", false, true},
        {dir / "packages\\", false, true},
        {dir / "数据库", false, true},
        {dir / "missing", false, false},
        {dir / "missing\\wget.exe", false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        CHECK(FileExists(c.path) == c.file);
        CHECK(FolderExists(c.path) == c.folder);
    }
}

TEST_CASE("EnsureFolder creates one level and nothing else")
{
    Scratch dir;
    REQUIRE(dir.ok());

    SUBCASE("an existing folder: true, its content untouched")
    {
        REQUIRE(MakeFolder(dir / "Data"));
        REQUIRE(WriteBytes(dir / "Data\\keep.txt", "keep"));
        CHECK(EnsureFolder(dir / "Data"));
        CHECK(EnsureFolder(dir / "Data\\"));
        CHECK(ReadBytes(dir / "Data\\keep.txt") == "keep");
    }
    SUBCASE("a missing last level is created")
    {
        CHECK(EnsureFolder(dir / "SQL Server"));
        CHECK(FolderExists(dir / "SQL Server"));
        CHECK(EnsureFolder(dir / "安装目录\\"));
        CHECK(FolderExists(dir / "安装目录"));
    }
    SUBCASE("a missing parent: false, nothing created")
    {
        CHECK_FALSE(EnsureFolder(dir / "Data\\SQL Server"));
        CHECK_FALSE(FolderExists(dir / "Data"));
        CHECK_FALSE(FolderExists(dir / "Data\\SQL Server"));
    }
    SUBCASE("a file of that name: false, the file stays a file")
    {
        REQUIRE(WriteBytes(dir / "Data", "file"));
        CHECK_FALSE(EnsureFolder(dir / "Data"));
        CHECK(FileExists(dir / "Data"));
        CHECK(ReadBytes(dir / "Data") == "file");
    }
}

TEST_CASE("WriteTextFile writes the ANSI code page bytes and replaces the file")
{
    // The expected bytes below are GBK: the test means nothing elsewhere.
    REQUIRE_MESSAGE(::GetACP() == 936, "the ANSI code page must be 936 (run with LANG=zh_CN.UTF-8)");
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string path = dir / "SQL Server安装说明.txt";

    SUBCASE("Chinese text and CR LF, no byte-order mark")
    {
        CHECK(WriteTextFile(path, "安装目录：D:\\Data\r\nCorvane·Stackhold\r\n"));
        CHECK(ToHex(ReadBytes(path)) ==
              ToHex(FromHex("b0b2 d7b0 c4bf c2bc a3ba 44 3a 5c 44 61 74 61 0d 0a"
                            "43 6f 72 76 61 6e 65 a1a4 53 74 61 63 6b 68 6f 6c 64 0d 0a")));
    }
    SUBCASE("a longer old file is replaced, not overwritten in part")
    {
        REQUIRE(WriteBytes(path, std::string(5000, 'x')));
        CHECK(WriteTextFile(path, "数据库"));
        CHECK(ToHex(ReadBytes(path)) == "ca fd be dd bf e2");
    }
    SUBCASE("empty text leaves an empty file")
    {
        REQUIRE(WriteBytes(path, "old content"));
        CHECK(WriteTextFile(path, ""));
        CHECK(FileExists(path));
        CHECK(ReadBytes(path).empty());
    }
    SUBCASE("a hidden old file is replaced as well")
    {
        REQUIRE(WriteBytes(path, "old content, longer"));
        REQUIRE(::SetFileAttributesW(Utf8ToWide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
        CHECK(WriteTextFile(path, "new"));
        CHECK(ReadBytes(path) == "new");
    }
    SUBCASE("a read-only old file is replaced, and the answer says so")
    {
        REQUIRE(WriteBytes(path, "管理密码：OldPassword1234"));
        REQUIRE(MakeReadOnly(path));
        CHECK(WriteTextFile(path, "new"));
        CHECK(ReadBytes(path) == "new");
    }
    SUBCASE("a file held open without sharing writes: false, the old content stays")
    {
        REQUIRE(WriteBytes(path, "old"));
        const HANDLE other = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr);
        REQUIRE(other != INVALID_HANDLE_VALUE);
        CHECK_FALSE(WriteTextFile(path, "new"));
        ::CloseHandle(other);
        CHECK(ReadBytes(path) == "old");
    }
    SUBCASE("a missing folder: nothing written, no crash")
    {
        CHECK_FALSE(WriteTextFile(dir / "missing\\fx35.bat", "dism"));
        CHECK_FALSE(FileExists(dir / "missing\\fx35.bat"));
    }
}

TEST_CASE("WriteUtf8TextFile writes a byte-order mark and UTF-8")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::string path = dir / "notes.txt";
    REQUIRE(WriteBytes(path, std::string(100, 'x')));

    CHECK(WriteUtf8TextFile(path, "한국어 安装\r\n"));
    CHECK(ToHex(ReadBytes(path)) ==
          ToHex(FromHex("ef bb bf ed959c eab5ad ec96b4 20 e5ae89 e8a385 0d 0a")));
    CHECK(WriteUtf8TextFile(path, ""));
    CHECK(ToHex(ReadBytes(path)) == "ef bb bf");
}

TEST_CASE("TextFitsAnsiCodePage knows what code page 936 can hold")
{
    REQUIRE(::GetACP() == 936);
    struct Case {
        const char* text;
        bool fits;
    };
    const Case cases[] = {
        {"", true},
        {"D:\\Data\\SQL Server", true},
        {"安装目录：数据库", true},
        {"Corvane·Stackhold", true},
        {"D:\\한국어", false},           // Hangul is not in GBK
        {"D:\\\xF0\x9F\x98\x80", false},  // outside the BMP
        {"D:\\D\xC3\xA4ta", false},       // only a look-alike "a" exists
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(TextFitsAnsiCodePage(c.text) == c.fits);
    }
}

TEST_CASE("GetLocalFileSize measures the length of files only")
{
    Scratch dir;
    REQUIRE(dir.ok());
    REQUIRE(WriteBytes(dir / "empty.bin", ""));
    REQUIRE(WriteBytes(dir / "five.bin", "12345"));
    REQUIRE(MakeFolder(dir / "packages"));

    CHECK(GetLocalFileSize(dir / "empty.bin") == 0);
    CHECK(GetLocalFileSize(dir / "five.bin") == 5);
    CHECK(GetLocalFileSize(dir / "missing.bin") == -1);
    CHECK(GetLocalFileSize(dir / "missing\\five.bin") == -1);
    CHECK(GetLocalFileSize(dir / "packages") == -1);
    CHECK(GetLocalFileSize("") == -1);

    SUBCASE("a file another handle holds without sharing, while it grows")
    {
        const HANDLE writer = ::CreateFileW(Utf8ToWide(dir / "growing.exe").c_str(), GENERIC_WRITE, 0,
                                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(writer != INVALID_HANDLE_VALUE);
        const std::string chunk(70000, 'z');
        DWORD written = 0;
        CHECK(::WriteFile(writer, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr));
        CHECK(GetLocalFileSize(dir / "growing.exe") == 70000);
        CHECK(::WriteFile(writer, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr));
        CHECK(GetLocalFileSize(dir / "growing.exe") == 140000);
        ::CloseHandle(writer);
    }
    SUBCASE("beyond 4 GiB, where 32 bits would wrap")
    {
        const int64_t big = (int64_t{5} << 30) + 3;
        const HANDLE file = ::CreateFileW(Utf8ToWide(dir / "big.exe").c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        LARGE_INTEGER at;
        at.QuadPart = big;
        // On the Linux file system under Wine this makes a sparse file at once.
        const bool sized = ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
        ::CloseHandle(file);
        REQUIRE_MESSAGE(sized, "could not make a 5 GiB file");
        CHECK(GetLocalFileSize(dir / "big.exe") == big);
    }
}

TEST_CASE("GetDriveFreeSpace answers whole MiB of a real drive, 0 for none")
{
    SUBCASE("drive C: agrees with the byte count the system gives")
    {
        ULARGE_INTEGER available, total, totalFree;
        REQUIRE(::GetDiskFreeSpaceExW(L"C:\\", &available, &total, &totalFree));
        const double expected = static_cast<double>(totalFree.QuadPart) / 1048576.0;
        const int64_t mib = GetDriveFreeSpace("C:");
        CAPTURE(expected);
        CHECK(mib > 0);
        // Other programs write to the same disk meanwhile: a loose bound
        // still catches a wrong unit or a wrapped count.
        CHECK(std::fabs(static_cast<double>(mib) - expected) < 512.0);
    }
    SUBCASE("a drive letter that does not exist")
    {
        const DWORD drives = ::GetLogicalDrives();
        char letter = 0;
        for (char c = 'Y'; c >= 'D'; --c)
            if ((drives & (1u << (c - 'A'))) == 0) {
                letter = c;
                break;
            }
        REQUIRE(letter != 0);
        CHECK(GetDriveFreeSpace(std::string(1, letter) + ":") == 0);
    }
}
