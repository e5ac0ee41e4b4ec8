// The version probe and the number the gate makes of its text.
#include <doctest/doctest.h>

#include <cstdlib>
#include <string>

#include "envcheck/version.h"

TEST_CASE("VersionNumber drops the dots and reads the rest as a number")
{
    struct Case {
        const char* text;
        int number;
    };
    const Case cases[] = {
        {"6.1", 61},  {"10.0", 100}, {"6.0", 60}, {"6.2", 62},   {"6.3", 63},  {"06.1", 61},
        {"1.2.3", 123}, {"0.0", 0},  {"", 0},     {".", 0},      {"6.x", 0},   {" 6.1", 0},
        {"-6.1", 0},  {"+6.1", 0},   {"6,1", 0},  {"3276.7", 32767}, {"3276.8", 0}, {"99999999999.9", 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CHECK(VersionNumber(c.text) == c.number);
    }
}

TEST_CASE("GetWindowsVersion reports the version the system claims")
{
    // The default test prefix reports Windows 7; the version-switching run
    // sets the version it expects in this variable.
    const char* wanted = std::getenv("STACKHOLD_EXPECTED_WINDOWS_VERSION");
    const std::string expected = wanted && *wanted ? wanted : "6.1";
    CHECK(GetWindowsVersion() == expected);
}
