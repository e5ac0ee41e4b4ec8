// What the window logic needs of the platform's window system: message
// boxes, the event pump, the end of the process and a few window effects.
// Time is in platform/clock.h, the program's folder in platform/program_dir.h.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char kAppTitle[] = "Corvane·Stackhold";

// Modal message box with only an OK button, titled kAppTitle.
void ShowMessage(const std::string& text) noexcept;
// Modal Yes/No question with the question icon; true only for Yes.
bool AskYesNo(const std::string& text) noexcept;
// Ends the process at once, without unloading the window or cleaning up.
[[noreturn]] void EndProcess(int exitCode);
// Dispatches every pending message of the thread and returns.
void PumpEvents() noexcept;
// Mirrors the model into the window now and paints it, before a call that
// blocks the thread.
void RefreshWindow() noexcept;
// Keeps the window above all others at its place and size.
void SetWindowTopmost() noexcept;
// Opens the address in the default browser.
void OpenWebSite(const std::string& url) noexcept;
// The system hand cursor.
void* LoadHandCursor() noexcept;
void ShowHandCursor(void* cursor) noexcept;
// Lets the system move the window with the mouse, as if its caption were held.
void DragWindow() noexcept;
// The taskbar button's progress (Windows 7 and later); cleared by the second.
void SetTaskbarProgress(int64_t done, int64_t total) noexcept;
void ClearTaskbarProgress() noexcept;
