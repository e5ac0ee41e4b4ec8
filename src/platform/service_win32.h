// The two ways ServiceExists asks about a service, open to the tests.
#pragma once

#include <string>

enum class WmiAnswer { Found, NotFound, Unreachable };

// Win32_Service asked by key name (any letter case); Unreachable when WMI
// could not be asked or did not answer. The name goes into the WQL text as it
// is: the caller keeps quotation marks out.
WmiAnswer AskWmiForService(const std::string& name) noexcept;

// True when the Service Control Manager knows a service of this key name
// (any letter case), including one it will not let this process look into.
bool ServiceKnownToScm(const std::string& name) noexcept;
