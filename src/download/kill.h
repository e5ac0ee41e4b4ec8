#pragma once

#include <string>

// Stops every process whose image name equals name (any letter case) and
// waits, bounded, until those processes have really ended.
void KillProcessByName(const std::string& name) noexcept;
