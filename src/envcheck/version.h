#pragma once

#include <string>

// The running Windows version as "major.minor" ("6.1", "10.0"), read from the
// kernel's own numbers; "0.0" when they cannot be read.
std::string GetWindowsVersion() noexcept;

// The dot-less version number the gate compares ("6.1" gives 61, "10.0" 100);
// 0 when the text holds anything but digits and dots.
int VersionNumber(const std::string& versionText);
