// File-system helpers over the Win32 file API (W calls only).
#include "platform/fs.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/acl_win32.h"
#include "platform/handles_win32.h"
#include "platform/strings.h"
#include "platform/system_dll_win32.h"
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

// The attributes without read-only; "normal" when nothing else is left,
// since an attribute value of 0 is not accepted.
DWORD WithoutReadOnly(DWORD attributes) noexcept
{
    const DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return rest == 0 ? FILE_ATTRIBUTE_NORMAL : rest;
}

bool WriteAll(HANDLE file, std::string_view bytes) noexcept
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

HANDLE OpenForReplacing(const std::wstring& path) noexcept
{
    return ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates or empties the file and writes bytes into it; true when all of
// them are in. Opening with OPEN_ALWAYS and cutting the length afterwards
// (rather than CREATE_ALWAYS) also replaces a hidden or system file, which
// CREATE_ALWAYS refuses unless the caller repeats those attributes. A
// read-only file refuses writing at all: that attribute goes first, or an
// old file would stay in place while the caller believes it written.
bool ReplaceFileBytes(const std::string& path, std::string_view prefix,
                      std::string_view bytes) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return false;
        UniqueFile file(OpenForReplacing(wide));
        if (!file && ::GetLastError() == ERROR_ACCESS_DENIED) {
            const DWORD attributes = ::GetFileAttributesW(wide.c_str());
            if (IsFile(attributes) && (attributes & FILE_ATTRIBUTE_READONLY)) {
                if (::SetFileAttributesW(wide.c_str(), WithoutReadOnly(attributes)))
                    file = UniqueFile(OpenForReplacing(wide));
            }
        }
        if (!file) return false;
        if (!::SetEndOfFile(file.get())) return false;
        return WriteAll(file.get(), prefix) && WriteAll(file.get(), bytes);
    } catch (...) {
        return false;
    }
}

bool IsPathMissing(DWORD error) noexcept
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Marks the open file for deletion (it goes when its last handle closes).
// The handle needs DELETE, and FILE_WRITE_ATTRIBUTES for a read-only file.
bool DeleteThroughHandle(HANDLE file, DWORD attributes) noexcept
{
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = WithoutReadOnly(attributes);
        ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

bool IsSingleRegularFile(const BY_HANDLE_FILE_INFORMATION& info) noexcept
{
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           info.nNumberOfLinks == 1;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) noexcept
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

HeldFile Hold(UniqueFile file) noexcept
{
    return HeldFile(reinterpret_cast<std::uintptr_t>(file.release()));
}

// The entry at path opened as itself (a link is not followed), a folder
// too, with the first of these access masks that the object grants.
UniqueFile OpenEntry(const std::wstring& path, std::initializer_list<DWORD> accesses, DWORD share) noexcept
{
    for (const DWORD access : accesses) {
        UniqueFile entry(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
        if (entry || ::GetLastError() != ERROR_ACCESS_DENIED) return entry;
    }
    return UniqueFile{};
}

constexpr DWORD kSecure = READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kSecureNoOwner = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kInspect = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Windows records the share mode of an open only when it includes data
// access (read, write, execute, delete): a folder held with attribute and
// security rights alone keeps nobody from renaming or deleting it. Listing
// and traversing are a folder's read and execute.
constexpr DWORD kFolderData = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A folder held only to keep it where it is: looked at, listed and traversed.
constexpr DWORD kFolderHold = kInspect | kFolderData;

// A folder opened as itself, judged: a real folder, not a link, of a trusted
// owner; with own set, given the protected DACL on itself.
FolderFault JudgeLevel(HANDLE level, bool own) noexcept
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(level, &info)) return FolderFault::NotChecked;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderFault::ReparsePoint;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderFault::NotAFolder;
    if (!HasTrustedOwner(level)) return FolderFault::ForeignOwner;
    if (own && !ApplyProtectedSecurity(level, ProtectedKind::Folder)) return FolderFault::NotChecked;
    return FolderFault::None;
}

