#include "transfer.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "address.h"
#include "console.h"
#include "files.h"
#include "policy.h"
#include "progress.h"
#include "platform/handles_win32.h"
#include "platform/system_dll_win32.h"
#include "platform/winhttp_session_win32.h"
#include "platform/text_win32.h"

namespace wget {
namespace {

// WinHTTP is not one of the DLLs Windows always loads from its own
// directory: linked in the ordinary way, a winhttp.dll planted beside the
// tool (a Downloads folder) would be loaded instead. So it is loaded by its
// full system path (LoadSystemDll) and called through this table.
struct WinHttpApi {
    decltype(&::WinHttpOpen) Open = nullptr;
    decltype(&::WinHttpConnect) Connect = nullptr;
    decltype(&::WinHttpOpenRequest) OpenRequest = nullptr;
    decltype(&::WinHttpSetOption) SetOption = nullptr;
    decltype(&::WinHttpSetTimeouts) SetTimeouts = nullptr;
    decltype(&::WinHttpAddRequestHeaders) AddRequestHeaders = nullptr;
    decltype(&::WinHttpSendRequest) SendRequest = nullptr;
    decltype(&::WinHttpReceiveResponse) ReceiveResponse = nullptr;
    decltype(&::WinHttpQueryHeaders) QueryHeaders = nullptr;
    decltype(&::WinHttpReadData) ReadData = nullptr;
    decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable = nullptr;
    decltype(&::WinHttpCloseHandle) CloseHandle = nullptr;
};

WinHttpApi gApi;

void CloseInternet(HINTERNET h) noexcept { gApi.CloseHandle(h); }
using InternetHandle = Unique<HINTERNET, CloseInternet>;

InternetHandle gSession;

// Body data is gathered into one large block before it is written: few,
// large writes keep the transfer fast and the memory use flat.
constexpr DWORD kBufferSize = 1 << 20;
// On a slow link a block fills slowly. Data held this long is written out
// anyway, so the file keeps growing on disk (the installer's progress reads
// its size once a second) and a tool stopped from outside loses little.
constexpr ULONGLONG kHoldMs = 500;
constexpr ULONGLONG kConsoleRedrawMs = 200;

template <typename F>
bool Bind(HMODULE module, const char* name, F& out) noexcept
{
    out = ProcAddressAs<F>(module, name);
    return out != nullptr;
}

bool LoadWinHttp() noexcept
{
    HMODULE m = LoadSystemDll(L"winhttp.dll");
    if (!m) return false;
    return Bind(m, "WinHttpOpen", gApi.Open) && Bind(m, "WinHttpConnect", gApi.Connect) &&
           Bind(m, "WinHttpOpenRequest", gApi.OpenRequest) &&
           Bind(m, "WinHttpSetOption", gApi.SetOption) &&
           Bind(m, "WinHttpSetTimeouts", gApi.SetTimeouts) &&
           Bind(m, "WinHttpAddRequestHeaders", gApi.AddRequestHeaders) &&
           Bind(m, "WinHttpSendRequest", gApi.SendRequest) &&
           Bind(m, "WinHttpReceiveResponse", gApi.ReceiveResponse) &&
           Bind(m, "WinHttpQueryHeaders", gApi.QueryHeaders) &&
           Bind(m, "WinHttpReadData", gApi.ReadData) &&
           Bind(m, "WinHttpQueryDataAvailable", gApi.QueryDataAvailable) &&
           Bind(m, "WinHttpCloseHandle", gApi.CloseHandle);
}

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

std::string Now()
{
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return Printf("%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
}

std::string NetworkErrorText(DWORD error)
{
    const char* what = "网络错误";
    switch (error) {
    case 12029: what = "无法连接到服务器（拒绝连接）"; break;
    case 12007: what = "无法解析主机地址"; break;
    case 12002:
    case 10060: what = "连接超时"; break;
    case 12030: what = "连接已中断"; break;
    case 12152: what = "服务器的回应无效"; break;
    case 12017: what = "操作已取消"; break;
    case 12156: what = "重定向失败"; break;
    case 12175:
    case 12157:
    case 12045:
    case 12037:
    case 12038:
    case 12169:
    case 12170:
    case 12179: what = "无法验证服务器的证书"; break;
    case 12044: what = "服务器要求客户端证书"; break;
    case 12005:
    case 12006: what = "无效的 URL"; break;
    default: break;
    }
    return Printf("%s（错误 %lu）", what, static_cast<unsigned long>(error));
}

std::string SystemErrorText(DWORD error)
{
    UniqueLocal buffer;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(buffer.put()), 0, nullptr);
    const auto* text = static_cast<const wchar_t*>(buffer.get());
    std::string out;
    if (n && text) {
        out = WideToUtf8(std::wstring_view(text, n));
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
    }
    return out + Printf("（错误 %lu）", static_cast<unsigned long>(error));
}

std::string QueryText(HINTERNET request, DWORD what)
{
    DWORD bytes = 0;
    gApi.QueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return {};
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!gApi.QueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX))
        return {};
    value.resize(bytes / sizeof(wchar_t));
    return WideToUtf8(value);
}

