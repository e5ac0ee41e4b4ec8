// probe_window.exe: a small window of the installer's class that the
// driver's own scenario drives, so the driver and the harness are proven on
// something whose behaviour is known exactly:
//   Label3        counts seconds like the installer ("1s", "2s", ...)
//   Step2_Version four items; a user's choice (CBN_SELCHANGE) is echoed
//   Step2_Path    text box
//   Step2_Submit  writes "<chosen index>|<text of Step2_Path>" into About1
//   Label_Close   SS_NOTIFY label: asks Yes/No titled "Corvane·Stackhold";
//                 Yes ends the process with exit code 3, No goes on
//   Step2_T1      stays hidden (a click on it must be refused)
#include <windows.h>

#include <string>

#include "wizard/control_ids.h"

namespace {

constexpr wchar_t kTitle[] = L"Corvane\u00b7Stackhold";
HWND g_window = nullptr;
int g_seconds = 0;
int g_chosen = -1;

int Scale(int twips, UINT dpi) { return static_cast<int>((twips * static_cast<long long>(dpi) + 720) / 1440); }

HWND Make(const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y, int w, int h, UINT dpi)
{
    return CreateWindowExW(0, cls, text, WS_CHILD | style, Scale(x, dpi), Scale(y, dpi), Scale(w, dpi),
                           Scale(h, dpi), g_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void Build(UINT dpi)
{
    Make(L"STATIC", L"0s", WS_VISIBLE, kIdLabel3, 120, 120, 735, 255, dpi);
    Make(L"STATIC", L" ", WS_VISIBLE | SS_NOTIFY, kIdLabelClose, 7800, 90, 240, 240, dpi);
    Make(L"STATIC", L"准备就绪", WS_VISIBLE | SS_CENTER, kIdAbout1, 2935, 3280, 2190, 300, dpi);
    Make(L"STATIC", L"版本选择：", 0, kIdStep2T1, 480, 3150, 1215, 375, dpi);
    HWND combo = Make(L"COMBOBOX", L"", WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL, kIdStep2Version, 1560, 3100,
                      3495, 3000, dpi);
    for (const wchar_t* item : {L"SQL Server 2008 R2 Express (32位)", L"SQL Server 2008 R2 Express (64位)",
                                L"SQL Server 2012 Express (32位)", L"SQL Server 2012 Express (64位)"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(combo, CB_SETCURSEL, 3, 0);
    Make(L"EDIT", L"", WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, kIdStep2Path, 1560, 3750, 4935, 300, dpi);
    Make(L"BUTTON", L"立即安装", WS_VISIBLE | BS_PUSHBUTTON, kIdStep2Submit, 5400, 3050, 1095, 375, dpi);
    // The installer's own face for Chinese text, so the controls lay out
    // Chinese as the installer's do rather than through font fallback.
    const HFONT font = CreateFontW(-MulDiv(9, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH, L"黑体");
    for (HWND child = GetWindow(g_window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

std::wstring TextOf(int id)
{
    wchar_t buf[512] = {};
    GetDlgItemTextW(g_window, id, buf, 512);
    return buf;
}

void OnCommand(int id, int code)
{
    if (id == kIdStep2Version && code == CBN_SELCHANGE) {
        g_chosen = static_cast<int>(SendDlgItemMessageW(g_window, kIdStep2Version, CB_GETCURSEL, 0, 0));
    } else if (id == kIdStep2Submit && code == BN_CLICKED) {
        std::wstring report = std::to_wstring(g_chosen) + L"|" + TextOf(kIdStep2Path);
        SetDlgItemTextW(g_window, kIdAbout1, report.c_str());
    } else if (id == kIdLabelClose && code == STN_CLICKED) {
        if (MessageBoxW(g_window, L"确定结束安装吗？", kTitle, MB_YESNO | MB_ICONQUESTION) == IDYES)
            ExitProcess(3);
        SetDlgItemTextW(g_window, kIdAbout1, L"继续");
    }
}

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_TIMER:
        SetDlgItemTextW(w, kIdLabel3, (std::to_wstring(++g_seconds) + L"s").c_str());
        return 0;
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    SetProcessDPIAware();
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(RGB(244, 247, 252));
    wc.lpszClassName = kMainWindowClass;
    RegisterClassW(&wc);
    HDC dc = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(nullptr, dc);
    RECT r{0, 0, Scale(8055, dpi), Scale(5085, dpi)};
    AdjustWindowRectEx(&r, WS_POPUP | WS_BORDER, FALSE, 0);
    g_window = CreateWindowExW(0, kMainWindowClass, kTitle, WS_POPUP | WS_BORDER, 100, 100, r.right - r.left,
                               r.bottom - r.top, nullptr, nullptr, instance, nullptr);
    Build(dpi);
    SetTimer(g_window, 3, 1000, nullptr);
    ShowWindow(g_window, SW_SHOW);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