bool IsDotEntry(const wchar_t* name) noexcept
{
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// An entry of a reused folder that may stay in it: a regular file with one
// link, not a link itself, owned by a trusted account. Opened as itself,
// and given the protected DACL when it may stay.
bool KeepTrustedFile(const std::wstring& path) noexcept
{
    const UniqueFile file = OpenEntry(path, {kSecure, kSecureNoOwner, kInspect}, kShareAll);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info) || !IsSingleRegularFile(info) ||
        !HasTrustedOwner(file.get()))
        return false;
    // A partial or complete package of an earlier run is protected too. A
    // file that cannot be given the DACL (opened without WRITE_DAC) may stay:
    // HoldFileForRun sets it, or refuses it, before anything runs it.
    ApplyProtectedSecurity(file.get(), ProtectedKind::File);
    return true;
}

// True when everything in the folder may stay (see KeepTrustedFile). A hard
// link named like the package would have the tool append to, or overwrite,
// a file elsewhere that the user could not write; a subfolder, a link or a
// file of another owner is nothing an earlier run of ours left. Called once
// the folder carries the protected DACL, so nobody else adds an entry
// after the walk.
bool HoldsOnlyTrustedFiles(const std::wstring& folder) noexcept
{
    try {
        WIN32_FIND_DATAW data{};
        const HANDLE find = ::FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &data,
                                               FindExSearchNameMatch, nullptr, 0);
        if (find == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
        bool trusted = true;
        do {
            if (IsDotEntry(data.cFileName)) continue;
            trusted = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
                      KeepTrustedFile(JoinPath(folder, data.cFileName));
        } while (trusted && ::FindNextFileW(find, &data));
        const bool complete = !trusted || ::GetLastError() == ERROR_NO_MORE_FILES;
        ::FindClose(find);
        return trusted && complete;
    } catch (...) {
        return false;
    }
}

