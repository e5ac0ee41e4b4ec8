// The system random generator.
#include <doctest/doctest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/random.h"

TEST_CASE("FillRandomBytes gives a new draw every time")
{
    std::array<unsigned char, 32> first{}, second{}, zero{};
    REQUIRE(FillRandomBytes(first.data(), first.size()));
    REQUIRE(FillRandomBytes(second.data(), second.size()));
    CHECK(first != second);
    CHECK(first != zero);
    CHECK(second != zero);
}

TEST_CASE("FillRandomBytes fills every byte of a large buffer")
{
    // Past the generator's per-call chunk: every byte value should show in
    // 3 MiB, the tail included, if the whole buffer was written.
    std::vector<unsigned char> buffer((3u << 20) + 5, 0);
    REQUIRE(FillRandomBytes(buffer.data(), buffer.size()));
    std::array<int, 256> counts{};
    for (const unsigned char b : buffer) ++counts[b];
    int smallest = counts[0], largest = counts[0];
    for (const int c : counts) {
        smallest = std::min(smallest, c);
        largest = std::max(largest, c);
    }
    // 12,288 expected per value; random spread is about 111.
    CHECK(smallest > 11000);
    CHECK(largest < 13600);
    int tailZeros = 0;
    for (std::size_t i = buffer.size() - 64; i < buffer.size(); ++i) tailZeros += buffer[i] == 0;
    CHECK(tailZeros < 8);
}

TEST_CASE("FillRandomBytes with nothing to fill")
{
    CHECK(FillRandomBytes(nullptr, 0));
    CHECK_FALSE(FillRandomBytes(nullptr, 16));
}
