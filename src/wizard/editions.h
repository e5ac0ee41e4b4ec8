// The four editions the installer offers, in the order of the edition box:
// what the box shows, the code the installer state keeps, and the keys the
// download-address service is asked with.
#pragma once

#include <iterator>
#include <string>

struct Edition {
    const char* item;     // the edition box's text
    const char* code;     // InstallState::SqlVersionCode
    const char* version;  // the service's "version" key
    int x64;              // the service's "x64" flag: 1 for a 64-bit edition
};

inline constexpr Edition kEditions[] = {
    {"SQL Server 2008 R2 Express (32位)", "2008x86", "2008", 0},
    {"SQL Server 2008 R2 Express (64位)", "2008x64", "2008", 1},
    {"SQL Server 2012 Express (32位)", "2012x86", "2012", 0},
    {"SQL Server 2012 Express (64位)", "2012x64", "2012", 1},
};
inline constexpr int kEditionCount = static_cast<int>(std::size(kEditions));
// The page opens on 2012 64-bit, whatever the bitness of Windows.
inline constexpr int kDefaultEdition = 3;

// The edition whose code this is, compared exactly; for any other text an
// edition with empty texts and x64 0, so the service is asked with an empty
// version.
const Edition& EditionByCode(const std::string& code);
