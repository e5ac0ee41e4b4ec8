// The window Main on Win32: its class and frame, DPI scaling, and the
// routing of messages to the event handlers of the model.
//
// The window has no system caption: the banner is its title area, with its
// own close mark and drag handling. A thin border and the system menu stay,
// so the taskbar, Alt+F4 and Alt+Space behave as everywhere else.
#include "wizard/window_win32.h"

#include <windowsx.h>

#include "platform/program_dir.h"
#include "platform/text_win32.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"
#include "wizard/window_state_win32.h"

namespace {

// The window that exists now; see CurrentMainWindow.
MainWindow* gCurrent = nullptr;

constexpr DWORD kStyle = WS_POPUP | WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW;
constexpr int kIconId = 1;  // res/stackhold.rc
// Windows 10 1703 and later ask for the window's size at a new DPI; the
// headers declare it only for builds that require that version.
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

template <typename Fn>
Fn User32Function(const char* name)
{
    const FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// Windows 10 1607 and later know a window's own DPI; before them (and in
// Wine) every window has the system's.
UINT WindowDpi(HWND hwnd)
{
    static const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (hwnd && getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return dpi;
    }
    return SystemDpi();
}

SIZE OuterSize(UINT dpi)
{
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpi>("AdjustWindowRectExForDpi");
    RECT r = PixelRect(kClientTwips, dpi);
    if (!adjustForDpi || !adjustForDpi(&r, kStyle, FALSE, kExStyle, dpi)) {
        ::AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
    }
    return SIZE{r.right - r.left, r.bottom - r.top};
}

POINT CentredOnWorkArea(SIZE outer)
{
    RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info)) work = info.rcWork;
    const LONG x = work.left + ((work.right - work.left) - outer.cx) / 2;
    const LONG y = work.top + ((work.bottom - work.top) - outer.cy) / 2;
    // Never above or left of the work area: the banner must stay reachable.
    return POINT{x < work.left ? work.left : x, y < work.top ? work.top : y};
}

template <typename Handler>
void RunHandler(MainWindow& w, Handler handler) noexcept
{
    try {
        (w.form->*handler)();
    } catch (...) {
        // A handler goes on after a failing statement; nothing may leave
        // through the window procedure.
    }
    SyncWindow();
}

// The submission carries steps 3 to 5 nested inside it. A fault inside the
// page's own checks leaves the page up, as any failing statement of a
// handler does; once the download has begun, whatever escapes ends the
// program with a message. Only a verified installation stays: its window
// shows the sa password and closes at once on the close mark.
void RunSubmitHandler(MainWindow& w) noexcept
{
    try {
        w.form->Step2_Submit_Click();
    } catch (...) {
        const Main& form = *w.form;
        if (form.state.CurrentStep >= 3 && !form.state.Verified) EndAfterStepFault();
    }
    SyncWindow();
}

// Timer1 starts the step chain; a failure there is the program's end.
void RunStartHandler(MainWindow& w) noexcept
{
    try {
        w.form->Timer1_Timer();
    } catch (...) {
        EndAfterStartFailure();
    }
    SyncWindow();
}

Timer* TimerOf(Main& form, UINT_PTR id)
{
    switch (id) {
    case 1: return &form.Timer1;
    case 2: return &form.Timer2;
    case 3: return &form.Timer3;
    default: return nullptr;
    }
}

void OnTimer(MainWindow& w, UINT_PTR id)
{
    const Timer* timer = TimerOf(*w.form, id);
    if (!timer) return;
    // A tick queued before its timer was switched off is not delivered.
    if (!timer->enabled || timer->interval <= 0) {
        ::KillTimer(w.hwnd, id);
        w.timers[id - 1].running = false;
        return;
    }
    if (id == 1) return RunStartHandler(w);
    RunHandler(w, id == 2 ? &Main::Timer2_Timer : &Main::Timer3_Timer);
}

struct ClickRoute {
    int id;
    void (Main::*handler)();
};
constexpr ClickRoute kClickRoutes[] = {
    {kIdStep2Select, &Main::Step2_Select_Click},
    {kIdLabelClose, &Main::Label_Close_Click},
    {kIdLabel2, &Main::Label2_Click},
};

