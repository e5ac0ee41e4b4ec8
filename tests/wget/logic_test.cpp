// The download tool's decisions without any network: the command line, the
// file name taken from an address, the answer to a ranged request, the
// retry rhythm, the exit status, the device names and the TLS policy the tool
// shares with the installer.
#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "address.h"
#include "platform/device_names.h"
#include "platform/names.h"
#include "platform/winhttp_session_win32.h"
#include "options.h"
#include "policy.h"
#include "progress.h"

using namespace wget;

namespace {

// A WinHttpSetOption that accepts only the protocol sets a given system knows.
std::vector<DWORD> gAskedProtocols;
DWORD gKnownProtocols = 0;
BOOL WINAPI FakeSetOption(HINTERNET, DWORD option, LPVOID value, DWORD size)
{
    if (option != WINHTTP_OPTION_SECURE_PROTOCOLS || size != sizeof(DWORD)) return FALSE;
    const DWORD asked = *static_cast<DWORD*>(value);
    gAskedProtocols.push_back(asked);
    return (asked & ~gKnownProtocols) == 0 ? TRUE : FALSE;
}

ParseResult Parse(std::vector<std::string> args) { return ParseArguments(args); }

}  // namespace

TEST_CASE("the installer's command line: -P, is overridden by the later --directory-prefix")
{
    // What the program gets after Windows has split
    // "..\wget.exe" -c -P, --directory-prefix="C:\Program Files\S\packages" "http://h/p/f.exe"
    const ParseResult r = Parse({"-c", "-P,", "--directory-prefix=C:\\Program Files\\S\\packages",
                                 "http://h/p/f.exe"});
    REQUIRE(r.action == ParseAction::Run);
    CHECK(r.options.continueFile);
    CHECK(r.options.directoryPrefix == "C:\\Program Files\\S\\packages");
    CHECK(r.options.addresses == std::vector<std::string>{"http://h/p/f.exe"});
    // Alone, -P, names the directory ",".
    CHECK(Parse({"-P,", "u"}).options.directoryPrefix == ",");
}

TEST_CASE("option forms GNU wget accepts")
{
    struct Case {
        std::vector<std::string> args;
        std::string prefix;
        bool cont;
        bool quiet;
        int tries;
    };
    const Case cases[] = {
        {{"-P", "d1", "u"}, "d1", false, false, 20},
        {{"-Pd2", "u"}, "d2", false, false, 20},
        {{"--directory-prefix", "d3", "u"}, "d3", false, false, 20},
        {{"--directory-prefix=d4", "-P", "d5", "u"}, "d5", false, false, 20},
        {{"--dir=d6", "u"}, "d6", false, false, 20},          // unambiguous prefix
        {{"-cq", "u"}, ".", true, true, 20},                   // clustered flags
        {{"-cqPd7", "u"}, "d7", true, true, 20},              // value at the end of a cluster
        {{"--continue", "--quiet", "u"}, ".", true, true, 20},
        {{"-t", "3", "u"}, ".", false, false, 3},
        {{"-t5", "u"}, ".", false, false, 5},
        {{"--tries=inf", "u"}, ".", false, false, 0},
        {{"u", "-c"}, ".", true, false, 20},                   // options after the address
        {{"-P", "", "u"}, ".", false, false, 20},              // empty prefix: current directory
    };
    for (const Case& c : cases) {
        CAPTURE(c.args.front());
        const ParseResult r = Parse(c.args);
        REQUIRE(r.action == ParseAction::Run);
        CHECK(r.options.directoryPrefix == c.prefix);
        CHECK(r.options.continueFile == c.cont);
        CHECK(r.options.quiet == c.quiet);
        CHECK(r.options.tries == c.tries);
        CHECK(r.options.addresses == std::vector<std::string>{"u"});
    }
}

