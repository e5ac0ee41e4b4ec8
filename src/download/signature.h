#pragma once

#include <string>

// True when the file carries a valid Authenticode signature that chains to a
// trusted root and whose signer's name is publisher.
bool VerifyPackageSignature(const std::string& path, const std::string& publisher) noexcept;