int QueryStatus(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!gApi.QueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return static_cast<int>(status);
}

bool SetDword(HINTERNET h, DWORD option, DWORD value)
{
    return gApi.SetOption(h, option, &value, sizeof value) != FALSE;
}

// How one try ended.
struct Outcome {
    // More: a part arrived whole but ended before the document; the rest
    // is asked for at once, and that is no failed try.
    enum Kind { Done, More, Retry, Fatal } kind;
    int exitCode;
};

Outcome FromNetworkError(DWORD error)
{
    const Failure f = ClassifyNetworkError(error);
    return {f.kind == FailureKind::Fatal ? Outcome::Fatal : Outcome::Retry, f.exitCode};
}

// The document's state across the tries of one download.
struct Document {
    const Job* job = nullptr;
    Address address;
    std::string shownName;       // the path as printed
    std::int64_t base = 0;       // where this document starts in the file (-O with several)
    std::int64_t streamed = 0;   // bytes written to standard output so far
    bool firstTry = true;
    // The validators of the first answer whose body was stored: later range
    // requests carry them in If-Range, and an answer of another document is
    // never appended to these bytes.
    Validator first;
    bool haveFirst = false;
    bool restart = false;        // the document changed: the next try starts from 0
};

// Bytes of the document already held, to be asked for no more.
std::int64_t Held(const Document& doc)
{
    if (doc.job->path.empty()) return doc.streamed;
    if (doc.restart) return 0;
    if (doc.firstTry && !(doc.job->continueFile && !doc.job->appendDocument)) return 0;
    const std::int64_t size = FileSize(doc.job->path);
    return size > doc.base ? size - doc.base : 0;
}

// The file (or standard output) the body goes to, written in large blocks.
// A block is written when it is full or when its oldest bytes have waited
// kHoldMs. The reader checks that when a block arrives; a write-out thread
// checks it while the reader waits, so that after a burst followed by a
// stall the bytes reach the disk on time and the file keeps growing.
class Sink {
public:
    Sink(Document& doc, char* buffer) : doc_(doc), buffer_(buffer) {}
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;
    ~Sink() { StopWriteOut(); }

