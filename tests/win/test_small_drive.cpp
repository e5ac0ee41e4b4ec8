// Free space of a small drive whose size is known to the byte: a tmpfs that
// the test's wrapper links into the prefix (see private_prefix.py --small-drive).
#include <doctest/doctest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/fs.h"
#include "platform/text_win32.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

constexpr int64_t kMiB = 1 << 20;

// Writes real bytes (not a sparse length): only written pages take space.
bool FillFile(const std::string& path, int64_t size)
{
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    static const std::string chunk(1 << 16, '\x5a');
    bool ok = true;
    while (ok && size > 0) {
        const DWORD n = static_cast<DWORD>(std::min<int64_t>(size, chunk.size()));
        DWORD written = 0;
        ok = ::WriteFile(file, chunk.data(), n, &written, nullptr) && written == n;
        size -= n;
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace

TEST_CASE("GetDriveFreeSpace of a 16 MiB drive, halves rounded to even")
{
    const std::string drive = Env("STACKHOLD_SMALL_DRIVE");
    REQUIRE_MESSAGE(!drive.empty(), "run through private_prefix.py --small-drive, which sets STACKHOLD_SMALL_DRIVE");
    const std::string fill = drive + "\\fill.bin";

    CHECK(GetDriveFreeSpace(drive) == 16);

    // The drive's pages are 4 KiB, so these leave exactly the free space
    // named, and the answer shows the rounding.
    struct Case {
        int64_t freeBytes;
        int64_t mib;
    };
    const Case cases[] = {
        {kMiB * 5 / 2, 2},  // 2.5 -> 2
        {kMiB * 3 / 2, 2},  // 1.5 -> 2
        {kMiB * 7 / 2, 4},  // 3.5 -> 4
        {kMiB / 2, 0},      // 0.5 -> 0
        {kMiB * 5 / 4, 1},  // 1.25 -> 1
        {kMiB * 7 / 4, 2},  // 1.75 -> 2
    };
    for (const Case& c : cases) {
        CAPTURE(c.freeBytes);
        REQUIRE(FillFile(fill, 16 * kMiB - c.freeBytes));
        CHECK(GetDriveFreeSpace(drive) == c.mib);
    }

    // A full drive has nothing left; this write fails once it is full.
    FillFile(fill, 17 * kMiB);
    CHECK(GetDriveFreeSpace(drive) == 0);
    CHECK(DeleteFileIfExists(fill));
    CHECK(GetDriveFreeSpace(drive) == 16);
}
