#include "policy.h"

#include <algorithm>
#include <limits>
#include <string>

namespace wget {
namespace {

constexpr std::int64_t kMaxCount = std::numeric_limits<std::int64_t>::max() / 10 - 10;

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Digits only, no sign, no blanks; -1 when there are none or they overflow.
std::int64_t Digits(std::string_view s)
{
    if (s.empty()) return -1;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9' || v > kMaxCount) return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

}  // namespace

std::int64_t ParseByteCount(std::string_view text) { return Digits(Trim(text)); }

std::optional<ContentRange> ParseContentRange(std::string_view header)
{
    std::string_view s = Trim(header);
    // The unit, compared without regard to case; some servers leave out the blank.
    if (s.size() < 5) return std::nullopt;
    std::string unit;
    for (char c : s.substr(0, 5)) unit += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (unit != "bytes") return std::nullopt;
    s = Trim(s.substr(5));
    const std::size_t dash = s.find('-');
    const std::size_t slash = s.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash)
        return std::nullopt;
    ContentRange r;
    r.first = Digits(Trim(s.substr(0, dash)));
    r.last = Digits(Trim(s.substr(dash + 1, slash - dash - 1)));
    const std::string_view total = Trim(s.substr(slash + 1));
    r.total = total == "*" ? -1 : Digits(total);
    if (r.first < 0 || r.last < r.first || (total != "*" && (r.total < 0 || r.last >= r.total)))
        return std::nullopt;
    return r;
}

std::int64_t ParseUnsatisfiedRange(std::string_view header)
{
    std::string_view s = Trim(header);
    if (s.size() < 5) return -1;
    std::string unit;
    for (char c : s.substr(0, 5)) unit += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (unit != "bytes") return -1;
    s = Trim(s.substr(5));
    if (s.empty() || s.front() != '*') return -1;
    s = Trim(s.substr(1));
    if (s.empty() || s.front() != '/') return -1;
    return Digits(Trim(s.substr(1)));
}

std::int64_t BodyLength(const Answer& a)
{
    if (a.length >= 0) return a.length;
    if (a.status == 206 && a.range) return a.range->last - a.range->first + 1;
    return -1;
}

Verdict JudgeResponse(const Answer& a, std::int64_t held)
{
    if (a.status == 206) {
        if (!a.range) return held > 0 ? Verdict::RangeMismatch : Verdict::WriteFromStart;
        if (a.range->first != held) return Verdict::RangeMismatch;
        // A length other than that of the range: one of the two is wrong,
        // and the bytes could land in the wrong place.
        if (a.length >= 0 && a.length != a.range->last - a.range->first + 1)
            return Verdict::RangeMismatch;
        return held > 0 ? Verdict::Append : Verdict::WriteFromStart;
    }
    if (a.status == 416 && held > 0)
        return a.unsatisfied == held ? Verdict::AlreadyComplete : Verdict::NotComplete;
    if (a.status == 504) return Verdict::TryAgain;
    if (a.status == 200) return Verdict::WriteFromStart;
    if (a.status > 200 && a.status < 300) return held > 0 ? Verdict::ServerError : Verdict::WriteFromStart;
    return Verdict::ServerError;
}

bool HoldsControlCharacter(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return true;
        // U+0080 to U+009F in UTF-8: C2 80 to C2 9F.
        if (c == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) return true;
        }
    }
    return false;
}

Validator UsableValidator(Validator answered)
{
    if (HoldsControlCharacter(answered.etag) || HoldsControlCharacter(answered.lastModified)) {
        answered.etag.clear();
        answered.lastModified.clear();
    }
    return answered;
}

std::string IfRangeValue(const Validator& first)
{
    const Validator usable = UsableValidator(first);
    const std::string_view etag = Trim(usable.etag);
    if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return std::string(etag);
    return std::string(Trim(usable.lastModified));
}

bool SameDocument(const Validator& first, const Validator& now)
{
    auto differ = [](std::string_view a, std::string_view b) {
        a = Trim(a);
        b = Trim(b);
        return !a.empty() && !b.empty() && a != b;
    };
    if (differ(first.etag, now.etag) || differ(first.lastModified, now.lastModified)) return false;
    return first.total < 0 || now.total < 0 || first.total == now.total;
}

bool IsPlainOutputFile(std::uint32_t attributes, std::uint32_t links)
{
    constexpr std::uint32_t kDirectory = 0x10;     // FILE_ATTRIBUTE_DIRECTORY
    constexpr std::uint32_t kReparsePoint = 0x400; // FILE_ATTRIBUTE_REPARSE_POINT
    return (attributes & (kDirectory | kReparsePoint)) == 0 && links == 1;
}

Failure ClassifyNetworkError(std::uint32_t error)
{
    switch (error) {
    case 12029:  // ERROR_WINHTTP_CANNOT_CONNECT: refused, as GNU wget gives up at once
    case 12007:  // ERROR_WINHTTP_NAME_NOT_RESOLVED
        return {FailureKind::Fatal, kExitNetwork};
    case 12175:  // ERROR_WINHTTP_SECURE_FAILURE
    case 12157:  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR (Wine's answer to an untrusted root)
    case 12045:  // ERROR_WINHTTP_SECURE_INVALID_CA
    case 12037:  // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
    case 12038:  // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
    case 12169:  // ERROR_WINHTTP_SECURE_INVALID_CERT
    case 12170:  // ERROR_WINHTTP_SECURE_CERT_REVOKED
    case 12179:  // ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE
    case 12044:  // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
        return {FailureKind::Fatal, kExitTls};
    case 12005:  // ERROR_WINHTTP_INVALID_URL
    case 12006:  // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
        return {FailureKind::Fatal, kExitGeneric};
    case 12156:  // ERROR_WINHTTP_REDIRECT_FAILED (e.g. from https to http)
        return {FailureKind::Fatal, kExitServerError};
    case 8:      // ERROR_NOT_ENOUGH_MEMORY
    case 14:     // ERROR_OUTOFMEMORY
        return {FailureKind::Fatal, kExitGeneric};
    default:     // time-outs (12002, 10060), lost connections (12030, 12152), cancels
        return {FailureKind::Retry, kExitNetwork};
    }
}

int RetryWaitSeconds(int failedTry, int waitRetry)
{
    return std::max(0, std::min(failedTry, waitRetry));
}

bool MayTryAgain(int done, int tries) { return tries == 0 || done < tries; }

int CombineExitCodes(int a, int b)
{
    auto rank = [](int code) { return code <= 1 ? code : 100 - code; };
    return rank(b) > rank(a) ? b : a;
}

}  // namespace wget