// The NT call that opens a name relative to a folder handle: the one way to
// reach an entry of the folder held, whatever its path leads to meanwhile.
struct UnicodeName {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};
struct NtObjectAttributes {
    ULONG Length;
    HANDLE RootDirectory;
    UnicodeName* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
struct NtIoStatus {
    union {
        LONG Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using NtOpenFileCall = LONG(WINAPI*)(PHANDLE, ACCESS_MASK, NtObjectAttributes*, NtIoStatus*, ULONG, ULONG);
constexpr ULONG kObjCaseInsensitive = 0x40;
constexpr ULONG kFileNonDirectoryFile = 0x40;
constexpr ULONG kFileSynchronousIoNonalert = 0x20;
constexpr ULONG kFileOpenReparsePoint = 0x200000;
constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusFileIsADirectory = static_cast<LONG>(0xC00000BA);

// Opens the file name inside the held folder as itself (a link is not
// followed), never a folder; sets noFile when there is no file of that name.
UniqueFile OpenInFolder(HANDLE folder, const std::wstring& name, DWORD access, bool& noFile) noexcept
{
    noFile = false;
    static const auto open = ProcAddressAs<NtOpenFileCall>(::GetModuleHandleW(L"ntdll.dll"), "NtOpenFile");
    if (!open || name.empty() || name.size() > 255) return UniqueFile{};
    // One plain name: no separator, no stream, nothing that climbs out.
    if (name.find_first_of(L"\\/:") != std::wstring::npos || name == L"." || name == L"..")
        return UniqueFile{};
    std::wstring buffer = name;
    UnicodeName text{static_cast<USHORT>(buffer.size() * sizeof(wchar_t)),
                     static_cast<USHORT>(buffer.size() * sizeof(wchar_t)), buffer.data()};
    NtObjectAttributes attributes{sizeof(NtObjectAttributes), folder, &text, kObjCaseInsensitive, nullptr,
                                  nullptr};
    NtIoStatus io{};
    HANDLE file = nullptr;
    const LONG status = open(&file, access | SYNCHRONIZE, &attributes, &io, kShareAll,
                             kFileNonDirectoryFile | kFileSynchronousIoNonalert | kFileOpenReparsePoint);
    if (status < 0) {
        noFile = status == kStatusObjectNameNotFound || status == kStatusFileIsADirectory;
        return UniqueFile{};
    }
    return UniqueFile(file);
}

// Renames whatever stands at path (a link itself, not its target) to
// path.untrusted-<local time>, so that it is neither used nor destroyed.
bool MoveAside(const std::wstring& path) noexcept
{
    try {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        wchar_t stamp[32];
        ::wsprintfW(stamp, L"%04u%02u%02u%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                    now.wMinute, now.wSecond);
        const std::wstring base = path + L".untrusted-" + stamp;
        for (int n = 1; n <= 9; ++n) {
            const std::wstring aside = n == 1 ? base : base + L"-" + std::to_wstring(n);
            if (::MoveFileExW(path.c_str(), aside.c_str(), 0)) return true;
            const DWORD error = ::GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
        }
    } catch (...) {
    }
    return false;
}

}  // namespace

bool DeleteFileIfExists(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return true;
        // Through a handle on the entry itself: a link named like the file
        // goes, its target stays.
        const UniqueFile entry =
            OpenEntry(wide, {DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE}, kShareAll);
        if (!entry) return IsPathMissing(::GetLastError()) || !IsFile(AttributesOf(wide));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(entry.get(), &info)) return false;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return true;  // a folder stays
        return DeleteThroughHandle(entry.get(), info.dwFileAttributes);
    } catch (...) {
        return false;
    }
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

bool WriteTextFile(const std::string& path, const std::string& text) noexcept
{
    try {
        return ReplaceFileBytes(path, {}, Utf8ToAnsi(text));
    } catch (...) {
        return false;
    }
}

bool WriteUtf8TextFile(const std::string& path, const std::string& text) noexcept
{
    return ReplaceFileBytes(path, "\xEF\xBB\xBF", text);
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

void ReleaseHeldFile(std::uintptr_t token) noexcept
{
    if (token != 0) ::CloseHandle(reinterpret_cast<HANDLE>(token));
}

HeldFile EnsureProtectedFolder(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return {};
        // A few rounds: each either finds the folder sound, makes it, or
        // moves aside what stands in its place; another process may race us.
        for (int round = 0; round < 4; ++round) {
            // Held with data access and without FILE_SHARE_DELETE: while it
            // is open nobody can rename or delete the folder or put another
            // in its place.
            UniqueFile folder = OpenEntry(
                wide, {kSecure | kFolderData, kSecureNoOwner | kFolderData, kInspect | kFolderData}, kHoldShare);
            if (!folder) {
                const DWORD error = ::GetLastError();
                if (error == ERROR_FILE_NOT_FOUND) {
                    if (!CreateProtectedFolder(wide.c_str()) && ::GetLastError() != ERROR_ALREADY_EXISTS)
                        return {};
                    continue;
                }
                if (error == ERROR_PATH_NOT_FOUND) return {};
                // There but not ours to open (a foreign DACL, say).
                if (!MoveAside(wide)) return {};
                continue;
            }
            const bool sound =
                JudgeLevel(folder.get(), true) == FolderFault::None && HoldsOnlyTrustedFiles(wide);
            if (sound) return Hold(std::move(folder));
            // A junction, a symbolic link, a file, a folder someone else
            // owns, one whose DACL cannot be set, or one holding anything
            // but our own single-link files: never used as it stands.
            folder.reset();
            if (!MoveAside(wide)) return {};
        }
    } catch (...) {
    }
    return {};
}

HeldFile HoldFileForRun(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return {};
        // Read access and sharing read only: the system may still start the
        // program (it opens it to read and execute, sharing read), nobody
        // may write it, delete it or rename another file over it.
        UniqueFile file;
        for (const DWORD access : {GENERIC_READ | WRITE_DAC | WRITE_OWNER, GENERIC_READ | WRITE_DAC}) {
            file = UniqueFile(::CreateFileW(wide.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (file || ::GetLastError() != ERROR_ACCESS_DENIED) break;
        }
        if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) return {};
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file.get(), &info) || !IsSingleRegularFile(info)) return {};
        if (!ApplyProtectedSecurity(file.get(), ProtectedKind::File)) return {};
        return Hold(std::move(file));
    } catch (...) {
        return {};
    }
}

