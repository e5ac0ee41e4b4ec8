// The yardstick for the installer's start: a Win32 program that only opens a
// window of the installer's size, paints its background and waits.
//   minwin [PAINT_DELAY_MS]   holds back the first paint that long, so one can
//                             see that the start probe waits for the paint.
#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kClassName[] = L"StackholdBenchMinimal";
DWORD gPaintDelay = 0;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        // BeginPaint empties the update region, so the delay comes first.
        if (gPaintDelay) Sleep(gPaintDelay);
        gPaintDelay = 0;
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        FillRect(dc, &paint.rcPaint, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int show)
{
    while (*arguments == L' ' || *arguments == L'"') ++arguments;
    gPaintDelay = static_cast<DWORD>(std::wcstoul(arguments, nullptr, 10));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExW(&windowClass)) return 1;

    RECT frame{0, 0, 537, 339};
    AdjustWindowRect(&frame, WS_POPUP, FALSE);
    HWND window = CreateWindowExW(0, kClassName, L"minimal", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
