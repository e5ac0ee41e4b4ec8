#include "files.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace wget {

std::int64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ParentDirectory(const std::string& path)
{
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) return {};
    return path.substr(0, cut);
}

bool EnsureDirectory(const std::string& dir)
{
    if (dir.empty()) return true;
    const std::wstring wide = Utf8ToWide(dir);
    // Create each level from the top; a level that exists or that may not
    // be created (a drive root, a share) is passed over, only the result counts.
    for (std::size_t i = 1; i <= wide.size(); ++i) {
        if (i == wide.size() || wide[i] == L'\\' || wide[i] == L'/') {
            const std::wstring level = wide.substr(0, i);
            if (level.back() == L':') continue;
            CreateDirectoryW(level.c_str(), nullptr);
        }
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace wget
