// The platform procedures of the window logic on Win32: message boxes, the
// event pump, the end of the process and the window's small effects.
#include "wizard/ui.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <algorithm>

#include "platform/handles_win32.h"
#include "platform/text_win32.h"
#include "wizard/window_state_win32.h"
#include "wizard/window_win32.h"

namespace {

// The taskbar list of the window that exists now, once the shell has made
// its button.
ITaskbarList3* Taskbar()
{
    const MainWindow* w = CurrentMainWindow();
    return w ? w->taskbar.get() : nullptr;
}

// Message boxes belong to the window once it is on screen, so they are
// modal to it and stay above it when it is topmost.
HWND MessageOwner()
{
    HWND hwnd = MainWindowHandle();
    return hwnd && ::IsWindowVisible(hwnd) ? hwnd : nullptr;
}

int ShowMessageBox(const std::string& text, UINT type) noexcept
{
    // The window shows what the message is about before the box comes up.
    RefreshWindow();
    try {
        const std::wstring wideText = Utf8ToWide(text), title = Utf8ToWide(kAppTitle);
        return ::MessageBoxW(MessageOwner(), wideText.c_str(), title.c_str(), type | MB_SETFOREGROUND);
    } catch (...) {
        return 0;
    }
}

}  // namespace

// An OK button only, and no icon: only the close question carries one.
void ShowMessage(const std::string& text) noexcept { ShowMessageBox(text, MB_OK); }

bool AskYesNo(const std::string& text) noexcept
{
    return ShowMessageBox(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void EndProcess(int exitCode) { ::ExitProcess(static_cast<UINT>(exitCode)); }

void PumpEvents() noexcept
{
    SyncWindow();
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The program was asked to end while a step waited.
        if (msg.message == WM_QUIT) EndProcess(static_cast<int>(msg.wParam));
        DispatchWindowMessage(msg);
    }
    SyncWindow();
}

void RefreshWindow() noexcept
{
    SyncWindow();
    if (HWND hwnd = MainWindowHandle()) ::RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void SetWindowTopmost() noexcept
{
    if (HWND hwnd = MainWindowHandle()) {
        ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
}

void OpenWebSite(const std::string& url) noexcept
{
    try {
        ::ShellExecuteW(MainWindowHandle(), L"open", Utf8ToWide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    } catch (...) {
    }
}

void* LoadHandCursor() noexcept { return ::LoadCursorW(nullptr, IDC_HAND); }

void ShowHandCursor(void* cursor) noexcept { ::SetCursor(static_cast<HCURSOR>(cursor)); }

void DragWindow() noexcept
{
    HWND hwnd = MainWindowHandle();
    if (!hwnd) return;
    ::ReleaseCapture();
    ::SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void SetTaskbarProgress(int64_t done, int64_t total) noexcept
{
    ITaskbarList3* taskbar = Taskbar();
    HWND hwnd = MainWindowHandle();
    if (!taskbar || !hwnd) return;
    if (total <= 0) {
        taskbar->SetProgressState(hwnd, TBPF_INDETERMINATE);
        return;
    }
    done = std::clamp<int64_t>(done, 0, total);
    taskbar->SetProgressState(hwnd, TBPF_NORMAL);
    taskbar->SetProgressValue(hwnd, static_cast<ULONGLONG>(done), static_cast<ULONGLONG>(total));
}

void ClearTaskbarProgress() noexcept
{
    ITaskbarList3* taskbar = Taskbar();
    HWND hwnd = MainWindowHandle();
    if (taskbar && hwnd) taskbar->SetProgressState(hwnd, TBPF_NOPROGRESS);
}
