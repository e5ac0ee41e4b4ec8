#include "settings/password.h"

#include <cmath>
#include <cstdint>

#include "platform/random.h"

namespace {

constexpr int kAlphabetLength = 42;

bool HasCapitalSmallAndDigit(const std::string& text)
{
    bool capital = false, small = false, digit = false;
    for (char c : text) {
        capital |= c >= 'A' && c <= 'Z';
        small |= c >= 'a' && c <= 'z';
        digit |= c >= '0' && c <= '9';
    }
    return capital && small && digit;
}

// A uniform single-precision value in [0, 1) from 24 random bits, the
// precision of a float's significand.
bool DrawUniform(float& r)
{
    uint32_t bits = 0;
    if (!FillRandomBytes(&bits, sizeof bits)) return false;
    r = static_cast<float>(bits >> 8) / 16777216.0f;
    return true;
}

}  // namespace

int PasswordPositionFor(float r)
{
    // Scale to 1,000 .. 9,000,998, round halves to even, reduce modulo the
    // alphabet's length; remainder 0 takes position 1, so position 42 ("z")
    // never comes up. Deliberate: this exact mapping, "z" left out, is the
    // generator's contract (test_password.cpp pins it).
    const double x = std::nearbyint(static_cast<double>(r) * 8999999.0 + 1000.0);
    int n = static_cast<int>(static_cast<int64_t>(x) % kAlphabetLength);
    if (n == 0) n = 1;
    return n;
}

std::string GenerateRandomPassword(int length)
{
    if (length < 1) return {};
    // Setup refuses a password that breaks the Windows complexity rule on
    // machines that enforce it; draw again until it holds a capital, a small
    // letter and a digit (about one draw in sixty needs a second one). A
    // length below 3 can never hold all three and is returned as drawn.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string password;
        password.reserve(static_cast<std::size_t>(length));
        for (int i = 0; i < length; ++i) {
            float r = 0;
            if (!DrawUniform(r)) return {};
            password += kPasswordAlphabet[PasswordPositionFor(r) - 1];
        }
        if (length < 3 || HasCapitalSmallAndDigit(password)) return password;
    }
    return {};
}
