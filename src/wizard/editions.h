// The four editions the installer offers, in the order of the edition box:
// what the box shows, the edition's code, and the keys the download-address
// service is asked with. The installer state holds the chosen row itself.
#pragma once

#include <iterator>
#include <string>

struct Edition {
    const char* item;     // the edition box's text
    const char* code;     // the edition's code ("2012x64")
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