HeldFile WriteFreshTextFile(const std::string& path, const std::string& text) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        const std::string bytes = Utf8ToAnsi(text);
        if (wide.empty()) return {};
        BY_HANDLE_FILE_INFORMATION written{};
        {
            UniqueFile file(CreateProtectedFile(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ));
            if (!file) return {};
            if (!WriteAll(file.get(), bytes) || !::GetFileInformationByHandle(file.get(), &written)) {
                DeleteThroughHandle(file.get(), 0);
                return {};
            }
        }
        // Held by a second handle with read access only: the command
        // interpreter opens the file to read it while we hold it, whatever
        // sharing it asks for, and nobody can open it for writing meanwhile.
        // Between the two handles the protected DACL keeps others out; the
        // file index proves the held file is the one written.
        UniqueFile held(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!held || !::GetFileInformationByHandle(held.get(), &info) || !SameFile(info, written) ||
            !IsSingleRegularFile(info))
            return {};
        return Hold(std::move(held));
    } catch (...) {
        return {};
    }
}

bool DeleteFileInHeldFolder(const HeldFile& folder, const std::string& name) noexcept
{
    try {
        if (!folder) return false;
        const HANDLE held = reinterpret_cast<HANDLE>(folder.token());
        bool noFile = false;
        const UniqueFile entry =
            OpenInFolder(held, Utf8ToWide(name), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, noFile);
        if (!entry) return noFile;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(entry.get(), &info)) return false;
        return DeleteThroughHandle(entry.get(), info.dwFileAttributes);
    } catch (...) {
        return false;
    }
}

TrustedFolder HoldTrustedFolder(const std::string& path, bool own) noexcept
{
    TrustedFolder result;
    result.fault = FolderFault::NotCreated;
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return result;
        const std::initializer_list<DWORD> owning = {kFolderHold | WRITE_DAC | WRITE_OWNER, kFolderHold | WRITE_DAC};
        const std::initializer_list<DWORD> looking = {kFolderHold};
        bool made = false;
        // Twice at most: another process may make the level between our
        // look and our CreateDirectoryW; then it is judged like any other.
        for (int round = 0; round < 2; ++round) {
            // One we made already carries the protected DACL.
            UniqueFile level = OpenEntry(wide, own && !made ? owning : looking, kHoldShare);
            if (level) {
                result.fault = made ? JudgeLevel(level.get(), false) : JudgeLevel(level.get(), own);
                if (result.fault == FolderFault::None) result.hold = Hold(std::move(level));
                return result;
            }
            if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
                result.fault = IsPathMissing(::GetLastError()) ? FolderFault::NotCreated : FolderFault::NotChecked;
                return result;
            }
            if (CreateProtectedFolder(wide.c_str())) {
                made = true;
            } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
                result.fault = FolderFault::NotCreated;
                return result;
            }
        }
        result.fault = FolderFault::NotChecked;
    } catch (...) {
    }
    return result;
}

HeldFile HoldFolder(const std::string& path) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return {};
        UniqueFile folder = OpenEntry(wide, {kFolderHold}, kHoldShare);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!folder || !::GetFileInformationByHandle(folder.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return {};
        return Hold(std::move(folder));
    } catch (...) {
        return {};
    }
}