TEST_CASE("time limits and waits")
{
    const Options defaults = Parse({"u"}).options;
    CHECK(defaults.readTimeoutMs == 900000);  // GNU wget's read time-out
    CHECK(defaults.connectTimeoutMs == 60000);
    CHECK(defaults.dnsTimeoutMs == 0);
    CHECK(defaults.waitRetrySeconds == 10);

    const Options all = Parse({"-T", "3", "u"}).options;
    CHECK(all.readTimeoutMs == 3000);
    CHECK(all.connectTimeoutMs == 3000);
    CHECK(all.dnsTimeoutMs == 3000);

    const Options parts = Parse({"--timeout=0.5", "--read-timeout=7", "--waitretry=2", "u"}).options;
    CHECK(parts.connectTimeoutMs == 500);
    CHECK(parts.readTimeoutMs == 7000);
    CHECK(parts.waitRetrySeconds == 2);
}

TEST_CASE("-O, -- and several addresses")
{
    const ParseResult r = Parse({"-O", "out.bin", "--", "-c", "u2"});
    REQUIRE(r.action == ParseAction::Run);
    CHECK(*r.options.outputDocument == "out.bin");
    CHECK_FALSE(r.options.continueFile);  // after "--" it is an address
    CHECK(r.options.addresses == std::vector<std::string>{"-c", "u2"});
    CHECK(Parse({"-O-", "u"}).options.outputDocument == std::string("-"));
}

TEST_CASE("command-line errors")
{
    struct Case {
        std::vector<std::string> args;
        ParseAction action;
    };
    const Case cases[] = {
        {{"--bogus", "u"}, ParseAction::UsageError},
        {{"-x", "u"}, ParseAction::UsageError},
        {{"-cx", "u"}, ParseAction::UsageError},
        {{"--t=1", "u"}, ParseAction::UsageError},         // --tries or --timeout
        {{"-t", "many", "u"}, ParseAction::UsageError},
        {{"-T", "-1", "u"}, ParseAction::UsageError},
        {{"--continue=yes", "u"}, ParseAction::UsageError},
        {{"u", "-P"}, ParseAction::UsageError},             // value missing
        {{"-c"}, ParseAction::NoAddress},
        {{}, ParseAction::NoAddress},
        {{"-h", "--bogus"}, ParseAction::Help},              // answered when met
        {{"--version"}, ParseAction::Version},
        {{"-V", "u"}, ParseAction::Version},
    };
    for (const Case& c : cases) {
        CAPTURE(c.args.size());
        const ParseResult r = Parse(c.args);
        CHECK(r.action == c.action);
        if (c.action == ParseAction::UsageError) CHECK_FALSE(r.message.empty());
    }
    CHECK(Parse({"--t=1", "u"}).message.find("--tries") != std::string::npos);
}

TEST_CASE("file name from the address")
{
    struct Case {
        const char* address;
        const char* name;
    };
    const Case cases[] = {
        {"http://h/dl/SQLEXPR_x64_CHS.exe", "SQLEXPR_x64_CHS.exe"},
        {"http://h/a/b/", "index.html"},
        {"http://h", "h"},                              // text after the last "/", as the installer takes it
        {"h:80", "h%3A80"},                             // no "/" at all: the whole address
        {"http://h/get.asp?f=1&v=2", "get.asp@f=1&v=2"},
        {"http://h/x?a?b", "x@a%3Fb"},                  // only the first "?" becomes "@"
        {"http://h/a:b*c|d", "a%3Ab%2Ac%7Cd"},
        {"http://h/q\"<>", "q%22%3C%3E"},
        {"http://h/%E6%96%87.exe", "%E6%96%87.exe"},     // as given, not decoded
        {"http://h/文件.exe", "文件.exe"},
        {"http://h/a/..", "index.html"},
        {"http://h/a/.", "index.html"},
        {"http://h/nul", "_nul"},
        {"http://h/CON.txt", "_CON.txt"},
        {"http://h/com1", "_com1"},
        {"http://h/com10", "com10"},
        {"http://h/console", "console"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.address);
        CHECK(FileNameFromAddress(c.address) == c.name);
    }
}

