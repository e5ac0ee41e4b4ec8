#include "envcheck/version.h"

int VersionNumber(const std::string& versionText)
{
    // The number the gate keeps is 16 bits wide: anything larger cannot be a
    // Windows version and reads as unreadable, like any other junk.
    constexpr int kLargest = 32767;
    int number = 0;
    bool anyDigit = false;
    for (const char c : versionText) {
        if (c == '.') continue;
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
        if (number > kLargest) return 0;
        anyDigit = true;
    }
    return anyDigit ? number : 0;
}
