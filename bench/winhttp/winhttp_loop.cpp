// The download figure's yardstick: the least a program can do to fetch a
// file through WinHTTP. The session is opened as the download tool opens
// its own (platform/winhttp_session_win32.h); then one GET and a loop of
// WinHttpReadData into a 1 MiB buffer, written straight to the file. No
// resuming, no checks beyond the status, no progress: whatever this moves
// per second is WinHTTP's ceiling on this system.
//
// usage: winhttp_loop.exe URL FILE      exit 0 when the whole body is written
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/winhttp_session_win32.h"

namespace {

int Fail(const char* what)
{
    std::fprintf(stderr, "winhttp_loop: %s failed (error %lu)\n", what, ::GetLastError());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: winhttp_loop URL FILE\n");
        return 2;
    }
    std::wstring url = argv[1];
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256] = {}, path[2048] = {};
    parts.lpszHostName = host;
    parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return Fail("WinHttpCrackUrl");

    const WinHttpSessionCalls calls{&::WinHttpOpen, &::WinHttpSetOption, &::WinHttpSetTimeouts};
    HINTERNET session = OpenWinHttpSession(calls, L"Wget/1.21", SessionTimeouts{0, 60000, 30000, 30000});
    if (!session) return Fail("WinHttpOpen");
    HINTERNET connection = ::WinHttpConnect(session, host, parts.nPort, 0);
    if (!connection) return Fail("WinHttpConnect");
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request = ::WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (!request) return Fail("WinHttpOpenRequest");
    if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return Fail("WinHttpSendRequest");
    if (!::WinHttpReceiveResponse(request, nullptr)) return Fail("WinHttpReceiveResponse");
    DWORD status = 0, size = sizeof status;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        std::fprintf(stderr, "winhttp_loop: status %lu\n", status);
        return 1;
    }

    HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("CreateFileW");
    std::vector<char> buffer(1 << 20);
    unsigned long long total = 0;
    for (;;) {
        DWORD got = 0;
        if (!::WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got))
            return Fail("WinHttpReadData");
        if (got == 0) break;
        DWORD written = 0;
        if (!::WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) return Fail("WriteFile");
        total += got;
    }
    ::CloseHandle(file);
    ::WinHttpCloseHandle(request);
    ::WinHttpCloseHandle(connection);
    ::WinHttpCloseHandle(session);
    std::printf("%llu bytes\n", total);
    return 0;
}
