#include "platform/clock.h"

#include <windows.h>

void SleepMilliseconds(int milliseconds) noexcept { ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }

int64_t LocalClockSeconds() noexcept
{
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    FILETIME stamp;
    if (!::SystemTimeToFileTime(&local, &stamp)) return 0;
    ULARGE_INTEGER ticks;
    ticks.LowPart = stamp.dwLowDateTime;
    ticks.HighPart = stamp.dwHighDateTime;
    return static_cast<int64_t>(ticks.QuadPart / 10000000);  // 100 ns ticks since 1601
}
