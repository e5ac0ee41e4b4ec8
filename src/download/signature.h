#pragma once

#include <string>

#include "platform/fs.h"

// The root a trusted signer's certificate chain must end in.
enum class SignerRoot {
    MicrosoftProduct,  // one of Microsoft's product roots, as the system knows them
    Pinned,            // exactly the root certificate whose SHA-256 thumbprint is given
    None,              // nothing to check against: no signature is accepted
};

struct SignerPolicy {
    SignerRoot root = SignerRoot::None;
    std::string rootSha256;  // 64 lower-case hex digits, for SignerRoot::Pinned
};

// The publisher whose signers Microsoft's product roots vouch for.
inline constexpr char kMicrosoftPublisher[] = "Microsoft Corporation";

// The root check for a publisher and a pinned root thumbprint (empty when
// none is pinned). A pin decides whenever one is given; without one, only
// Microsoft's own name has roots to be checked against. A pin that is not
// 64 hex digits accepts nothing.
SignerPolicy SignerPolicyFor(const std::string& publisher, const std::string& pinnedRootSha256);

// True when the file carries a valid Authenticode signature that chains to a
// trusted root the policy accepts, and whose signer's certificate names the
// publisher as its subject's common name and organization, both exactly.
bool VerifyPackageSignature(const std::string& path, const std::string& publisher,
                            const SignerPolicy& policy) noexcept;

// The same with this build's root setting (STACKHOLD_PUBLISHER_ROOT_SHA256).
bool VerifyPackageSignature(const std::string& path, const std::string& publisher) noexcept;
// The same check on the held file itself (WinVerifyTrust reads that very
// handle), so what was judged is what later runs; false for an empty hold.
bool VerifyPackageSignature(const HeldFile& file, const std::string& path,
                            const std::string& publisher) noexcept;
