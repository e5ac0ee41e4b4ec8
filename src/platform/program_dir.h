// Where the program lies: the folder that holds the program file, and with
// it wget.exe; the installation directory's default and the package folder
// are placed relative to it.
#pragma once

#include <string>
#include <string_view>

// The folder that holds the program file, without a trailing backslash
// except at a drive root ("C:\").
std::string GetProgramDir() noexcept;
// The running program's own file name ("Stackhold.exe"), whatever it was
// renamed to; empty when the system gives none.
std::string ProgramFileName() noexcept;
// The folder part of a file's full path, by the same rule.
std::wstring FolderOfFile(std::wstring_view path);
