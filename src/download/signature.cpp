#include "download/signature.h"

namespace {

bool IsSha256Hex(const std::string& text)
{
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

std::string LowerHex(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

SignerPolicy SignerPolicyFor(const std::string& publisher, const std::string& pinnedRootSha256)
{
    if (!pinnedRootSha256.empty()) {
        if (!IsSha256Hex(pinnedRootSha256)) return {};
        return {SignerRoot::Pinned, LowerHex(pinnedRootSha256)};
    }
    if (publisher == kMicrosoftPublisher) return {SignerRoot::MicrosoftProduct, {}};
    return {};
}
