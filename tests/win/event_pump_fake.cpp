// A stand-in for the window's event pump (PumpEvents of wizard/ui_win32.cpp,
// which needs the window): it dispatches what is queued, as the real one
// does, for the tests of code that waits while the window keeps handling its
// events. Linked before the library, it takes the real one's place.
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
