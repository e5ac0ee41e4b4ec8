// The WinHTTP session that the installer's requests and the download tool
// (tools/wget, which compiles this header too) both open, with one TLS policy.
//
// TLS policy: TLS 1.2 and 1.3 are asked for explicitly, never TLS 1.0 or
// 1.1. Windows 7 offers TLS 1.2 to WinHTTP only when asked (and only with
// the update that brings it); systems before Windows 11 do not know the
// TLS 1.3 flag and refuse the whole set, so TLS 1.2 alone is asked for next.
// A system that refuses that too (Windows 7 without the TLS 1.2 update)
// keeps its own protocols, TLS 1.0 there: the certificate is checked as
// always, and a server that demands more refuses the handshake, which then
// fails like any other. Failing at once instead would leave such a system
// no way at all to reach a server that still accepts TLS 1.0.
#pragma once

#include <windows.h>
#include <winhttp.h>

// The calls the set-up makes. The installer hands in the functions it links
// (delay-loaded from the system folder); the tool, which loads WinHTTP
// itself, hands in those it looked up.
struct WinHttpSessionCalls {
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpSetOption) setOption = nullptr;
    decltype(&::WinHttpSetTimeouts) setTimeouts = nullptr;
};

// WinHttpSetTimeouts' limits in milliseconds (0: none).
struct SessionTimeouts {
    int resolve = 0;
    int connect = 0;
    int send = 0;
    int receive = 0;
};

// The protocol sets asked for, in order; the first the system accepts holds.
inline constexpr DWORD kTlsProtocolChoices[] = {
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3,
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2,
};

// Applies the policy above; false when the system kept its own protocols.
inline bool ApplyTlsPolicy(HINTERNET session, decltype(&::WinHttpSetOption) setOption) noexcept
{
    for (DWORD protocols : kTlsProtocolChoices) {
        if (setOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) return true;
    }
    return false;
}

// A session through the system's proxy settings, with these limits and the
// TLS policy; null when WinHTTP gives none (GetLastError says why).
inline HINTERNET OpenWinHttpSession(const WinHttpSessionCalls& calls, const wchar_t* userAgent,
                                    const SessionTimeouts& limits) noexcept
{
    HINTERNET session = calls.open(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return nullptr;
    calls.setTimeouts(session, limits.resolve, limits.connect, limits.send, limits.receive);
    ApplyTlsPolicy(session, calls.setOption);
    return session;
}
