#pragma once

#include <string>

struct InstallState;

// The SQL Server setup command line, byte for byte.
std::string SetupCommandLine(const InstallState& state);