    // Opens the target; fromStart drops what it held of this document, else
    // the body goes right after the `held` bytes already there.
    bool Open(bool fromStart, std::int64_t held)
    {
        if (doc_.job->path.empty()) {
            out_ = GetStdHandle(STD_OUTPUT_HANDLE);
            // Output already written cannot be taken back: skip as much of
            // a whole-document answer as was sent before.
            skip_ = fromStart ? held : 0;
            StartWriteOut();
            return true;
        }
        const std::string dir = ParentDirectory(doc_.job->path);
        if (!EnsureDirectory(dir)) {
            Say("无法创建目录 “" + dir + "”：" + SystemErrorText(GetLastError()) + "。\n");
            return false;
        }
        // The name itself is opened, never what a link there leads to.
        file_.reset(CreateFileW(Utf8ToWide(doc_.job->path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file_) {
            Say("无法打开 “" + doc_.shownName + "” 写入：" + SystemErrorText(GetLastError()) + "。\n");
            return false;
        }
        // A link, or a file with a second name (a hard link), would carry
        // the body into a file elsewhere, one that whoever made the link
        // may not write: nothing is written, the file stays as it is.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file_.get(), &info)) {
            Say("无法写入 “" + doc_.shownName + "”：" + SystemErrorText(GetLastError()) + "。\n");
            file_.reset();
            return false;
        }
        if (!IsPlainOutputFile(info.dwFileAttributes, info.nNumberOfLinks)) {
            Say(Printf("“%s” 是链接或有 %lu 个名称的文件，不会写入。\n", doc_.shownName.c_str(),
                       static_cast<unsigned long>(info.nNumberOfLinks)));
            file_.reset();
            return false;
        }
        // Every write names its offset: the body lands right after the bytes
        // the range asked about, wherever the file pointer may be.
        offset_ = doc_.base + (fromStart ? 0 : held);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file_.get(), &size)) {
            Say("无法写入 “" + doc_.shownName + "”：" + SystemErrorText(GetLastError()) + "。\n");
            return false;
        }
        if (fromStart) {
            LARGE_INTEGER at{};
            at.QuadPart = offset_;
            if (!SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_.get())) {
                Say("无法写入 “" + doc_.shownName + "”：" + SystemErrorText(GetLastError()) + "。\n");
                return false;
            }
        } else if (size.QuadPart != offset_) {
            // Someone else changed the file since its size was read.
            Say(Printf("“%s” 在下载期间被改动（%lld 字节，应为 %lld 字节）。\n", doc_.shownName.c_str(),
                       static_cast<long long>(size.QuadPart), static_cast<long long>(offset_)));
            return false;
        }
        out_ = file_.get();
        StartWriteOut();
        return true;
    }

    // The reader fills the block under the lock, so that the write-out
    // thread never writes a block while bytes are being placed in it.
    void Lock() { AcquireSRWLockExclusive(&lock_); }
    void Unlock() { ReleaseSRWLockExclusive(&lock_); }
    char* Space() { return buffer_ + fill_; }
    DWORD Room() const { return kBufferSize - fill_; }
    // Takes n bytes just placed at Space() (lock held); writes the block
    // when it is full or its oldest bytes have waited kHoldMs.
    bool Took(DWORD n)
    {
        if (failed_) return false;
        const ULONGLONG now = GetTickCount64();
        if (fill_ == 0) heldSince_ = now;
        fill_ += n;
        return (fill_ < kBufferSize && now - heldSince_ < kHoldMs) || WriteBlock();
    }

    // Writes what is held; false when this or an earlier write failed.
    bool Flush()
    {
        Lock();
        const bool ok = !failed_ && WriteBlock();
        Unlock();
        return ok;
    }

    // Makes the written bytes durable before the download is reported done.
    bool Sync()
    {
        if (!file_) return true;
        if (FlushFileBuffers(file_.get())) return true;
        Say("\n写入 “" + doc_.shownName + "” 时出错：" + SystemErrorText(GetLastError()) + "。\n");
        return false;
    }

private:
    // Lock held.
    bool WriteBlock()
    {
        const char* p = buffer_;
        DWORD left = fill_;
        fill_ = 0;
        if (skip_ > 0) {
            const DWORD dropped = static_cast<DWORD>(skip_ < left ? skip_ : left);
            p += dropped;
            left -= dropped;
            skip_ -= dropped;
        }
        while (left > 0) {
            DWORD written = 0;
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset_) & 0xFFFFFFFFu);
            at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset_) >> 32);
            if (!WriteFile(out_, p, left, &written, file_ ? &at : nullptr) || written == 0) {
                Say("\n写入 “" + doc_.shownName + "” 时出错：" + SystemErrorText(GetLastError()) + "。\n");
                failed_ = true;
                return false;
            }
            p += written;
            left -= written;
            offset_ += written;
            if (doc_.job->path.empty()) doc_.streamed += written;
        }
        return true;
    }

    void StartWriteOut()
    {
        stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (stop_) thread_.reset(CreateThread(nullptr, 0, WriteOutThread, this, 0, nullptr));
        // Without the thread, blocks are still written as they arrive.
    }

    void StopWriteOut()
    {
        if (!thread_) return;
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
    }

    static DWORD WINAPI WriteOutThread(void* self) noexcept
    {
        auto* sink = static_cast<Sink*>(self);
        // Looks five times per hold time, so no byte waits much longer than that.
        while (WaitForSingleObject(sink->stop_.get(), static_cast<DWORD>(kHoldMs / 5)) == WAIT_TIMEOUT) {
            sink->Lock();
            if (!sink->failed_ && sink->fill_ > 0 && GetTickCount64() - sink->heldSince_ >= kHoldMs)
                sink->WriteBlock();
            sink->Unlock();
        }
        return 0;
    }

    Document& doc_;
    char* buffer_;
    DWORD fill_ = 0;
    ULONGLONG heldSince_ = 0;
    std::int64_t skip_ = 0;
    std::int64_t offset_ = 0;
    bool failed_ = false;
    SRWLOCK lock_ = SRWLOCK_INIT;
    UniqueFile file_;
    HANDLE out_ = nullptr;
    UniqueHandle stop_;
    UniqueHandle thread_;
};

