// The mirror from the model to the child controls: each control is created
// as the model stands, and afterwards only what changed is applied.
#include <windows.h>
#include <commctrl.h>

#include "platform/system_dll_win32.h"
#include "platform/text_win32.h"
#include "wizard/window_state_win32.h"
#include "wizard/window_win32.h"

namespace {

struct ChildClass {
    const wchar_t* name = nullptr;  // nullptr: painted by the window
    DWORD style = 0;
};

DWORD LabelStyle(const Control& c) { return SS_NOTIFY | SS_NOPREFIX | (c.centred ? SS_CENTER : SS_LEFT); }

// Every label takes its own clicks (SS_NOTIFY): a press on a label in the
// header (the close mark, the site link) is the label's, not a drag.
ChildClass ClassFor(const Control& c)
{
    switch (c.kind) {
    case ControlKind::Label: return {L"STATIC", LabelStyle(c)};
    case ControlKind::LinkButton:
        // Hot spots over the banner stay labels; a link among the fields is
        // a button, so the keyboard can reach and press it.
        if (c.transparent) return {L"STATIC", LabelStyle(c)};
        return {L"BUTTON", BS_OWNERDRAW | WS_TABSTOP};
    case ControlKind::ComboBox: return {WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP};
    case ControlKind::TextBox: return {L"EDIT", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
    case ControlKind::Button: return {L"BUTTON", BS_OWNERDRAW | WS_TABSTOP};
    case ControlKind::Picture: return {};
    }
    return {};
}

// A combo box's window also holds its drop-down list.
RECT ChildRect(const MainWindow& w, const Control& c)
{
    RECT r = PixelRect(c.place, w.dpi);
    if (c.kind == ControlKind::ComboBox) r.bottom += 5 * (r.bottom - r.top);
    return r;
}

void MoveChild(const MainWindow& w, const ChildWindow& c)
{
    const RECT r = ChildRect(w, *c.control);
    ::MoveWindow(c.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void FillComboBox(HWND box, const std::vector<std::string>& items)
{
    ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items) {
        ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
    }
}

void SyncComboBox(ChildWindow& c)
{
    const auto& box = static_cast<const ComboBox&>(*c.control);
    if (box.items != c.appliedItems) {
        FillComboBox(c.hwnd, box.items);
        c.appliedItems = box.items;
        c.appliedIndex = -1;
    }
    if (box.listIndex != c.appliedIndex) {
        // An index outside the list clears the selection, as -1 does.
        ::SendMessageW(c.hwnd, CB_SETCURSEL, static_cast<WPARAM>(box.listIndex), 0);
        c.appliedIndex = box.listIndex;
    }
}

// With Common Controls 6 on a themed Windows, a drop-down list is drawn as a
// grey push button. The edition box is a white field: without a visual style
// the control draws itself classically, in the colours its parent answers,
// and keeps its keyboard handling and what it tells screen readers. A blank
// names no class of any style; Wine, unlike Windows, still themes a window
// given empty names.
void DrawUnthemed(HWND control) noexcept
{
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const auto setWindowTheme = ProcAddressAs<SetWindowThemeFn>(LoadSystemDll(L"uxtheme.dll"), "SetWindowTheme");
    if (setWindowTheme) setWindowTheme(control, L" ", L" ");
}

HWND CreateChild(MainWindow& w, const Control& c)
{
    const ChildClass cls = ClassFor(c);
    if (!cls.name) return nullptr;
    const RECT r = ChildRect(w, c);
    // Overlapping controls clip each other, the later one in creation order
    // in front (a label's background never covers its neighbour's text).
    const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | cls.style | (c.visible ? WS_VISIBLE : 0);
    const std::wstring text = c.kind == ControlKind::ComboBox ? std::wstring() : Utf8ToWide(c.text);
    HWND hwnd = ::CreateWindowExW(0, cls.name, text.c_str(), style, r.left, r.top, r.right - r.left,
                                  r.bottom - r.top, w.hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)),
                                  ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    if (c.kind == ControlKind::ComboBox) DrawUnthemed(hwnd);
    ::SetWindowPos(hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(w, c)), FALSE);
    return hwnd;
}

// Tab goes from the edition to the directory, the browse link and the
// install button: top to bottom of the z-order, above every label.
void SetTabOrder(MainWindow& w)
{
    for (int id : {kIdStep2Submit, kIdStep2Select, kIdStep2Path, kIdStep2Version}) {
        const ChildWindow* c = ChildById(w, id);
        if (c && c->hwnd) ::SetWindowPos(c->hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

bool SameFont(const Control& a, const Control& b)
{
    return a.fontPoints == b.fontPoints && a.bold == b.bold && a.defaultFont == b.defaultFont;
}

bool SameColours(const Control& a, const Control& b)
{
    return a.color == b.color && a.backColor == b.backColor && a.transparent == b.transparent;
}

bool SamePlace(const TwipRect& a, const TwipRect& b)
{
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

// True when the picture must be painted anew.
bool SyncPicture(ChildWindow& c)
{
    const Control& model = *c.control;
    Control& shown = c.applied;
    const bool changed = model.visible != shown.visible || model.picture != shown.picture ||
                         (model.visible && !SamePlace(model.place, shown.place));
    shown = model;
    return changed;
}

// True when the control was shown or hidden.
bool SyncChild(MainWindow& w, ChildWindow& c)
{
    const Control& model = *c.control;
    Control& shown = c.applied;
    if (model.kind == ControlKind::ComboBox) {
        SyncComboBox(c);
    } else if (model.text != shown.text) {
        shown.text = model.text;  // first, for the edit box's change notice
        ::SetWindowTextW(c.hwnd, Utf8ToWide(model.text).c_str());
    }
    if (!SameFont(model, shown)) {
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(w, model)), TRUE);
    }
    const bool recolour = !SameColours(model, shown);
    const bool move = !SamePlace(model.place, shown.place);
    const bool showHide = model.visible != shown.visible;
    shown = model;  // before the calls below, which may paint from it
    if (recolour) ::InvalidateRect(c.hwnd, nullptr, TRUE);
    if (move) MoveChild(w, c);
    if (showHide) ::ShowWindow(c.hwnd, model.visible ? SW_SHOWNA : SW_HIDE);
    return showHide;
}

// The scene changed under the see-through labels: they paint from it anew.
void RepaintScene(MainWindow& w)
{
    ::InvalidateRect(w.hwnd, nullptr, FALSE);
    for (const ChildWindow& c : w.children) {
        if (c.hwnd && c.applied.transparent) ::InvalidateRect(c.hwnd, nullptr, TRUE);
    }
}

// A hidden control keeps no keyboard focus; when the settings page
// appears, its first field takes it.
void KeepFocusOnVisibleField(MainWindow& w)
{
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(w.hwnd, focus) && !::IsWindowVisible(focus)) {
        ::SetFocus(w.hwnd);
        focus = w.hwnd;
    }
    if (focus != w.hwnd) return;
    HWND first = ::GetNextDlgTabItem(w.hwnd, nullptr, FALSE);
    if (first && first != w.hwnd && ::IsWindowVisible(first) && (::GetWindowLongW(first, GWL_STYLE) & WS_TABSTOP))
        ::SetFocus(first);
}

void SyncTimers(MainWindow& w)
{
    if (!w.timersArmed) return;
    const Timer* model[3] = {&w.form->Timer1, &w.form->Timer2, &w.form->Timer3};
    for (int i = 0; i < 3; ++i) {
        const bool run = model[i]->enabled && model[i]->interval > 0;
        AppliedTimer& shown = w.timers[i];
        const UINT_PTR id = static_cast<UINT_PTR>(i + 1);
        if (run && (!shown.running || shown.interval != model[i]->interval)) {
            ::SetTimer(w.hwnd, id, static_cast<UINT>(model[i]->interval), nullptr);
        } else if (!run && shown.running) {
            ::KillTimer(w.hwnd, id);
        }
        shown = AppliedTimer{run, model[i]->interval};
    }
}

}  // namespace

void CreateChildWindows(MainWindow& w) noexcept
{
    try {
        w.children.clear();
        for (Control* c : w.form->Controls()) {
            ChildWindow child;
            child.control = c;
            child.applied = *c;
            w.children.push_back(std::move(child));
        }
        for (ChildWindow& c : w.children) {
            c.hwnd = CreateChild(w, *c.control);
            if (c.control->kind == ControlKind::ComboBox && c.hwnd) SyncComboBox(c);
        }
        SetTabOrder(w);
    } catch (...) {
        // A control that could not be made stays without a window.
    }
}

void LayoutChildWindows(MainWindow& w) noexcept
{
    for (const ChildWindow& c : w.children) {
        if (!c.hwnd) continue;
        MoveChild(w, c);
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(w, c.applied)), TRUE);
    }
}

void SyncWindow() noexcept
{
    MainWindow* current = CurrentMainWindow();
    if (!current || !current->hwnd) return;
    MainWindow& w = *current;
    bool sceneChanged = false, shownOrHidden = false;
    try {
        for (ChildWindow& c : w.children) {
            if (c.control->kind == ControlKind::Picture) {
                sceneChanged |= SyncPicture(c);
            } else if (c.hwnd) {
                shownOrHidden |= SyncChild(w, c);
            }
        }
    } catch (...) {
        // Out of memory for a text: the rest follows on the next call.
    }
    if (sceneChanged) {
        RebuildScene(w);
        RepaintScene(w);
    }
    if (shownOrHidden) KeepFocusOnVisibleField(w);
    SyncTimers(w);
}
