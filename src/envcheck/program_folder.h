// The program's own folder: the installer runs as administrator and runs
// what lies beside it, so the folder, the program file and wget.exe must be
// out of every ordinary account's reach.
#pragma once

#include <string>

// The rights by which another account could change a file or folder.
enum ChangeRight : unsigned {
    kMayWriteData = 1u << 0,          // write a file; add files to a folder
    kMayAppendData = 1u << 1,         // append to a file; add subfolders to a folder
    kMayDelete = 1u << 2,             // delete or rename it
    kMayDeleteChild = 1u << 3,        // delete what a folder holds
    kMayChangePermissions = 1u << 4,  // change its DACL
    kMayTakeOwnership = 1u << 5,      // make itself the owner
};

// How far a file or folder can be trusted.
struct ObjectTrust {
    bool judged = false;        // it was there and its owner and DACL could be read
    bool ownerTrusted = false;  // Administrators, SYSTEM, TrustedInstaller or the running account
    unsigned othersMayChange = 0;  // ChangeRight bits granted to any other account on it
    bool Safe() const { return judged && ownerTrusted && othersMayChange == 0; }
};

// Platform procedure: the owner and DACL of the file or folder at path, read
// through a handle on the entry itself (a link is judged, not followed).
ObjectTrust JudgeObjectTrust(const std::string& path) noexcept;

struct ProgramFolderVerdict {
    std::string path;  // the first object found unsafe; empty when all are safe
    ObjectTrust trust;
    bool Safe() const { return path.empty(); }
};

// Judges the folder, then the program file, then wget.exe in it; the first
// that is unsafe.
ProgramFolderVerdict CheckProgramFolder(const std::string& programDir, const std::string& programFile);
