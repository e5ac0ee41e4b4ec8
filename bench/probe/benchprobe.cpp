// The benchmark's helper inside the Wine session.
//
//   benchprobe sleep MS
//       sleeps MS milliseconds and ends: the child the installer waits for.
//   benchprobe firstpaint CLASS TIMEOUT_MS PROGRAM [ARGUMENT...]
//       starts PROGRAM (in its own folder, with the arguments) and prints the milliseconds from
//       the start until a visible top-level window of class CLASS of that
//       process, and each of its visible child windows, has no part left to
//       paint; then ends the program. Prints -1 when that does not happen
//       within TIMEOUT_MS.
//   benchprobe clicks CLASS INTERVAL_MS TIMEOUT_MS
//       waits up to TIMEOUT_MS for a window of class CLASS, then posts it
//       WM_APP every INTERVAL_MS, carrying the performance counter of the
//       moment of posting, until the window is gone; prints how many.
//
// Exit code 0 on success, 1 on a failure, 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int64_t Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Milliseconds(int64_t ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

struct WindowSearch {
    const wchar_t* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[256];
    if (owner == search->processId && GetClassNameW(window, name, 256) &&
        std::wcscmp(name, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindUnpaintedChild(HWND child, LPARAM context)
{
    if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(context) = true;
        return FALSE;
    }
    return TRUE;
}

// Shown and with nothing left to paint: the window's first WM_PAINT (and
// each child's) has been handled.
bool IsPainted(HWND window)
{
    if (!IsWindowVisible(window) || GetUpdateRect(window, nullptr, FALSE)) return false;
    bool unpainted = false;
    EnumChildWindows(window, FindUnpaintedChild, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

int FirstPaint(const wchar_t* className, DWORD timeout, const wchar_t* program,
               const std::wstring& arguments)
{
    std::wstring folder = program;
    folder.erase(folder.find_last_of(L"\\/") == std::wstring::npos ? 0
                                                                    : folder.find_last_of(L"\\/"));
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};

    const int64_t start = Counter();
    if (!CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        std::printf("-1\n");
        return 1;
    }
    double painted = -1;
    WindowSearch search{className, info.dwProcessId, nullptr};
    while (Milliseconds(Counter() - start) < timeout) {
        if (!search.found) EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found && IsPainted(search.found)) {
            painted = Milliseconds(Counter() - start);
            break;
        }
        if (WaitForSingleObject(info.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    TerminateProcess(info.hProcess, 0);
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    std::printf("%.2f\n", painted);
    return painted < 0 ? 1 : 0;
}

int Clicks(const wchar_t* className, DWORD interval, DWORD timeout)
{
    const int64_t start = Counter();
    HWND window = nullptr;
    while (!(window = FindWindowW(className, nullptr))) {
        if (Milliseconds(Counter() - start) > timeout) {
            std::printf("0\n");
            return 1;
        }
        Sleep(5);
    }
    long posted = 0;
    while (IsWindow(window) &&
           PostMessageW(window, WM_APP, 0, static_cast<LPARAM>(Counter())))
    {
        ++posted;
        Sleep(interval);
    }
    std::printf("%ld\n", posted);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"sleep" && argc == 3) {
        Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (command == L"firstpaint" && argc >= 5) {
        std::wstring arguments;
        for (int i = 5; i < argc; ++i) arguments += L" \"" + std::wstring(argv[i]) + L"\"";
        return FirstPaint(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)), argv[4],
                          arguments);
    }
    if (command == L"clicks" && argc == 5)
        return Clicks(argv[2], static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)),
                      static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)));
    std::fprintf(stderr, "usage: benchprobe sleep MS | firstpaint CLASS TIMEOUT_MS PROGRAM [ARGUMENT...] | "
                         "clicks CLASS INTERVAL_MS TIMEOUT_MS\n");
    return 2;
}
