#include <doctest/doctest.h>

#include <set>
#include <string>

#include "fakes/fake_system.h"
#include "settings/password.h"

TEST_CASE("password draws map onto the alphabet: rounded half to even, 0 taken as 1, \"z\" never drawn")
{
    // r × 8,999,999 + 1,000 rounded half to even, modulo 42, 0 taken as 1.
    struct Case {
        float r;
        int position;
    };
    const Case cases[] = {
        {0.0f, 1000 % 42},            // 1000 → 34
        {0.5f, 4501000 % 42 == 0 ? 1 : 4501000 % 42},
        {0.999999940f, 9000998 % 42},  // largest float below 1 → 9,000,998 (never 42)
    };
    for (const Case& c : cases) CHECK(PasswordPositionFor(c.r) == c.position);

    // Remainder 0 becomes 1, so no draw reaches position 42 ("z").
    for (int i = 0; i < 200000; ++i) {
        const int p = PasswordPositionFor(static_cast<float>(i) / 200000.0f);
        REQUIRE(p >= 1);
        REQUIRE(p <= 41);
    }
}

TEST_CASE("generated passwords: length, alphabet, no z, every class, fresh each call")
{
    fake.Reset();
    const std::string alphabet = kPasswordAlphabet;
    std::set<std::string> seen;
    for (int run = 0; run < 300; ++run) {
        const std::string p = GenerateRandomPassword(20);
        REQUIRE(p.size() == 20);
        bool capital = false, small = false, digit = false;
        for (char c : p) {
            REQUIRE(alphabet.find(c) != std::string::npos);
            REQUIRE(c != 'z');
            capital |= c >= 'A' && c <= 'Z';
            small |= c >= 'a' && c <= 'z';
            digit |= c >= '0' && c <= '9';
        }
        CHECK((capital && small && digit));
        seen.insert(p);
    }
    CHECK(seen.size() == 300);  // two calls in the same second differ
    CHECK(GenerateRandomPassword(0).empty());
    CHECK(GenerateRandomPassword(-3).empty());
}

TEST_CASE("no password at all when the system's generator fails")
{
    fake.Reset();
    fake.randomWorks = false;
    CHECK(GenerateRandomPassword(20).empty());
}
