#pragma once

#include <string>

// Shows the platform's folder chooser; the chosen folder's path, or empty
// text when the operator cancelled or the item has no file-system path.
std::string BrowseForFolder(const std::string& title) noexcept;
