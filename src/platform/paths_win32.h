// Windows' own folders, asked of the system rather than assumed, and whether
// a path names a file.
#pragma once

#include <windows.h>

#include <string>

// A system call that writes a folder into a buffer: GetSystemDirectoryW,
// GetWindowsDirectoryW.
using FolderQuery = UINT(WINAPI*)(LPWSTR buffer, UINT size);

// The folder the call gives, without a trailing backslash; empty when it
// gives none. Throws only when out of memory.
inline std::wstring AskFolder(FolderQuery query)
{
    std::wstring folder(MAX_PATH, L'\0');
    UINT n = query(folder.data(), static_cast<UINT>(folder.size()));
    if (n >= folder.size()) {
        // Too small: n is the size needed, its terminating zero included.
        folder.resize(n);
        n = query(folder.data(), static_cast<UINT>(folder.size()));
    }
    if (n == 0 || n >= folder.size()) return {};
    folder.resize(n);
    if (folder.back() == L'\\') folder.pop_back();
    return folder;
}

// System32 (C:\Windows\System32), also for a 32-bit program on 64-bit
// Windows: there the file system redirects what it opens under System32 to
// SysWOW64, the folder GetSystemWow64DirectoryW names, unless redirection is
// off (Wow64DisableWow64FsRedirection) or the path goes through Sysnative.
inline std::wstring SystemFolder() { return AskFolder(::GetSystemDirectoryW); }
inline std::wstring WindowsFolder() { return AskFolder(::GetWindowsDirectoryW); }

inline bool IsExistingFile(const std::wstring& path) noexcept
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