void OnClick(MainWindow& w, int id)
{
    const ChildWindow* c = ChildById(w, id);
    // A click still queued for a control that has been hidden since (a
    // second press on the install button) is not a click on it.
    if (!c || !c->control->visible) return;
    if (id == kIdStep2Submit) return RunSubmitHandler(w);
    for (const ClickRoute& route : kClickRoutes) {
        if (route.id == id) return RunHandler(w, route.handler);
    }
}

std::string WindowText(HWND hwnd)
{
    const int length = ::GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), length + 1)));
    return WideToUtf8(text);
}

// What the operator types or picks goes back into the model, which the
// step logic reads.
void OnCommand(MainWindow& w, int id, int code, HWND from)
{
    ChildWindow* c = ChildById(w, id);
    if (!c || c->hwnd != from || !from) return;
    if (c->control->kind == ControlKind::TextBox && code == EN_CHANGE) {
        try {
            c->control->text = c->applied.text = WindowText(from);
        } catch (...) {
        }
    } else if (c->control->kind == ControlKind::ComboBox && code == CBN_SELCHANGE) {
        const int index = static_cast<int>(::SendMessageW(from, CB_GETCURSEL, 0, 0));
        static_cast<ComboBox*>(c->control)->listIndex = c->appliedIndex = index;
    } else if (code == BN_CLICKED) {  // also STN_CLICKED of the labels
        OnClick(w, id);
    }
}

void OnMouseDown(MainWindow& w, LPARAM where)
{
    const POINT at{GET_X_LPARAM(where), GET_Y_LPARAM(where)};
    const RECT header = PixelRect(w.form->Picture1.place, w.dpi);
    if (w.form->Picture1.visible && ::PtInRect(&header, at)) RunHandler(w, &Main::Picture1_MouseDown);
}

bool OnSetCursor(MainWindow& w, HWND over, UINT hitTest)
{
    const ChildWindow* link = ChildById(w, kIdLabel2);
    if (!link || over != link->hwnd || hitTest != HTCLIENT || !link->control->visible) return false;
    RunHandler(w, &Main::Label2_MouseMove);
    return true;
}

// Enter presses the focused link, or else the install button while the
// settings page is up.
LRESULT DefaultButtonId(MainWindow& w)
{
    const ChildWindow* select = ChildById(w, kIdStep2Select);
    if (select && select->hwnd && ::GetFocus() == select->hwnd) return MAKELRESULT(kIdStep2Select, DC_HASDEFID);
    const ChildWindow* submit = ChildById(w, kIdStep2Submit);
    if (submit && submit->hwnd && submit->control->visible) return MAKELRESULT(kIdStep2Submit, DC_HASDEFID);
    return 0;
}

// Tab between the fields. IsDialogMessage asks for this on some systems
// (Wine among them); for a window that is no dialog nobody else answers.
void OnNextControl(MainWindow& w, WPARAM wParam, LPARAM lParam)
{
    HWND target = nullptr;
    if (LOWORD(lParam)) {
        target = reinterpret_cast<HWND>(wParam);
    } else {
        HWND focus = ::GetFocus();
        target = ::GetNextDlgTabItem(w.hwnd, ::IsChild(w.hwnd, focus) ? focus : nullptr, wParam != 0);
    }
    if (!target || !::IsChild(w.hwnd, target)) return;
    ::SetFocus(target);
    if (::SendMessageW(target, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) ::SendMessageW(target, EM_SETSEL, 0, -1);
}

// Like a dialog, the window gives the focus back to the field that had it.
bool OnActivate(MainWindow& w, WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        w.savedFocus = ::IsChild(w.hwnd, focus) ? focus : nullptr;
        return false;
    }
    if (!w.savedFocus || !::IsWindow(w.savedFocus) || !::IsWindowVisible(w.savedFocus)) return false;
    ::SetFocus(w.savedFocus);
    return true;
}

