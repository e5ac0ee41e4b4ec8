// The window's event pump, as the installer's window provides it, for the
// tests of code that waits while the window keeps handling its events.
#include <windows.h>

#include "wizard/ui.h"

void PumpEvents() noexcept
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
