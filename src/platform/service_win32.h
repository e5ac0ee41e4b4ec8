// The second way ServiceExists asks about a service, open to the tests.
#pragma once

#include <string>

// True when the Service Control Manager knows a service of this key name
// (any letter case), including one it will not let this process look into.
bool ServiceKnownToScm(const std::string& name) noexcept;
