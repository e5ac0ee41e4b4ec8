// The protection of what the installer writes and later runs or trusts: an
// explicit, protected DACL (SYSTEM and Administrators full control, Users
// read and execute, nothing inherited from the folder above) and the owner
// Administrators. The one place where such descriptors are built and set.
#pragma once

#include <windows.h>

#include "platform/handles_win32.h"

enum class ProtectedKind { Folder, File };

// A protected security descriptor ready for CreateDirectoryW or CreateFileW.
// With owner false it names no owner, for a token that may not make
// Administrators the owner (the creator becomes it then).
class ProtectedSecurity {
public:
    ProtectedSecurity(ProtectedKind kind, bool owner) noexcept;

    explicit operator bool() const noexcept { return static_cast<bool>(descriptor_); }
    SECURITY_ATTRIBUTES* Attributes() noexcept { return descriptor_ ? &attributes_ : nullptr; }
    PSECURITY_DESCRIPTOR Descriptor() const noexcept { return descriptor_.get(); }

private:
    UniqueLocal descriptor_;  // move-only, so this is neither copied nor moved
    SECURITY_ATTRIBUTES attributes_{};
};

// Sets the protected DACL (and, where the token allows, the owner
// Administrators) on an open folder or file, on that object alone: nothing
// it holds is touched. The handle needs WRITE_DAC, and WRITE_OWNER for the
// owner. True when the DACL is set.
bool ApplyProtectedSecurity(HANDLE object, ProtectedKind kind) noexcept;

// True when owner is Administrators, SYSTEM, TrustedInstaller or the
// account this process runs as: the owners whose folder may be used.
bool IsTrustedOwner(PSID owner) noexcept;
// The same for the owner of an open object; the handle needs READ_CONTROL.
bool HasTrustedOwner(HANDLE object) noexcept;

// The rights by which an account changes a file or folder: write data (on a
// folder: add files), append data (add subfolders), delete it, delete what a
// folder holds, change its permissions, take its ownership.
inline constexpr ACCESS_MASK kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;

// What a descriptor lets accounts other than the trusted owners do.
struct SecurityJudgement {
    bool ownerTrusted = false;
    // Of kChangeRights, those that an allowing entry grants to any other
    // account on the object itself.
    ACCESS_MASK othersMayChange = 0;
};
// Judges a descriptor that holds its owner and DACL. Only the entries that
// apply to the object itself count (an inherit-only entry grants nothing
// there); generic rights count as what they mean for files. Deny entries
// are not weighed against the allowing ones: a right some entry allows to
// another account counts, whatever else the list says. No DACL at all lets
// everyone do everything.
SecurityJudgement JudgeSecurity(PSECURITY_DESCRIPTOR descriptor) noexcept;
// The same for an open object; the handle needs READ_CONTROL. Nothing
// trusted and everything open when the descriptor cannot be read.
SecurityJudgement JudgeObjectSecurity(HANDLE object) noexcept;

// A folder with the protected DACL, owner Administrators where the token
// allows it. False when nothing was created (the name is taken, the parent
// is missing, access denied).
bool CreateProtectedFolder(const wchar_t* path) noexcept;

// A new file (CREATE_NEW: never an existing one, never through a link) with
// the protected DACL, open with the given access and share mode.
HANDLE CreateProtectedFile(const wchar_t* path, DWORD access, DWORD share) noexcept;
