#pragma once

#include <string>

// The characters a password is drawn from (position 42, "z", is never drawn).
inline constexpr char kPasswordAlphabet[] = "a4bc5Ade3fBg6h4Cjk7Dm8nE9pq2rFst5uGvw6xHyz";

// Maps one uniform draw r in [0, 1) to a 1-based alphabet position.
int PasswordPositionFor(float r);

// A password of length characters from the alphabet, drawn from the
// operating system's cryptographic generator, holding at least one capital,
// one small letter and one digit (what SQL Server's complexity rule needs).
// Empty for a length below 1 or when the generator fails.
std::string GenerateRandomPassword(int length);
