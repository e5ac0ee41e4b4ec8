// Small text helpers of the portable core (UTF-8 std::string throughout).
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Replaces every occurrence of from by to in one left-to-right pass.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Splits at every separator; an empty text gives one empty piece.
std::vector<std::string> Split(std::string_view text, char separator);
std::string ToLowerAscii(std::string_view text);
bool Contains(std::string_view text, std::string_view part);

// A folder and a name inside it: the folder, one backslash, the name. Joined
// as given, so a folder that ends in a backslash (a drive root "C:\") gives
// two; JoinPathCollapsed is for the paths made from the program directory.
// (Appended rather than added: GCC 12 at -O2 warns falsely, -Wrestrict, on
// inlined chains of + that insert a literal in front of a temporary.)
inline std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, '\\').append(name);
    return path;
}
inline std::wstring JoinPath(std::wstring_view folder, std::wstring_view name)
{
    std::wstring path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, L'\\').append(name);
    return path;
}

// JoinPath, then every pair of backslashes made one in a single left-to-right
// pass: a program directory at a drive root ("C:\") gives "C:\packages".
// Deliberately every pair, wherever it stands, not only the one at the join
// (the unit tests pin it for the installation and package folders).
inline std::string JoinPathCollapsed(std::string_view folder, std::string_view name)
{
    return ReplaceAll(JoinPath(folder, name), "\\\\", "\\");
}
