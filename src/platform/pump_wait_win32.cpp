#include "platform/pump_wait_win32.h"

bool WaitPumpingEvents(HANDLE handle, EventPump pump) noexcept
{
    for (;;) {
        const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE, 10, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) return true;
        if (result == WAIT_FAILED) return false;
        pump();
    }
}
