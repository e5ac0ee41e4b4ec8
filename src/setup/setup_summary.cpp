#include "setup/setup_summary.h"

#include <algorithm>
#include <cstdlib>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && EqualsNoCase(text.substr(0, start.size()), start);
}

bool ContainsNoCase(std::string_view text, std::string_view part)
{
    if (part.empty()) return true;
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (EqualsNoCase(text.substr(i, part.size()), part)) return true;
    return false;
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// "  Label:   value" → label and value, both trimmed; false without a colon.
bool SplitLabel(std::string_view line, std::string_view& label, std::string_view& value)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    label = Trimmed(line.substr(0, colon));
    value = Trimmed(line.substr(colon + 1));
    return true;
}

// A signed decimal that fits 32 bits: setup writes its HRESULT-like codes
// as negative numbers.
std::optional<int32_t> DecimalCode(std::string_view text)
{
    text = Trimmed(text);
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) i = 1;
    if (i >= text.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 4294967295LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < -2147483648LL) return std::nullopt;
    // An unsigned 32-bit value names the same code.
    if (value > 2147483647LL) value -= 4294967296LL;
    return static_cast<int32_t>(value);
}

// The rule identifiers that the installer's causes rest on, as setup's
// system configuration check names them.
constexpr std::string_view kKnownRules[] = {
    "RebootRequiredCheck", "OsVersionCheck", "FacetWOW64PlatformCheck", "Wow64PlatformCheck",
    "ThreadHasAdminPrivilegeCheck", "WmiServiceStateCheck", "SetupCompatibilityCheck",
};

bool IsIdentifierChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Whole identifiers of the line (letters, digits, underscores).
std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && !IsIdentifierChar(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && IsIdentifierChar(line[i])) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

// An identifier shaped like a rule's: CamelCase ending in "Check" or
// beginning with "Facet" (the form setup gives every rule).
bool LooksLikeRule(std::string_view word)
{
    if (word.size() < 6 || !(word[0] >= 'A' && word[0] <= 'Z')) return false;
    return (word.size() > 5 && word.substr(word.size() - 5) == "Check") || word.rfind("Facet", 0) == 0;
}

void AddRule(std::vector<std::string>& rules, std::string_view rule)
{
    if (std::find(rules.begin(), rules.end(), rule) == rules.end()) rules.emplace_back(rule);
}

std::string FolderOf(std::string_view path)
{
    const std::size_t cut = path.find_last_of('\\');
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut));
}

}  // namespace

SummaryFindings ParseSetupSummary(std::string_view text)
{
    SummaryFindings f;
    bool haveResult = false, haveCode = false, haveMessage = false;
    bool inFailedRules = false;
    for (std::string_view raw : Lines(text)) {
        const std::string_view line = Trimmed(raw);
        std::string_view label, value;
        const bool labelled = SplitLabel(line, label, value);
        if (labelled && EqualsNoCase(label, "Overall summary")) f.recognised = true;

        // The overall summary comes first; instance and feature summaries
        // after it repeat these labels for their own part.
        if (labelled && !haveResult && EqualsNoCase(label, "Final result")) {
            haveResult = true;
            f.recognised = true;
            f.finalResult = std::string(value);
            f.passed = StartsWithNoCase(value, "Passed");
            f.restartRequested = f.passed && (ContainsNoCase(value, "reboot") || ContainsNoCase(value, "restart"));
        } else if (labelled && !haveCode && StartsWithNoCase(label, "Exit code")) {
            haveCode = true;
            f.recognised = true;
            f.exitCode = DecimalCode(value);
        } else if (labelled && !haveMessage && EqualsNoCase(label, "Exit message")) {
            haveMessage = true;
            f.exitMessage = std::string(value);
        } else if (labelled && f.logFolder.empty() &&
                   (EqualsNoCase(label, "Log with failure") || EqualsNoCase(label, "Rules report file"))) {
            // The value is a path with its own colon after the drive letter.
            const std::size_t colon = line.find(':');
            f.logFolder = FolderOf(Trimmed(line.substr(colon + 1)));
        }

        if (labelled && StartsWithNoCase(label, "Rules with failures")) {
            inFailedRules = true;
            continue;
        }
        if (inFailedRules && labelled && EqualsNoCase(label, "Rules report file")) inFailedRules = false;

        // Rule identifiers: anything rule-shaped inside the failed rules'
        // list, and the known ones wherever a line reports them failed.
        const bool failedLine = ContainsNoCase(line, "fail") && !ContainsNoCase(line, "passed");
        for (std::string_view word : Words(line)) {
            const bool known = std::find(std::begin(kKnownRules), std::end(kKnownRules), word) != std::end(kKnownRules);
            if ((inFailedRules && LooksLikeRule(word)) || (known && (failedLine || inFailedRules)))
                AddRule(f.failedRules, word);
        }
    }
    if (f.exitCode && *f.exitCode == 3010 && f.passed) f.restartRequested = true;
    return f;
}

namespace {

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE without its mark; empty when a surrogate stands alone or a byte
// is left over.
std::string FromUtf16Le(std::string_view bytes)
{
    if (bytes.size() % 2 != 0) return {};
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= bytes.size()) return {};
            const uint32_t low =
                static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            if (low < 0xDC00 || low > 0xDFFF) return {};
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return {};
        }
        AppendUtf8(out, unit);
    }
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        // Overlong forms and surrogates are no UTF-8.
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::string DecodeSummaryBytes(std::string_view bytes, std::string (*fromAnsi)(std::string_view))
{
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') return FromUtf16Le(bytes.substr(2));
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        const std::string_view rest = bytes.substr(3);
        return IsValidUtf8(rest) ? std::string(rest) : std::string();
    }
    // A NUL byte belongs to no text of ours: UTF-16 without its mark, or no text.
    if (bytes.find('\0') != std::string_view::npos) return {};
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return fromAnsi ? fromAnsi(bytes) : std::string();
}

std::optional<SummaryFile> PickSetupSummary(const std::vector<SummaryFile>& files, int64_t notBefore)
{
    std::optional<SummaryFile> best;
    for (const SummaryFile& file : files) {
        if (file.lastWrite < notBefore) continue;  // an earlier run's: never blamed
        if (!best || (file.topLevel && !best->topLevel) ||
            (file.topLevel == best->topLevel && file.lastWrite > best->lastWrite))
            best = file;
    }
    return best;
}
