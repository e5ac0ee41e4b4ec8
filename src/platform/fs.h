// File-system helpers shared by the steps. Paths are UTF-8; none of these
// throws: each answers its failure through its result.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

// Lets go of a file or folder that HeldFile holds open (platform procedure).
void ReleaseHeldFile(std::uintptr_t token) noexcept;

// A file or folder the installer keeps open, sharing read only, so that
// nobody can change, replace, rename or delete it while it is held. Move-only;
// letting go of it closes the platform's handle.
class HeldFile {
public:
    HeldFile() noexcept = default;
    explicit HeldFile(std::uintptr_t token) noexcept : token_(token) {}
    ~HeldFile() { reset(); }
    HeldFile(HeldFile&& other) noexcept : token_(std::exchange(other.token_, 0)) {}
    HeldFile& operator=(HeldFile&& other) noexcept
    {
        if (this != &other) {
            reset();
            token_ = std::exchange(other.token_, 0);
        }
        return *this;
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    explicit operator bool() const noexcept { return token_ != 0; }
    std::uintptr_t token() const noexcept { return token_; }
    void reset() noexcept
    {
        if (token_ != 0) ReleaseHeldFile(std::exchange(token_, 0));
    }

private:
    std::uintptr_t token_ = 0;
};

// True when no file is left at path: it was not there, or it was removed
// (even a read-only one). A link at path is removed itself, never followed;
// a folder of that name is left alone.
bool DeleteFileIfExists(const std::string& path) noexcept;
// True only when a file (not a folder) exists at path.
bool FileExists(const std::string& path) noexcept;
// True only when a folder (not a file) exists at path.
bool FolderExists(const std::string& path) noexcept;
// True when the folder exists after the call; creates the last level only.
bool EnsureFolder(const std::string& path) noexcept;
// Replaces the whole file (a read-only, hidden or system one too) with text
// in the system ANSI code page, no BOM. True when every byte was written.
[[nodiscard]] bool WriteTextFile(const std::string& path, const std::string& text) noexcept;
// Replaces the whole file with text as UTF-8 preceded by a byte-order mark.
[[nodiscard]] bool WriteUtf8TextFile(const std::string& path, const std::string& text) noexcept;
// True when every character of text has a place in the system ANSI code page.
bool TextFitsAnsiCodePage(const std::string& text) noexcept;
// Free space of a drive ("C:") in whole MiB, halves to even; 0 when unreadable.
int64_t GetDriveFreeSpace(const std::string& drive) noexcept;
// Size in bytes; -1 when the file is missing or cannot be measured.
int64_t GetLocalFileSize(const std::string& path) noexcept;

// The folder for files that later run as administrator, made safe: created
// with the protected DACL (SYSTEM and Administrators full control, Users
// read and execute, owner Administrators), or, when it is there from an
// earlier run, given that DACL again, on itself and on the files it holds. A
// link, a file or a folder of a foreign owner at path, and a folder holding
// anything but regular single-link files of a trusted owner (a hard link, a
// subfolder, a link, a file of another account), is moved aside (to path +
// ".untrusted-" + a time stamp) and a fresh folder made. The folder is held
// open (listing and traversing, sharing read and write, not delete) so that
// it cannot be renamed or removed while the installer runs; empty when no
// safe folder could be had.
[[nodiscard]] HeldFile EnsureProtectedFolder(const std::string& path) noexcept;
// Removes the file of that plain name from the folder that EnsureProtectedFolder
// holds, reached through the held folder itself, never through a path: nothing
// outside that folder is touched, whatever its path leads to meanwhile. A link
// of that name goes itself; a folder of that name stays. True when no such
// file is left; false when the folder is not held or the file stays.
bool DeleteFileInHeldFolder(const HeldFile& folder, const std::string& name) noexcept;
// Opens the file that is about to be checked and run: read access, sharing
// read only, a regular file with one link and not a link itself, given the
// protected DACL. Empty when any of that fails (another process still has it
// open for writing, say).
[[nodiscard]] HeldFile HoldFileForRun(const std::string& path) noexcept;
// Writes text (system ANSI code page) into a file that did not exist before
// (never an existing file, never through a link), created with the
// protected DACL, and keeps it open sharing read only. Empty when the file
// could not be created fresh or not written whole; a file it created but
// could not fill is removed again.
[[nodiscard]] HeldFile WriteFreshTextFile(const std::string& path, const std::string& text) noexcept;

// Why a folder could not be had as one the installer may trust.
enum class FolderFault {
    None,
    NotCreated,    // missing, and it could not be made (invalid name, no parent, access denied)
    NotAFolder,    // a file stands at that path
    ReparsePoint,  // a junction, a symbolic link or a mount point
    ForeignOwner,  // owned by an account other than the trusted ones
    NotChecked,    // there, but it could not be opened, judged or protected
};

struct TrustedFolder {
    HeldFile hold;  // set when fault is None
    FolderFault fault = FolderFault::None;
};

// One level of a directory that the installer hands on to what runs as
// SYSTEM (its parent must exist). When missing, it is created with the
// protected DACL; when there, it must be a real folder, not a link, owned
// by Administrators, SYSTEM, TrustedInstaller or the running account, and
// with own set it is given the protected DACL itself (not what it holds).
// It is held open as HoldFolder holds, so that nobody can rename or replace
// it while held. Nothing is moved aside or changed when it is refused.
[[nodiscard]] TrustedFolder HoldTrustedFolder(const std::string& path, bool own) noexcept;
// Holds the folder at path open (list and traverse, sharing read and write
// but not deletion): while held, nobody can rename, delete or replace it.
// Empty when there is no folder at path or it cannot be opened.
[[nodiscard]] HeldFile HoldFolder(const std::string& path) noexcept;
