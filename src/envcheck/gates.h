// The five gates a machine must pass before the operator is asked anything,
// in this order: Windows 7 / Server 2008 R2 or later, TCP port 1433 free, no
// service of the instance's name yet, 5 GB free on C:, and the download tool
// beside the program.
#pragma once

#include <cstdint>
#include <string>

// Free space the installation needs on C: and on the data directory's drive.
inline constexpr int64_t kMinimumFreeMiB = 5120;

// Runs the gates in order and stops at the first that refuses: its message,
// or empty text when the machine passes them all. Nothing after a refusing
// gate is probed.
std::string FirstRefusedGate(const std::string& programDir, const std::string& instanceName);
