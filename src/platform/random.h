#pragma once

#include <cstddef>

// Fills buffer with bytes from the operating system's cryptographic generator.
// False when the generator could not be used.
bool FillRandomBytes(void* buffer, std::size_t size) noexcept;
