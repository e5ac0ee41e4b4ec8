// The tool's decisions, apart from any I/O: how to treat a response to a
// (possibly ranged) request, which failures are worth another try and how
// long to wait before it, and which exit status a run ends with. They follow
// GNU wget's manual and its exit statuses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wget {

// GNU wget's exit statuses.
enum ExitCode : int {
    kExitOk = 0,
    kExitGeneric = 1,
    kExitUsage = 2,
    kExitFileIo = 3,
    kExitNetwork = 4,
    kExitTls = 5,
    kExitServerError = 8,
};

// A Content-Range header "bytes FIRST-LAST/TOTAL"; total is -1 for "*".
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = -1;
};
std::optional<ContentRange> ParseContentRange(std::string_view header);

// Reads a decimal byte count such as a Content-Length; -1 when it is none.
std::int64_t ParseByteCount(std::string_view text);

enum class Verdict {
    WriteFromStart,   // the body is the whole document: write it from offset 0
    Append,           // the body continues the bytes already held
    AlreadyComplete,  // nothing is missing: a 416 whose "bytes */N" is the size held
    NotComplete,      // a 416 whose total is not the size held: fail, keep the file as it is
    RangeMismatch,    // 206 that does not start where asked, or whose length is not
                      // that of its range: never append it, try again
    TryAgain,         // a passing server condition (504): retry
    ServerError,      // any other status: fail without writing the body
};

// What of an answer's head decides how its body is used.
struct Answer {
    int status = 0;
    std::optional<ContentRange> range;  // its Content-Range, when it parses
    std::int64_t length = -1;           // its Content-Length; -1 when absent
    std::int64_t unsatisfied = -1;      // N of a 416's "bytes */N"; -1 when absent
};

// N of a Content-Range "bytes */N", as a 416 carries it; -1 when it is none.
std::int64_t ParseUnsatisfiedRange(std::string_view header);

// held: the bytes of the document already on disk, asked for with
// "Range: bytes=held-" when above 0. A server that ignores the range and
// answers 200 gets the download restarted from scratch, as the manual of
// GNU wget's -c describes. Any other 2xx answering a range request is a
// server error: the file is left as it is.
Verdict JudgeResponse(const Answer& answer, std::int64_t held);

// The length of the body an answer carries, as far as its head tells: the
// Content-Length, or the size of its range for a 206 without one; -1 unknown.
std::int64_t BodyLength(const Answer& answer);

// The document's validators, as the first answer of a download gave them.
struct Validator {
    std::string etag;          // ETag as sent, quotes included
    std::string lastModified;  // Last-Modified as sent
    std::int64_t total = -1;   // the document's whole size, -1 unknown
};

// True when text holds a control character: CR, LF, a tab, NUL, DEL or one
// of the C1 range (U+0080 to U+009F, as UTF-8), blanks around it not
// excepted. Echoed in a request header, such a value would let the server
// write lines of its own into the request.
bool HoldsControlCharacter(std::string_view text);

// The validators of an answer as they may be used: an answer whose ETag or
// Last-Modified holds a control character is taken as one that carried no
// validator at all (both are dropped; its total stays).
Validator UsableValidator(Validator answered);

// The If-Range value to send with a range request: the ETag when it is a
// strong one (a weak ETag may not be used there), else the Last-Modified
// date, else empty (no If-Range). Never a value that holds a control
// character.
std::string IfRangeValue(const Validator& first);

// False when an answer shows a document other than the one the bytes held
// came from: a validator or the total that both answers name differs.
bool SameDocument(const Validator& first, const Validator& now);

// True when an opened output file may be written: a regular file (not a
// folder, not a link of any kind) with one name only. attributes and links
// as the file's handle reports them.
bool IsPlainOutputFile(std::uint32_t attributes, std::uint32_t links);

// How a failed attempt goes on.
enum class FailureKind {
    Retry,   // read error, dropped connection, time-out: try again
    Fatal,   // no further try helps (refused, unknown host, bad certificate)
};
struct Failure {
    FailureKind kind;
    int exitCode;
};
// Classifies a WinHTTP (or Winsock) error number.
Failure ClassifyNetworkError(std::uint32_t error);

// Seconds to wait after the given failed try (1-based), linear back-off
// 1, 2, 3 ... up to waitRetry, as GNU wget's --waitretry.
int RetryWaitSeconds(int failedTry, int waitRetry);

// True when another try is allowed after `done` tries (tries 0: no limit).
bool MayTryAgain(int done, int tries);

// Exit status of a run of several downloads: apart from 0 and 1, the
// lower-numbered status takes precedence, as in GNU wget.
int CombineExitCodes(int a, int b);

}  // namespace wget
