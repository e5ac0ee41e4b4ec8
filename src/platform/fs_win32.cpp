// File-system helpers over the Win32 file API (W calls only).
#include "platform/fs.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <string_view>

#include "platform/handles_win32.h"
#include "platform/text_win32.h"

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

// The attributes of whatever is at path. A file held open without sharing (a
// page file, a file another program locks) can refuse GetFileAttributesW
// with a sharing violation although it is there; its directory entry still
// answers.
DWORD AttributesOf(const std::wstring& path) noexcept
{
    if (path.empty()) return kNoAttributes;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != kNoAttributes) return attributes;
    const DWORD error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return kNoAttributes;
    if (path.find_first_of(L"*?") != std::wstring::npos) return kNoAttributes;
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return kNoAttributes;
    ::FindClose(find);
    return data.dwFileAttributes;
}

bool IsFolder(DWORD attributes) noexcept
{
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(DWORD attributes) noexcept
{
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Creates or empties the file and writes bytes into it. Opening with
// OPEN_ALWAYS and cutting the length afterwards (rather than CREATE_ALWAYS)
// also replaces a hidden or system file, which CREATE_ALWAYS refuses unless
// the caller repeats those attributes.
void ReplaceFileBytes(const std::string& path, std::string_view prefix,
                      std::string_view bytes) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return;
        UniqueFile file(::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        if (!::SetEndOfFile(file.get())) return;
        for (std::string_view part : {prefix, bytes}) {
            while (!part.empty()) {
                const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(part.size(), 1u << 20));
                DWORD written = 0;
                if (!::WriteFile(file.get(), part.data(), chunk, &written, nullptr) || written == 0)
                    return;
                part.remove_prefix(written);
            }
        }
    } catch (...) {
    }
}

}  // namespace

bool DeleteFileIfExists(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        const DWORD attributes = AttributesOf(wide);
        if (!IsFile(attributes)) return true;
        // DeleteFileW refuses a read-only file: drop that attribute first.
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            const DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            ::SetFileAttributesW(wide.c_str(), rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest);
        }
        ::DeleteFileW(wide.c_str());
    } catch (...) {
    }
    return true;
}

bool FileExists(const std::string& path) noexcept
{
    try {
        return IsFile(AttributesOf(Utf8ToWide(path)));
    } catch (...) {
        return false;
    }
}

bool FolderExists(const std::string& path) noexcept
{
    try {
        return IsFolder(AttributesOf(Utf8ToWide(path)));
    } catch (...) {
        return false;
    }
}

bool EnsureFolder(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (IsFolder(AttributesOf(wide))) return true;
        if (wide.empty()) return false;
        // One level only: a missing parent makes this fail. The settings page
        // ensures the levels of a path one by one, from the drive down, so
        // that it can refuse a level before it is made.
        if (::CreateDirectoryW(wide.c_str(), nullptr)) return true;
        // Another process may have made the folder between the two calls.
        return ::GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(AttributesOf(wide));
    } catch (...) {
        return false;
    }
}

void WriteTextFile(const std::string& path, const std::string& text) noexcept
{
    try {
        ReplaceFileBytes(path, {}, Utf8ToAnsi(text));
    } catch (...) {
    }
}

void WriteUtf8TextFile(const std::string& path, const std::string& text) noexcept
{
    ReplaceFileBytes(path, "\xEF\xBB\xBF", text);
}

bool TextFitsAnsiCodePage(const std::string& text) noexcept
{
    try {
        return FitsAnsiCodePage(text);
    } catch (...) {
        return false;
    }
}

int64_t GetDriveFreeSpace(const std::string& drive) noexcept
{
    try {
        const std::wstring root = Utf8ToWide(drive + "\\");
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
        // An empty removable drive must fail quietly, not ask for a disk.
        DWORD oldMode = 0;
        const BOOL modeSet = ::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &oldMode);
        const BOOL ok = ::GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector,
                                            &freeClusters, &totalClusters);
        if (modeSet) ::SetThreadErrorMode(oldMode, nullptr);
        if (!ok) return 0;
        // Counts unsigned and 64-bit wide: a volume with more than 2^31 free
        // clusters, or clusters of 4 GiB and more, must not wrap negative.
        const double bytesPerCluster =
            static_cast<double>(static_cast<uint64_t>(bytesPerSector) * sectorsPerCluster);
        const double mib = static_cast<double>(freeClusters) / 1024.0 / 1024.0 * bytesPerCluster;
        return static_cast<int64_t>(std::nearbyint(mib));  // halves to even
    } catch (...) {
        return 0;
    }
}

int64_t GetLocalFileSize(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return -1;
        // The length, not the space taken on disk (a compressed folder would
        // give less). Through an open handle because the directory entry can
        // lag behind a file another process is still writing; reading
        // attributes only is allowed whatever that writer's share mode.
        UniqueFile file(::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            BY_HANDLE_FILE_INFORMATION info{};
            LARGE_INTEGER size{};
            if (::GetFileInformationByHandle(file.get(), &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                ::GetFileSizeEx(file.get(), &size))
                return size.QuadPart;
            if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
        }
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return -1;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
        return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                    data.nFileSizeLow);
    } catch (...) {
        return -1;
    }
}
