// HttpGet against a server that trickles its body out a byte a second: every
// read comes within the receive limit, so only the limit on the whole body
// ends the attempt; the next attempt gets the answer. About a minute.
#include <doctest/doctest.h>

#include "download/http.h"
#include "win_test_util.h"

using namespace wintest;

TEST_CASE("HttpGet gives up on a body that never ends and tries again")
{
    const std::string base = Env("STACKHOLD_TEST_FAULTS");
    REQUIRE_MESSAGE(!base.empty(), "STACKHOLD_TEST_FAULTS is not set: run through download_servers.py");
    Stopwatch clock;
    const std::string body = HttpGet(base + "/api/sqlserver.asp?version=2012&x64=1");
    const double seconds = clock.Seconds();
    CHECK(body == "[second attempt]");
    CHECK(seconds >= 55.0);
    CHECK(seconds < 120.0);
}
