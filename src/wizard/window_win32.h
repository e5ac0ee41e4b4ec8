// The Win32 window of Main, as the program's entry point, the platform UI
// procedures and the Windows-side tests see it.
#pragma once

#include <windows.h>

class Main;
struct MainWindow;

// The program's life after the process is prepared: creates the window,
// runs Form_Load, shows the window, arms its timers and runs the message
// loop until the program ends. A window that cannot be made, or a load
// handler that fails, ends the program with kStartFailedMessage (or the
// load handler's own message) before anything of step 1 has run.
[[noreturn]] void RunMainWindow(Main& form, int show) noexcept;

// Creates the window of window.form, hidden, with a child control for
// every windowed control of the model and its pictures painted. Its timers
// wait for ShowMainWindow. One window per process at a time; false when the
// system refuses. The window goes with the object (window_state_win32.h).
bool CreateMainWindow(MainWindow& window) noexcept;
// Shows the window for the first time (show: the start-up show command),
// then arms the timers the model has enabled: Timer1 fires its 10 ms after
// the window is on screen, never behind a message box of the load handler.
void ShowMainWindow(MainWindow& window, int show) noexcept;
// The window that exists now, or nullptr.
HWND MainWindowHandle() noexcept;

// Applies to the window everything that changed in the model since the last
// call: texts, colours, fonts, visibility, pictures, list items, timers.
void SyncWindow() noexcept;
// Translates and dispatches one queued message, with a dialog's keyboard
// handling (Tab between the fields, Enter for the install button).
void DispatchWindowMessage(MSG& msg) noexcept;

// What the operator is told when the program cannot start, before it ends.
inline constexpr char kStartFailedMessage[] = "程序启动失败，请重新运行。";
[[noreturn]] void EndAfterStartFailure() noexcept;
// What the operator is told when a fault escapes the step chain once the
// download has begun: there is no page to return to, and from step 4 on the
// close mark would refuse for ever.
inline constexpr char kStepFaultMessage[] = "非常抱歉，安装过程出现错误，请重新运行。";
[[noreturn]] void EndAfterStepFault() noexcept;
