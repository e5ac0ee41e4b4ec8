// File-system helpers of the download tool. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace wget {

// Size in bytes of a file (64-bit); -1 when there is none.
std::int64_t FileSize(const std::string& path);
bool PathExists(const std::string& path);
// Creates dir and every missing parent; true when it exists afterwards.
bool EnsureDirectory(const std::string& dir);
// The directory part of a path ("" when it has none).
std::string ParentDirectory(const std::string& path);

}  // namespace wget