TEST_CASE("device names: the tool renames exactly what the installer refuses")
{
    // The installer takes the text after the last "/" as the package name
    // and refuses it when it is no valid Windows name; the tool stores the
    // download under FileNameFromAddress. For every name the installer
    // accepts the two must be the same file.
    struct Case {
        const char* name;
        bool device;
    };
    const Case cases[] = {
        {"con", true},     {"CON.exe", true},   {"con .exe", true}, {"Nul  .tar.gz", true},
        {"aux", true},     {"prn.txt", true},   {"com1", true},     {"LPT9.exe", true},
        {"com\xC2\xB9.exe", true},              {"lpt\xC2\xB3", true},
        {"com0", false},   {"com10", false},    {"console", false}, {"con_x.exe", false},
        {"lpt\xC2\xB4", false},
        {"SQLEXPR_x64_CHS.exe", false},         {"setup (1).exe", false},
        {"文件.exe", false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(IsDeviceName(c.name) == c.device);
        const std::string stored = FileNameFromAddress(std::string("http://h/p/") + c.name);
        CHECK((stored == std::string("_") + c.name) == c.device);
        if (IsValidWindowsName(c.name)) CHECK(stored == c.name);
        if (c.device) CHECK_FALSE(IsValidWindowsName(c.name));
    }
    // Every ASCII character in a name, and a name ending in it: whatever the
    // installer accepts, the tool stores unchanged.
    for (int ch = 1; ch < 0x80; ++ch) {
        if (ch == '/') continue;  // ends the name, for both
        for (const std::string& name : {std::string("a") + static_cast<char>(ch) + "b.exe",
                                       std::string("setup.exe") + static_cast<char>(ch)}) {
            CAPTURE(ch);
            if (IsValidWindowsName(name)) CHECK(FileNameFromAddress("http://h/p/" + name) == name);
        }
    }
}

TEST_CASE("target path")
{
    CHECK(PathUnderPrefix("C:\\p\\packages", "f.exe") == "C:\\p\\packages\\f.exe");
    CHECK(PathUnderPrefix("C:\\", "f.exe") == "C:\\f.exe");
    CHECK(PathUnderPrefix("d/", "f.exe") == "d/f.exe");
    CHECK(PathUnderPrefix(".", "f.exe") == "f.exe");
    CHECK(PathUnderPrefix(",", "f.exe") == ",\\f.exe");
}

TEST_CASE("address parsing")
{
    struct Case {
        const char* text;
        bool ok;
        bool secure;
        const char* host;
        int port;
        const char* target;
    };
    const Case cases[] = {
        {"http://h/p", true, false, "h", 80, "/p"},
        {"HTTPS://h/p", true, true, "h", 443, "/p"},
        {"https://h:8443/a/b?c=d#frag", true, true, "h", 8443, "/a/b?c=d"},
        {"h:81/x", true, false, "h", 81, "/x"},                       // no scheme: http
        {"http://user:pw@h/x", true, false, "h", 80, "/x"},
        {"http://[::1]:8080/x", true, false, "::1", 8080, "/x"},
        {"http://h", true, false, "h", 80, "/"},
        {"http://h?q", true, false, "h", 80, "/?q"},
        {"http://h/a b/文", true, false, "h", 80, "/a%20b/%E6%96%87"},
        {"http://h/100%/%41", true, false, "h", 80, "/100%25/%41"},
        {"http://h:/x", true, false, "h", 80, "/x"},
        {"ftp://h/x", false, false, "", 0, ""},
        {"http:///x", false, false, "", 0, ""},
        {"http://h:0/x", false, false, "", 0, ""},
        {"http://h:65536/x", false, false, "", 0, ""},
        {"http://h:8o/x", false, false, "", 0, ""},
        {"http://[::1/x", false, false, "", 0, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        std::string error;
        const auto a = ParseAddress(c.text, error);
        REQUIRE(a.has_value() == c.ok);
        if (!c.ok) {
            CHECK_FALSE(error.empty());
            continue;
        }
        CHECK(a->secure == c.secure);
        CHECK(a->host == c.host);
        CHECK(a->port == c.port);
        CHECK(a->target == c.target);
    }
}

TEST_CASE("Content-Range")
{
    const auto r = ParseContentRange("bytes 100-199/200");
    REQUIRE(r);
    CHECK(r->first == 100);
    CHECK(r->last == 199);
    CHECK(r->total == 200);

    const auto big = ParseContentRange("bytes 4294967396-7516192767/7516192768");
    REQUIRE(big);
    CHECK(big->first == 4294967396LL);
    CHECK(big->total == 7516192768LL);

    const auto unknown = ParseContentRange("Bytes 5-9/*");
    REQUIRE(unknown);
    CHECK(unknown->total == -1);

    for (const char* bad : {"", "bytes */200", "bytes 10-5/200", "bytes 0-200/200", "items 0-1/2",
                            "bytes -1-5/9", "bytes 1-5", "bytes a-5/9", "bytes 99999999999999999999-1/2"}) {
        CAPTURE(bad);
        CHECK_FALSE(ParseContentRange(bad));
    }
    CHECK(ParseByteCount(" 5368709120 ") == 5368709120LL);
    CHECK(ParseByteCount("") == -1);
    CHECK(ParseByteCount("-5") == -1);
    CHECK(ParseByteCount("12x") == -1);
}

TEST_CASE("answer to a ranged request")
{
    const std::optional<ContentRange> none;
    const std::optional<ContentRange> at100 = ContentRange{100, 199, 200};
    const std::optional<ContentRange> at0 = ContentRange{0, 199, 200};
    const std::optional<ContentRange> short100 = ContentRange{100, 149, 200};  // ends before the total
    struct Case {
        int status;
        std::int64_t held;
        std::optional<ContentRange> range;
        std::int64_t length;       // Content-Length, -1 absent
        std::int64_t unsatisfied;  // N of a 416's "bytes */N", -1 absent
        Verdict verdict;
    };
    const Case cases[] = {
        {200, 0, none, 200, -1, Verdict::WriteFromStart},
        {200, 100, none, 200, -1, Verdict::WriteFromStart},  // range ignored: start again
        {206, 100, at100, 100, -1, Verdict::Append},
        {206, 100, at100, -1, -1, Verdict::Append},          // no length: the range's
        {206, 100, short100, 50, -1, Verdict::Append},       // a short part is kept; the rest is asked for
        {206, 100, at100, 99, -1, Verdict::RangeMismatch},   // length and range disagree
        {206, 100, at100, 101, -1, Verdict::RangeMismatch},
        {206, 100, short100, 100, -1, Verdict::RangeMismatch},
        {206, 100, at0, 200, -1, Verdict::RangeMismatch},
        {206, 100, none, 100, -1, Verdict::RangeMismatch},
        {206, 0, at0, 200, -1, Verdict::WriteFromStart},
        {206, 0, at100, 100, -1, Verdict::RangeMismatch},
        {416, 200, none, 0, 200, Verdict::AlreadyComplete},  // bytes */200, 200 held
        {416, 300, none, 0, 200, Verdict::NotComplete},      // longer than the document
        {416, 150, none, 0, 200, Verdict::NotComplete},      // shorter: a 416 is no proof of the end
        {416, 200, none, 0, -1, Verdict::NotComplete},       // no size given
        {416, 0, none, 0, 200, Verdict::ServerError},        // nothing was asked for
        {204, 100, none, 0, -1, Verdict::ServerError},       // other 2xx to a range request: truncate nothing
        {203, 100, none, 200, -1, Verdict::ServerError},
        {204, 0, none, 0, -1, Verdict::WriteFromStart},      // without a range it is the document
        {404, 0, none, 9, -1, Verdict::ServerError},
        {404, 100, none, 9, -1, Verdict::ServerError},
        {500, 0, none, 9, -1, Verdict::ServerError},
        {504, 0, none, 9, -1, Verdict::TryAgain},
        {302, 0, none, 0, -1, Verdict::ServerError},         // a redirection left over
    };
    for (const Case& c : cases) {
        CAPTURE(c.status);
        CAPTURE(c.held);
        CAPTURE(c.length);
        Answer a;
        a.status = c.status;
        a.range = c.range;
        a.length = c.length;
        a.unsatisfied = c.unsatisfied;
        CHECK(JudgeResponse(a, c.held) == c.verdict);
    }
    Answer part;
    part.status = 206;
    part.range = short100;
    CHECK(BodyLength(part) == 50);
    part.length = 50;
    CHECK(BodyLength(part) == 50);
    CHECK(BodyLength(Answer{200, none, -1, -1}) == -1);
}

TEST_CASE("a 416's size")
{
    CHECK(ParseUnsatisfiedRange("bytes */3145745") == 3145745);
    CHECK(ParseUnsatisfiedRange(" Bytes */5368709120 ") == 5368709120LL);
    CHECK(ParseUnsatisfiedRange("bytes*/7") == 7);
    for (const char* bad : {"", "bytes */", "bytes */*", "bytes 0-1/2", "bytes */-1", "items */5", "bytes */5x"}) {
        CAPTURE(bad);
        CHECK(ParseUnsatisfiedRange(bad) == -1);
    }
}

TEST_CASE("validators across tries: If-Range and a changed document")
{
    struct IfRangeCase {
        Validator first;
        const char* sent;
    };
    const IfRangeCase ifRange[] = {
        {{"\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", 9}, "\"abc\""},
        {{"W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", 9}, "Tue, 01 Dec 2026 10:00:00 GMT"},  // weak: not usable
        {{"", "Tue, 01 Dec 2026 10:00:00 GMT", 9}, "Tue, 01 Dec 2026 10:00:00 GMT"},
        {{"W/\"abc\"", "", 9}, ""},
        {{"", "", 9}, ""},
    };
    for (const IfRangeCase& c : ifRange) {
        CAPTURE(c.first.etag);
        CHECK(IfRangeValue(c.first) == c.sent);
    }

    const Validator first{"\"a\"", "Mon, 30 Nov 2026 08:00:00 GMT", 3145745};
    struct SameCase {
        Validator now;
        bool same;
    };
    const SameCase same[] = {
        {{"\"a\"", "Mon, 30 Nov 2026 08:00:00 GMT", 3145745}, true},
        {{"", "", -1}, true},                                     // nothing to compare
        {{"\"a\"", "", 3145745}, true},
        {{"\"b\"", "Mon, 30 Nov 2026 08:00:00 GMT", 3145745}, false},
        {{"\"a\"", "Tue, 01 Dec 2026 10:00:00 GMT", 3145745}, false},
        {{"\"a\"", "Mon, 30 Nov 2026 08:00:00 GMT", 3145746}, false},  // another size
        {{"", "", 99}, false},
    };
    for (const SameCase& c : same) {
        CAPTURE(c.now.etag);
        CAPTURE(c.now.total);
        CHECK(SameDocument(first, c.now) == c.same);
    }
}

TEST_CASE("retries: which failures, how long to wait, how often")
{
    CHECK(ClassifyNetworkError(12029).kind == FailureKind::Fatal);  // refused
    CHECK(ClassifyNetworkError(12029).exitCode == kExitNetwork);
    CHECK(ClassifyNetworkError(12157).exitCode == kExitTls);
    CHECK(ClassifyNetworkError(12175).exitCode == kExitTls);
    for (unsigned e : {12002u, 10060u, 12030u, 12152u}) {
        CAPTURE(e);
        CHECK(ClassifyNetworkError(e).kind == FailureKind::Retry);
        CHECK(ClassifyNetworkError(e).exitCode == kExitNetwork);
    }
    // 1, 2, ... up to --waitretry.
    CHECK(RetryWaitSeconds(1, 10) == 1);
    CHECK(RetryWaitSeconds(4, 10) == 4);
    CHECK(RetryWaitSeconds(15, 10) == 10);
    CHECK(RetryWaitSeconds(3, 0) == 0);
    CHECK(MayTryAgain(19, 20));
    CHECK_FALSE(MayTryAgain(20, 20));
    CHECK(MayTryAgain(1000, 0));
}

TEST_CASE("exit status of several downloads")
{
    CHECK(CombineExitCodes(0, 0) == 0);
    CHECK(CombineExitCodes(0, 8) == 8);
    CHECK(CombineExitCodes(8, 0) == 8);
    CHECK(CombineExitCodes(8, 4) == 4);  // the lower number wins...
    CHECK(CombineExitCodes(4, 8) == 4);
    CHECK(CombineExitCodes(1, 8) == 8);  // ...except 1
    CHECK(CombineExitCodes(3, 1) == 3);
    CHECK(CombineExitCodes(0, 1) == 1);
}

TEST_CASE("progress texts")
{
    CHECK(HumanSize(1023) == "1023");
    CHECK(HumanSize(102400) == "100K");
    CHECK(HumanSize(1536 * 1024) == "1.5M");
    CHECK(HumanSize(1073741824) == "1.0G");
    CHECK(HumanSize(6442450944LL) == "6.0G");
    CHECK(HumanRate(409.0 * 1024 * 1024) == "409 MB/s");
    CHECK(HumanRate(12.34 * 1024) == "12.3 KB/s");

    ProgressState s;
    s.held = 1000;
    s.received = 1000;
    s.total = 4000;
    s.seconds = 1;
    CHECK(Percent(s) == 50);
    CHECK(DisplayColumns("ab剩余") == 6);
    s.total = -1;
    CHECK(Percent(s) == -1);
    s.total = 4000;
    // The line fits the console whatever the name.
    for (int columns : {40, 80, 132}) {
        const std::string line = ProgressBar(std::string(200, 'n'), s, columns);
        CHECK(DisplayColumns(line) == columns - 1);
        CHECK(line.find(" 50%[") != std::string::npos);
    }
    // The bar keeps its place and length while sizes and rates change.
    ProgressState later = s;
    later.received = 3000;
    later.seconds = 0.001;
    const std::string a = ProgressBar("C:\\p\\f.exe", s, 80);
    const std::string b = ProgressBar("C:\\p\\f.exe", later, 80);
    CHECK(a.rfind("f.exe", 0) == 0);  // the file's own name, not its directory
    CHECK(a.find('[') == b.find('['));
    CHECK(a.find(']') == b.find(']'));
}

TEST_CASE("one TLS policy: 1.2 and 1.3, then 1.2 alone, then the system's own")
{
    constexpr DWORD k10 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1;
    constexpr DWORD k11 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1;
    constexpr DWORD k12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    constexpr DWORD k13 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    struct Case {
        const char* system;
        DWORD known;
        bool applied;
        std::vector<DWORD> asked;
    };
    const Case cases[] = {
        {"Windows 11", k10 | k11 | k12 | k13, true, {k12 | k13}},
        {"Windows 7 with the TLS update, 8.1, 10", k10 | k11 | k12, true, {k12 | k13, k12}},
        {"Windows 7 without it", k10, false, {k12 | k13, k12}},  // keeps its own protocols
    };
    HINTERNET session = reinterpret_cast<HINTERNET>(static_cast<std::uintptr_t>(1));
    for (const Case& c : cases) {
        CAPTURE(c.system);
        gAskedProtocols.clear();
        gKnownProtocols = c.known;
        CHECK(ApplyTlsPolicy(session, FakeSetOption) == c.applied);
        CHECK(gAskedProtocols == c.asked);
        // TLS 1.0 and 1.1 are never asked for.
        for (DWORD asked : gAskedProtocols) CHECK((asked & (k10 | k11)) == 0);
    }
}
