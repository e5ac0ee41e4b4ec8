// The version probe and the number the gate makes of its text.
#include <doctest/doctest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "envcheck/version.h"

namespace {

// The version the system claims; the default test prefix reports Windows 7,
// the version-switching run sets the one it expects in this variable.
std::string ExpectedVersion()
{
    const char* wanted = std::getenv("STACKHOLD_EXPECTED_WINDOWS_VERSION");
    return wanted && *wanted ? wanted : "6.1";
}

// What GetVersionExW tells this program: from Windows 8.1 on, the system
// answers 6.2 to a program whose manifest does not name the running system.
std::string CompatibilityVersion()
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExW(&info)) return {};
#pragma GCC diagnostic pop
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
}

}  // namespace

TEST_CASE("GetWindowsVersion reports the version the system claims")
{
    CHECK(GetWindowsVersion() == ExpectedVersion());
}

// Built twice: once bare, once with the program's own resources, manifest
// included (envcheck_version_manifested).
TEST_CASE("GetWindowsVersion is not told the version kept for unmanifested programs")
{
    const std::string expected = ExpectedVersion();
    CAPTURE(expected);
    CHECK(GetWindowsVersion() == expected);
#ifdef STACKHOLD_TEST_MANIFESTED
    // The manifest names Windows 7, 8, 8.1 and 10/11: even the compatibility
    // answer is the truth.
    CHECK(CompatibilityVersion() == expected);
#else
    // Without a manifest the compatibility answer stops at 6.2, so under
    // 8.1 and 10 this shows that the probe reads past it.
    CHECK(CompatibilityVersion() == (VersionNumber(expected) > 62 ? "6.2" : expected));
#endif
}
