// The WinHTTP client against a server that accepts and then stays silent:
// the 30 s receive limit ends the attempt (under Wine only because the request
// carries its own response limit), HttpGet tries again, and the HEAD wait
// ends too, with the window's events flowing all along. About a minute.
#include <doctest/doctest.h>

#include "download/http.h"
#include "win_test_util.h"
#include "wizard/ui.h"

using namespace wintest;

namespace {

std::string FaultUrl(const std::string& path)
{
    const std::string base = Env("STACKHOLD_TEST_FAULTS");
    REQUIRE_MESSAGE(!base.empty(), "STACKHOLD_TEST_FAULTS is not set: run through download_servers.py");
    return base + path;
}

}  // namespace

TEST_CASE("HttpGet gives up on a silent first attempt after the receive limit and tries again")
{
    // The server stays silent on the first request to this path and answers
    // the second.
    Stopwatch clock;
    const std::string body = HttpGet(FaultUrl("/silent-once"));
    const double seconds = clock.Seconds();
    CHECK(body == "[second attempt]");
    CHECK(seconds >= 25.0);
    CHECK(seconds < 60.0);
    CHECK(HttpGet(FaultUrl("/count/silent-once")) == "2");
}

TEST_CASE("GetRemoteFileSize on a silent server ends after the receive limit")
{
    TickingWindow window(100);
    REQUIRE(window.ok());
    Stopwatch clock;
    CHECK(GetRemoteFileSize(FaultUrl("/silent"), PumpEvents) == 0);
    const double seconds = clock.Seconds();
    CHECK(seconds >= 25.0);
    CHECK(seconds < 60.0);
    CHECK(window.ticks() >= 100);
}
