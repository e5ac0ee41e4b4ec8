// The nested waits: a handle waited on while the window keeps handling its
// events, so that it repaints and its timers tick meanwhile.
#pragma once

#include <windows.h>

// Waits until handle becomes signalled, letting the window handle all its
// pending events every 10 ms. True when it was signalled; false when it
// cannot be waited on at all (an invalid handle or one without the right to
// wait), at once rather than never.
bool WaitPumpingEvents(HANDLE handle) noexcept;
