// The window's event pump, as the waits below the window take it from their
// caller: this layer knows no window, and a wait that must keep the window
// alive is handed the pump that does.
#pragma once

// Dispatches every pending message of the thread and returns.
using EventPump = void (*)() noexcept;