// Shows progress: a bar redrawn in place on a console, a line every five
// percent (or every 10 MiB of unknown size) elsewhere.
class Meter {
public:
    Meter(const std::string& name, std::int64_t held, std::int64_t total)
        : name_(name), console_(OnConsole()), start_(GetTickCount64())
    {
        state_.held = held;
        state_.total = total;
        lastStep_ = Step();
        if (console_) columns_ = ConsoleColumns();
    }

    void Update(std::int64_t received, bool final = false)
    {
        const ULONGLONG now = GetTickCount64();
        state_.received = received;
        state_.seconds = static_cast<double>(now - start_) / 1000.0;
        if (console_) {
            if (final || now - lastDraw_ >= kConsoleRedrawMs) {
                lastDraw_ = now;
                SayProgress(ProgressBar(name_, state_, columns_));
            }
            return;
        }
        const std::int64_t step = Step();
        if (step != lastStep_) {
            Say(ProgressLogLine(state_) + "\n");
            lastStep_ = step;
        }
    }

    void End()
    {
        if (console_) Say("\n");
    }
    double Seconds() const { return state_.seconds; }

private:
    // Log lines come every five percent, or every 8 MiB of a document of unknown size.
    std::int64_t Step() const
    {
        const int percent = Percent(state_);
        return percent >= 0 ? percent / 5 : (state_.held + state_.received) >> 23;
    }

    std::string name_;
    bool console_;
    int columns_ = 80;
    ULONGLONG start_;
    ULONGLONG lastDraw_ = 0;
    std::int64_t lastStep_ = -1;
    ProgressState state_;
};

// Reads the body into the sink until it ends; false when the connection
// failed or the file could not be written (error says which).
Outcome ReceiveBody(HINTERNET request, Sink& sink, Meter& meter, std::int64_t expected,
                    std::int64_t& received)
{
    for (;;) {
        // Ask only for what has arrived: a read larger than that waits for
        // the rest, and whatever it had gathered is lost if the connection
        // fails meanwhile.
        DWORD available = 0;
        DWORD got = 0;
        bool ok = gApi.QueryDataAvailable(request, &available) != FALSE;
        if (ok && available > 0) {
            // Never more than the answer says it carries.
            DWORD want = available;
            if (expected >= 0 && static_cast<std::int64_t>(want) > expected - received)
                want = static_cast<DWORD>(expected - received);
            sink.Lock();
            if (want > sink.Room()) want = sink.Room();
            ok = want == 0 || gApi.ReadData(request, sink.Space(), want, &got);
            const bool stored = !ok || got == 0 || sink.Took(got);
            sink.Unlock();
            if (!stored) return {Outcome::Fatal, kExitFileIo};
        }
        if (!ok) {
            const DWORD error = GetLastError();
            meter.Update(received, true);
            meter.End();
            if (!sink.Flush()) return {Outcome::Fatal, kExitFileIo};
            Say(Printf("%s - 在 %lld 字节处读取错误：", Now().c_str(), static_cast<long long>(received)) +
                NetworkErrorText(error) + "。");
            return FromNetworkError(error);
        }
        if (got == 0) break;
        received += got;
        meter.Update(received);
        // Wine's WinHTTP keeps the length of a body in 32 bits (it stops
        // after 2 GiB - 1 bytes; the next try asks for the rest): the
        // length read here is 64-bit and decides where the body ends.
        if (expected >= 0 && received >= expected) break;
    }
    meter.Update(received, true);
    meter.End();
    if (!sink.Flush()) return {Outcome::Fatal, kExitFileIo};
    if (expected >= 0 && received < expected) {
        Say(Printf("%s - 连接在 %lld 字节处关闭。", Now().c_str(), static_cast<long long>(received)));
        return {Outcome::Retry, kExitNetwork};
    }
    return {Outcome::Done, kExitOk};
}