void OnDpiChanged(MainWindow& w, UINT dpi, const RECT& suggested)
{
    // The children use the old fonts until they are given the new ones.
    const FontCache oldFonts = std::move(w.fonts);
    w.dpi = dpi;
    const SIZE outer = OuterSize(dpi);
    ::SetWindowPos(w.hwnd, nullptr, suggested.left, suggested.top, outer.cx, outer.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutChildWindows(w);
    RebuildScene(w);
    ::RedrawWindow(w.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool HandleLook(MainWindow& w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_PAINT: PaintWindow(w); return true;
    case WM_ERASEBKGND: result = 1; return true;  // the scene covers everything
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:  // the edition box's field; its list is not ours
    case WM_CTLCOLORBTN: {
        HBRUSH brush = ColorChild(w, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        if (!brush) return false;
        result = reinterpret_cast<LRESULT>(brush);
        return true;
    }
    case WM_DRAWITEM:
        DrawOwnerDrawnButton(w, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        result = TRUE;
        return true;
    case WM_DPICHANGED: OnDpiChanged(w, LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return true;
    case kGetDpiScaledSize:
        *reinterpret_cast<SIZE*>(lParam) = OuterSize(static_cast<UINT>(wParam));
        result = TRUE;
        return true;
    default: return false;
    }
}

bool HandleInput(MainWindow& w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case WM_COMMAND:
        OnCommand(w, LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return true;
    case WM_TIMER: OnTimer(w, wParam); return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: OnMouseDown(w, lParam); return true;
    case WM_SETCURSOR:
        if (!OnSetCursor(w, reinterpret_cast<HWND>(wParam), LOWORD(lParam))) return false;
        result = TRUE;
        return true;
    case WM_CLOSE:
        // Alt+F4, the taskbar or the system menu: the same decision as the
        // close mark, never a silent end.
        RunHandler(w, &Main::Label_Close_Click);
        return true;
    case DM_GETDEFID: result = DefaultButtonId(w); return true;
    case WM_NEXTDLGCTL: OnNextControl(w, wParam, lParam); return true;
    case WM_ACTIVATE: return OnActivate(w, wParam);
    default: return false;
    }
}

UINT TaskbarButtonCreatedMessage() noexcept
{
    static const UINT message = ::RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

void AttachTaskbarButton(MainWindow& w) noexcept
{
    ComPtr<ITaskbarList3> taskbar;
    if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                  taskbar.putVoid())))
        return;
    if (FAILED(taskbar->HrInit())) return;
    w.taskbar = std::move(taskbar);
}

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* created = reinterpret_cast<MainWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        if (created) created->hwnd = hwnd;
    }
    auto* window = reinterpret_cast<MainWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window || window->hwnd != hwnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    MainWindow& w = *window;
    if (message == WM_NCDESTROY) {
        // Destroyed by anyone but the object's end: the program has nothing
        // left to show, so its message loop ends.
        if (!w.destroying) ::PostQuitMessage(0);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        w.hwnd = nullptr;
        if (gCurrent == &w) gCurrent = nullptr;
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    LRESULT result = 0;
    if (HandleLook(w, message, wParam, lParam, result)) return result;
    if (HandleInput(w, message, wParam, lParam, result)) return result;
    if (message == TaskbarButtonCreatedMessage() && message != 0) {
        AttachTaskbarButton(w);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

HICON LoadProgramIcon(HINSTANCE instance, int metricX, int metricY)
{
    return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                           ::GetSystemMetrics(metricX), ::GetSystemMetrics(metricY),
                                           LR_DEFAULTCOLOR));
}

bool RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = MainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadProgramIcon(instance, SM_CXICON, SM_CYICON);
    wc.hIconSm = LoadProgramIcon(instance, SM_CXSMICON, SM_CYSMICON);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kMainWindowClass;
    return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Per-monitor aware systems may put the window on a monitor whose DPI is
// not the system's one it was sized for.
void MatchWindowDpi(MainWindow& w)
{
    const UINT dpi = WindowDpi(w.hwnd);
    if (dpi == w.dpi) return;
    w.dpi = dpi;
    const SIZE outer = OuterSize(dpi);
    const POINT at = CentredOnWorkArea(outer);
    ::SetWindowPos(w.hwnd, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

UINT SystemDpi() noexcept
{
    static const auto getDpiForSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
    if (getDpiForSystem) {
        if (const UINT dpi = getDpiForSystem()) return dpi;
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

MainWindow::~MainWindow()
{
    if (hwnd) {
        destroying = true;
        ::DestroyWindow(hwnd);
    }
    // The children went with the window; the GDI objects and the taskbar
    // list go with the members.
    if (gCurrent == this) gCurrent = nullptr;
}

MainWindow* CurrentMainWindow() noexcept { return gCurrent; }

ChildWindow* ChildById(MainWindow& w, int id) noexcept
{
    for (ChildWindow& c : w.children) {
        if (c.control->id == id) return &c;
    }
    return nullptr;
}

ChildWindow* ChildByHandle(MainWindow& w, HWND hwnd) noexcept
{
    if (!hwnd) return nullptr;
    for (ChildWindow& c : w.children) {
        if (c.hwnd == hwnd) return &c;
    }
    return nullptr;
}

bool CreateMainWindow(MainWindow& w) noexcept
{
    if (gCurrent || w.hwnd) return false;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (!RegisterMainClass(instance)) return false;
    w.dpi = SystemDpi();
    const SIZE outer = OuterSize(w.dpi);
    const POINT at = CentredOnWorkArea(outer);
    const std::wstring title = Utf8ToWide(kAppTitle);
    gCurrent = &w;
    HWND hwnd = ::CreateWindowExW(kExStyle, kMainWindowClass, title.c_str(), kStyle, at.x, at.y, outer.cx,
                                  outer.cy, nullptr, nullptr, instance, &w);
    if (!hwnd) {
        gCurrent = nullptr;
        return false;
    }
    w.hwnd = hwnd;
    MatchWindowDpi(w);
    CreateChildWindows(w);
    RebuildScene(w);
    SyncWindow();
    // An elevated program hears the shell's taskbar message only when it
    // lets it in.
    if (const UINT message = TaskbarButtonCreatedMessage()) {
        ::ChangeWindowMessageFilterEx(hwnd, message, MSGFLT_ALLOW, nullptr);
    }
    return true;
}

void ShowMainWindow(MainWindow& w, int show) noexcept
{
    HWND hwnd = w.hwnd;
    if (!hwnd) return;
    ::ShowWindow(hwnd, show);
    // Without a window manager (Wine on a bare X server) nobody else makes
    // the new window the active one.
    ::SetForegroundWindow(hwnd);
    ::UpdateWindow(hwnd);
    w.timersArmed = true;
    SyncWindow();
}

HWND MainWindowHandle() noexcept { return gCurrent ? gCurrent->hwnd : nullptr; }

void DispatchWindowMessage(MSG& msg) noexcept
{
    HWND hwnd = MainWindowHandle();
    if (hwnd && ::IsDialogMessageW(hwnd, &msg)) return;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
}

void EndAfterStartFailure() noexcept
{
    ShowMessage(kStartFailedMessage);
    EndProcess(1);
}

void EndAfterStepFault() noexcept
{
    ShowMessage(kStepFaultMessage);
    EndProcess(1);
}

namespace {

[[noreturn]] void RunMessageLoop() noexcept
{
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) > 0) DispatchWindowMessage(msg);
    EndProcess(got == 0 ? static_cast<int>(msg.wParam) : 1);
}

}  // namespace

void RunMainWindow(Main& form, int show) noexcept
{
    // Lives until the process ends, which the message loop makes it do.
    MainWindow window(form);
    if (!CreateMainWindow(window)) EndAfterStartFailure();
    // Form_Load may end the program with its own message; the window is
    // still hidden then and no timer is armed, so nothing of step 1 runs
    // behind the box.
    try {
        form.Form_Load(GetProgramDir());
    } catch (...) {
        EndAfterStartFailure();
    }
    SyncWindow();
    ShowMainWindow(window, show);
    RunMessageLoop();
}
