// HTTP through WinHTTP. This file must never include wininet.h: the two
// headers clash in MinGW.
#include "download/http.h"

#include "platform/handles_win32.h"
#include "platform/pump_wait_win32.h"
#include "platform/text_win32.h"
#include "platform/winhttp_session_win32.h"

#include <winhttp.h>

#include <cstdint>
#include <string>

namespace {

// The limits of one request, in milliseconds. Every address gets them, plain
// http too: a server that accepts and then stays silent must never hold the
// installer for good.
constexpr int kResolveTimeout = 60000;
constexpr int kConnectTimeout = 30000;
constexpr int kSendTimeout = 30000;
constexpr int kReceiveTimeout = 30000;

constexpr int kGetAttempts = 5;
// The service answers a line or two; anything far larger is no answer of it,
// and is not held in memory.
constexpr std::size_t kMaxBodyBytes = 4u << 20;
// The whole body of one answer. Each read has the receive limit, but a server
// that sends a byte now and then would restart it every time and hold the
// installer, whose window does not even repaint meanwhile, for good.
constexpr ULONGLONG kBodyTimeoutMs = 60000;

constexpr wchar_t kUserAgent[] = L"Corvane-Stackhold/1.0";

void CloseInternetHandle(HINTERNET h) noexcept { WinHttpCloseHandle(h); }
using UniqueInternet = Unique<HINTERNET, CloseInternetHandle>;

struct Target {
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
    bool secure = false;
};

bool CrackAddress(const std::wstring& url, Target& target)
{
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    // Lengths of -1: the parts point into url itself.
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (!parts.lpszHostName || parts.dwHostNameLength == 0) return false;
    target.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.port = parts.nPort;
    target.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (parts.lpszUrlPath) target.pathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) target.pathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.pathAndQuery.empty() || target.pathAndQuery[0] != L'/')
        target.pathAndQuery.insert(0, 1, L'/');
    return true;
}

UniqueInternet OpenSession()
{
    WinHttpSessionCalls calls;
    calls.open = &WinHttpOpen;
    calls.setOption = &WinHttpSetOption;
    calls.setTimeouts = &WinHttpSetTimeouts;
    return UniqueInternet{OpenWinHttpSession(
        calls, kUserAgent, {kResolveTimeout, kConnectTimeout, kSendTimeout, kReceiveTimeout})};
}

// Opens, sends and receives the answer's head. The certificate is always
// checked: no security flag is ever lowered.
UniqueInternet Request(HINTERNET connection, const wchar_t* verb, const Target& target)
{
    UniqueInternet request{WinHttpOpenRequest(connection, verb, target.pathAndQuery.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              target.secure ? WINHTTP_FLAG_SECURE : 0)};
    if (!request) return request;
    // Wine never times out a server that accepts and stays silent unless the
    // request carries this limit; Windows takes it as the receive limit anyway.
    DWORD responseTimeout = kReceiveTimeout;
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return UniqueInternet{};
    return request;
}

bool ReadBody(HINTERNET request, std::string& body)
{
    body.clear();
    const ULONGLONG deadline = GetTickCount64() + kBodyTimeoutMs;
    for (;;) {
        if (GetTickCount64() > deadline) return false;
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) return false;
        if (available == 0) return true;
        if (available > kMaxBodyBytes - body.size()) return false;
        const std::size_t start = body.size();
        body.resize(start + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + start, available, &read)) return false;
        body.resize(start + read);
        if (read == 0) return true;
    }
}

// One GET attempt: true with the body of whatever status the server gave.
bool TryGet(HINTERNET connection, const Target& target, std::string& body)
{
    const UniqueInternet request = Request(connection, L"GET", target);
    return request && ReadBody(request.get(), body);
}

// Content-Length as a whole decimal number, 64 bits wide; 0 for anything else.
int64_t ParseContentLength(const std::wstring& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
    while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
    if (begin == end) return 0;
    int64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const wchar_t c = text[i];
        if (c < L'0' || c > L'9') return 0;
        const int digit = c - L'0';
        if (value > (INT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    return value;
}

// The synchronous HEAD request; runs on a worker thread.
int64_t HeadContentLength(const std::wstring& url)
{
    Target target;
    if (!CrackAddress(url, target)) return 0;
    const UniqueInternet session = OpenSession();
    if (!session) return 0;
    const UniqueInternet connection{WinHttpConnect(session.get(), target.host.c_str(), target.port, 0)};
    if (!connection) return 0;
    const UniqueInternet request = Request(connection.get(), L"HEAD", target);
    if (!request) return 0;
    wchar_t value[64];
    DWORD size = sizeof value;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             value, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return ParseContentLength(std::wstring(value, size / sizeof(wchar_t)));
}

// What the waiting thread and the worker share. Each holds one reference and
// the last to let go frees it, so the waiter may stop waiting early without
// taking the worker's memory away.
struct HeadJob {
    volatile LONG references = 2;
    std::wstring url;
    int64_t size = 0;
};

void Release(HeadJob* job) noexcept
{
    if (InterlockedDecrement(&job->references) == 0) delete job;
}

DWORD WINAPI HeadWorker(void* parameter) noexcept
{
    auto* job = static_cast<HeadJob*>(parameter);
    try {
        job->size = HeadContentLength(job->url);
    } catch (...) {
        job->size = 0;
    }
    Release(job);
    return 0;
}

}  // namespace

std::string HttpGet(const std::string& url) noexcept
{
    try {
        Target target;
        if (!CrackAddress(Utf8ToWide(url), target)) return {};
        const UniqueInternet session = OpenSession();
        if (!session) return {};
        const UniqueInternet connection{
            WinHttpConnect(session.get(), target.host.c_str(), target.port, 0)};
        if (!connection) return {};
        std::string body;
        for (int attempt = 0; attempt < kGetAttempts; ++attempt) {
            if (TryGet(connection.get(), target, body)) return BytesToText(body);
        }
        return {};
    } catch (...) {
        return {};
    }
}

int64_t GetRemoteFileSize(const std::string& url, EventPump pump) noexcept
{
    HeadJob* job = nullptr;
    try {
        job = new HeadJob;
        job->url = Utf8ToWide(url);
    } catch (...) {
        delete job;
        return 0;
    }
    const UniqueHandle thread{CreateThread(nullptr, 0, HeadWorker, job, 0, nullptr)};
    if (!thread) {
        // No worker to be had: ask on this thread, bounded by the same limits.
        int64_t size = 0;
        try {
            size = HeadContentLength(job->url);
        } catch (...) {
        }
        delete job;
        return size;
    }
    int64_t size = 0;
    if (WaitPumpingEvents(thread.get(), pump)) size = job->size;
    Release(job);
    return size;
}

std::string BytesToText(const std::string& bytes) noexcept
{
    try {
        return AnsiToUtf8(bytes);
    } catch (...) {
        return {};
    }
}
