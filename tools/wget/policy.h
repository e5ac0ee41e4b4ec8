// The tool's decisions, apart from any I/O: how to treat a response to a
// (possibly ranged) request, which failures are worth another try and how
// long to wait before it, and which exit status a run ends with. They follow
// GNU wget's manual and its exit statuses.
#pragma once

#include <cstdint>
#include <optional>
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
    AlreadyComplete,  // nothing is missing (416 to a range request)
    RangeMismatch,    // 206 that does not start where asked: never append it, try again
    TryAgain,         // a passing server condition (504): retry
    ServerError,      // any other status: fail without writing the body
};

// held: the bytes of the document already on disk, asked for with
// "Range: bytes=held-" when above 0. A server that ignores the range and
// answers 200 gets the download restarted from scratch, as the manual of
// GNU wget's -c describes.
Verdict JudgeResponse(int status, std::int64_t held, const std::optional<ContentRange>& range);

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
