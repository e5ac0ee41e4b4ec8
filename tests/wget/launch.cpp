// wget_launch.exe CMDFILE [SECONDS]: starts the command line held in CMDFILE
// (UTF-8, taken byte for byte, as the installer's command runner builds it)
// the way the installer does: CreateProcessW with a writable command line,
// the window hidden, the thread handle closed at once; waits for the end of
// the process (at most SECONDS, default 60, then stops it and exits 124) and
// exits with its exit code.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fputs("usage: wget_launch CMDFILE [SECONDS]\n", stderr);
        return 2;
    }
    const DWORD seconds = argc > 2 ? static_cast<DWORD>(_wtoi(argv[2])) : 60;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    char bytes[8192];
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
    if (!read || got == 0 || got == sizeof bytes) return 2;
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(got), nullptr, 0);
    std::vector<wchar_t> line(static_cast<std::size_t>(n) + 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(got), line.data(), n);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 3;
    }
    CloseHandle(pi.hThread);
    DWORD code = 124;
    if (WaitForSingleObject(pi.hProcess, seconds * 1000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 124);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
