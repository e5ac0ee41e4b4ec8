// What the installer costs while it waits for a program: the installer's own
// RunAndWait, with an event pump like the window's, waits for a child that
// sleeps; meanwhile "clicks" posted from another process (benchprobe clicks)
// reach a window of this process, whose handler notes how long each took.
//
//   waitprobe CHILD_COMMAND_LINE
//
// Prints "waiting" when the wait begins and, when it has ended, one line of
// JSON: wall and CPU seconds of the wait (GetProcessTimes, every thread of
// this process) and the delays of the clicks posted during it. Then waits for
// a line on its input before it ends, so that the caller can read its own
// figures of the process while it still lives.
#include "platform/runner.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kClassName[] = L"StackholdBenchWait";

int64_t gWaitStart = 0;
std::vector<int64_t> gDelays;  // performance-counter ticks

int64_t Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Seconds(int64_t ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

int64_t CpuTicks100ns()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    auto value = [](FILETIME t) {
        return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return value(kernel) + value(user);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP) {
        const int64_t posted = static_cast<int64_t>(lParam);
        if (gWaitStart && posted >= gWaitStart) gDelays.push_back(Counter() - posted);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

double Percentile(std::vector<int64_t> values, double share)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const std::size_t index = std::min(values.size() - 1,
                                       static_cast<std::size_t>(share * values.size()));
    return 1000.0 * Seconds(values[index]);
}

}  // namespace

// The window's pump: every pending message of the thread, then back.
void PumpEvents() noexcept
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: waitprobe CHILD_COMMAND_LINE\n");
        return 2;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, nullptr, 0, nullptr, nullptr);
    std::string commandLine(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, commandLine.data(), size, nullptr, nullptr);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, kClassName, L"wait", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    gDelays.reserve(100000);
    PumpEvents();

    std::printf("waiting\n");
    std::fflush(stdout);
    const int64_t cpuBefore = CpuTicks100ns();
    gWaitStart = Counter();
    RunAndWait(commandLine, PumpEvents);
    const int64_t wall = Counter() - gWaitStart;
    const int64_t cpu = CpuTicks100ns() - cpuBefore;
    gWaitStart = 0;
    DestroyWindow(window);

    std::printf("{\"wall_s\": %.3f, \"cpu_s\": %.3f, \"clicks\": %zu, \"p50_ms\": %.3f, "
                "\"p99_ms\": %.3f, \"max_ms\": %.3f}\n",
                Seconds(wall), static_cast<double>(cpu) / 1e7, gDelays.size(),
                Percentile(gDelays, 0.5), Percentile(gDelays, 0.99), Percentile(gDelays, 1.0));
    std::fflush(stdout);
    char line[16];
    std::fgets(line, sizeof line, stdin);
    return 0;
}
