// The nested waits: a handle waited on while the window keeps handling its
// events, so that it repaints and its timers tick meanwhile. The window's
// event pump is the caller's to hand in: this layer knows no window.
#pragma once

#include <windows.h>

#include "platform/event_pump.h"

// Waits until handle becomes signalled, running pump whenever a message
// arrives and at least every 10 ms. True when it was signalled; false when
// it cannot be waited on at all (an invalid handle or one without the right
// to wait), at once rather than never.
bool WaitPumpingEvents(HANDLE handle, EventPump pump) noexcept;
