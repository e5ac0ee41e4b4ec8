#pragma once

#include <string>

// True when a Windows service with this key name is installed (any letter case).
bool ServiceExists(const std::string& name) noexcept;
