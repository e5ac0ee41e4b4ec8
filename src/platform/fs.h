// File-system helpers shared by the steps. Paths are UTF-8; none of these
// throws: each answers its failure through its result.
#pragma once

#include <cstdint>
#include <string>

// True always; removes the file (even a read-only one) when it is there.
bool DeleteFileIfExists(const std::string& path) noexcept;
// True only when a file (not a folder) exists at path.
bool FileExists(const std::string& path) noexcept;
// True only when a folder (not a file) exists at path.
bool FolderExists(const std::string& path) noexcept;
// True when the folder exists after the call; creates the last level only.
bool EnsureFolder(const std::string& path) noexcept;
// Replaces the whole file with text in the system ANSI code page, no BOM.
void WriteTextFile(const std::string& path, const std::string& text) noexcept;
// Replaces the whole file with text as UTF-8 preceded by a byte-order mark.
void WriteUtf8TextFile(const std::string& path, const std::string& text) noexcept;
// True when every character of text has a place in the system ANSI code page.
bool TextFitsAnsiCodePage(const std::string& text) noexcept;
// Free space of a drive ("C:") in whole MiB, halves to even; 0 when unreadable.
int64_t GetDriveFreeSpace(const std::string& drive) noexcept;
// Size in bytes; -1 when the file is missing or cannot be measured.
int64_t GetLocalFileSize(const std::string& path) noexcept;