void SetRequestOptions(HINTERNET request, const Options& o)
{
    gApi.SetTimeouts(request, o.dnsTimeoutMs, o.connectTimeoutMs, o.readTimeoutMs, o.readTimeoutMs);
    // Without this Wine's WinHTTP waits for ever on a server that accepts
    // the connection and stays silent; on Windows it is harmless.
    SetDword(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(o.readTimeoutMs));
    // GNU wget follows at most 20 redirections. Unlike it, never from https
    // down to plain http (WinHTTP's default, stated here on purpose).
    SetDword(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, 20);
    SetDword(request, WINHTTP_OPTION_REDIRECT_POLICY, WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);
    // One connection per try: a connection whose body was not read to its
    // end (a failed try, or Wine's WinHTTP stopping at 2 GiB) must never be
    // used again, or the next request reads the rest of the old body.
    SetDword(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_KEEP_ALIVE);
}

// Connects, sends the request (asking for the bytes after `held`) and waits
// for the answer's headers; on failure says why and gives the outcome.
std::optional<Outcome> Exchange(const Address& a, std::int64_t held, const std::string& ifRange,
                                const Options& o, InternetHandle& connection, InternetHandle& request)
{
    auto failed = [](const char* prefix) {
        const DWORD error = GetLastError();
        Say(prefix + NetworkErrorText(error) + "。\n");
        return FromNetworkError(error);
    };
    connection.reset(gApi.Connect(gSession.get(), Utf8ToWide(a.host).c_str(),
                                  static_cast<INTERNET_PORT>(a.port), 0));
    if (!connection) return failed("");
    // The target is escaped already (address.cpp): WinHTTP must send it as it is.
    const DWORD flags = (a.secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE |
                        WINHTTP_FLAG_ESCAPE_DISABLE_QUERY;
    request.reset(gApi.OpenRequest(connection.get(), L"GET", Utf8ToWide(a.target).c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!request) return failed("");
    SetRequestOptions(request.get(), o);
    if (held > 0) {
        const std::wstring range = Utf8ToWide(Printf("Range: bytes=%lld-", static_cast<long long>(held)));
        gApi.AddRequestHeaders(request.get(), range.c_str(), static_cast<DWORD>(-1L),
                               WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
        // A server whose document changed since the first answer sends it
        // whole (200) instead of a part of the new one.
        if (!ifRange.empty()) {
            const std::wstring line = Utf8ToWide("If-Range: " + ifRange);
            gApi.AddRequestHeaders(request.get(), line.c_str(), static_cast<DWORD>(-1L),
                                   WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
        }
    }
    Say(Printf("正在连接 %s:%d... ", a.host.c_str(), a.port));
    if (!gApi.SendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0))
        return failed("失败：");
    Say("已连接。\n已发出 HTTP 请求，正在等待回应... ");
    if (!gApi.ReceiveResponse(request.get(), nullptr)) return failed("失败：");
    return std::nullopt;
}

// What is not a body to store: the outcome, or nothing when the body is to be written.
std::optional<Outcome> Refusal(Verdict verdict, const Answer& answer, std::int64_t held,
                               const std::string& reason, const std::string& rangeText)
{
    const int status = answer.status;
    switch (verdict) {
    case Verdict::AlreadyComplete:
        Say("\n    文件已下载完毕；不会进行任何操作。\n\n");
        return Outcome{Outcome::Done, kExitOk};
    case Verdict::NotComplete:
        // The file is not what the server holds (longer, or the server gave
        // no size): it stays as it is, and the run fails.
        Say(Printf("\n    本地文件有 %lld 字节，服务器上的文件", static_cast<long long>(held)) +
            (answer.unsatisfied >= 0 ? Printf("有 %lld 字节", static_cast<long long>(answer.unsatisfied))
                                     : std::string("大小不明")) +
            "；文件未改动。\n\n");
        return Outcome{Outcome::Fatal, kExitServerError};
    case Verdict::RangeMismatch:
        // GNU wget tries such an answer again and in the end reports a
        // network failure; the body is never written.
        Say("服务器返回的范围（" + (rangeText.empty() ? std::string("无") : rangeText) +
            (answer.length >= 0 ? Printf("，长度 %lld", static_cast<long long>(answer.length))
                                : std::string()) +
            "）与请求的不符。\n");
        return Outcome{Outcome::Retry, kExitNetwork};
    case Verdict::TryAgain:
        Say(Printf("%s 错误 %d：%s。\n", Now().c_str(), status, reason.c_str()));
        return Outcome{Outcome::Retry, kExitNetwork};
    case Verdict::ServerError:
        if (status >= 300 && status < 400)
            Say("重定向未能跟随（已达 20 次上限，或目标位置缺失或不被允许）。\n");
        Say(Printf("%s 错误 %d：%s。\n\n", Now().c_str(), status, reason.c_str()));
        return Outcome{Outcome::Fatal, kExitServerError};
    case Verdict::WriteFromStart:
    case Verdict::Append:
        break;
    }
    return std::nullopt;
}

void SayLength(std::int64_t length, std::int64_t total, bool append, const std::string& type)
{
    std::string line = "长度：";
    if (length < 0)
        line += "未指定";
    else if (append)
        line += Printf("%lld (%s)，剩余 %lld (%s)", static_cast<long long>(total),
                       HumanSize(total).c_str(), static_cast<long long>(length),
                       HumanSize(length).c_str());
    else
        line += Printf("%lld (%s)", static_cast<long long>(length), HumanSize(length).c_str());
    if (!type.empty()) line += " [" + type + "]";
    Say(line + "\n");
}

// One try: request, judge the answer, store the body.
Outcome Attempt(Document& doc, int tryNo, const Options& o, char* buffer)
{
    const std::int64_t held = Held(doc);
    Say("--" + Now() + "--  " + (tryNo > 1 ? Printf("(尝试次数：%d)  ", tryNo) : std::string()) +
        doc.job->address + "\n");
    InternetHandle connection;
    InternetHandle request;
    const std::string ifRange = held > 0 && doc.haveFirst ? IfRangeValue(doc.first) : std::string();
    if (const auto failure = Exchange(doc.address, held, ifRange, o, connection, request)) return *failure;

    Answer answer;
    answer.status = QueryStatus(request.get());
    const std::string reason = QueryText(request.get(), WINHTTP_QUERY_STATUS_TEXT);
    Say(Printf("%d %s\n", answer.status, reason.c_str()));
    const std::string rangeText = QueryText(request.get(), WINHTTP_QUERY_CONTENT_RANGE);
    if (!rangeText.empty()) {
        answer.range = ParseContentRange(rangeText);
        answer.unsatisfied = ParseUnsatisfiedRange(rangeText);
    }
    answer.length = ParseByteCount(QueryText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH));
    const Verdict verdict = JudgeResponse(answer, held);
    if (const auto refused = Refusal(verdict, answer, held, reason, rangeText)) return *refused;

    const bool append = verdict == Verdict::Append;
    const std::int64_t length = BodyLength(answer);
    // A validator holding a line break or another control character is
    // never echoed: such an answer counts as one without validators.
    Validator now;
    now.etag = QueryText(request.get(), WINHTTP_QUERY_ETAG);
    now.lastModified = QueryText(request.get(), WINHTTP_QUERY_LAST_MODIFIED);
    now.total = answer.range ? answer.range->total : length;
    now = UsableValidator(std::move(now));
    if (append && doc.haveFirst && !SameDocument(doc.first, now)) {
        // Appending would splice two documents into one file.
        Say("服务器上的文件已更改，将从头重新下载。\n");
        if (doc.job->path.empty()) return {Outcome::Fatal, kExitGeneric};  // sent output stays sent
        doc.restart = true;
        return {Outcome::Retry, kExitNetwork};
    }
    if (!append && held > 0 && !doc.job->path.empty()) Say("服务器不支持断点续传，将从头重新下载。\n");
    if (!append || !doc.haveFirst) {
        doc.first = now;
        doc.haveFirst = true;
    }
    const std::int64_t already = append ? held : 0;
    std::int64_t total = length >= 0 ? already + length : -1;
    if (answer.range && answer.range->total >= 0) total = answer.range->total;
    if (doc.first.total < 0) doc.first.total = total;
    SayLength(length, total, append, QueryText(request.get(), WINHTTP_QUERY_CONTENT_TYPE));

    Sink sink(doc, buffer);
    if (!sink.Open(!append, held)) return {Outcome::Fatal, kExitFileIo};
    doc.firstTry = false;
    doc.restart = false;
    Say("正在保存至: “" + doc.shownName + "”\n\n");

    Meter meter(doc.shownName, already, total);
    std::int64_t received = 0;
    const Outcome body = ReceiveBody(request.get(), sink, meter, length, received);
    if (body.kind != Outcome::Done) {
        Say("\n\n");
        return body;
    }
    if (total >= 0 && already + received < total) {
        // A part that ends before the document does (a short 206): the
        // rest is asked for; the file is never reported complete short.
        Say(Printf("%s - 已收到 %lld 字节，共 %lld 字节；将请求其余部分。\n\n", Now().c_str(),
                   static_cast<long long>(already + received), static_cast<long long>(total)));
        return {Outcome::More, kExitNetwork};
    }
    if (!sink.Sync()) return {Outcome::Fatal, kExitFileIo};
    const double seconds = meter.Seconds() > 0.001 ? meter.Seconds() : 0.001;
    Say(Printf("%s (%s) - 已保存 “%s” [%lld/%lld]\n\n", Now().c_str(),
               HumanRate(static_cast<double>(received) / seconds).c_str(), doc.shownName.c_str(),
               static_cast<long long>(already + received),
               static_cast<long long>(total >= 0 ? total : already + received)));
    return {Outcome::Done, kExitOk};
}

}  // namespace

bool StartNetwork(const Options& o)
{
    if (!LoadWinHttp()) {
        Say("无法加载 WinHTTP：" + SystemErrorText(GetLastError()) + "。\n");
        return false;
    }
    WinHttpSessionCalls calls;
    calls.open = gApi.Open;
    calls.setOption = gApi.SetOption;
    calls.setTimeouts = gApi.SetTimeouts;
    gSession.reset(OpenWinHttpSession(calls, L"Wget/1.21 (Corvane-Stackhold; WinHTTP)",
                                      {o.dnsTimeoutMs, o.connectTimeoutMs, o.readTimeoutMs, o.readTimeoutMs}));
    if (!gSession) {
        Say("无法初始化 WinHTTP：" + SystemErrorText(GetLastError()) + "。\n");
        return false;
    }
    return true;
}

int Fetch(const Job& job, const Options& o)
{
    Document doc;
    doc.job = &job;
    doc.shownName = job.path.empty() ? "-" : job.path;
    std::string error;
    std::optional<Address> address = ParseAddress(job.address, error);
    if (!address) {
        Say(job.address + "：" + error + "\n");
        return kExitGeneric;
    }
    doc.address = *address;
    if (job.appendDocument) doc.base = FileSize(job.path) > 0 ? FileSize(job.path) : 0;

    // One block for the whole run, so the memory in use stays flat however
    // large the file is.
    static std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBufferSize]);
    if (!buffer) {
        Say("内存不足。\n");
        return kExitGeneric;
    }
    // Each part that arrived whole takes the download forward by at least
    // one byte, so asking for the rest without counting it ends.
    int failed = 0;
    for (int tryNo = 1;; ++tryNo) {
        const Outcome outcome = Attempt(doc, tryNo, o, buffer.get());
        if (outcome.kind == Outcome::More) continue;
        if (outcome.kind != Outcome::Retry) return outcome.exitCode;
        ++failed;
        if (!MayTryAgain(failed, o.tries)) {
            Say("放弃。\n\n");
            return outcome.exitCode;
        }
        Say("正在重试。\n\n");
        const int wait = RetryWaitSeconds(failed, o.waitRetrySeconds);
        if (wait > 0) Sleep(static_cast<DWORD>(wait) * 1000);
    }
}

}  // namespace wget
