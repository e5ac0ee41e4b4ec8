// What a PE file is built for, and what this test program is: the tests of
// the WOW64 redirection tell the system folders apart by the machine of the
// kernel32.dll they hold.
#pragma once

#include <windows.h>

#include <string>

namespace wintest {

// The machine a PE file is built for, 0 when it cannot be read.
inline WORD MachineOf(const wchar_t* path)
{
    const HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    IMAGE_DOS_HEADER dos{};
    IMAGE_FILE_HEADER header{};
    DWORD signature = 0, got = 0;
    bool ok = ::ReadFile(file, &dos, sizeof dos, &got, nullptr) && got == sizeof dos &&
              dos.e_magic == IMAGE_DOS_SIGNATURE &&
              ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) !=
                  INVALID_SET_FILE_POINTER &&
              ::ReadFile(file, &signature, sizeof signature, &got, nullptr) &&
              signature == IMAGE_NT_SIGNATURE &&
              ::ReadFile(file, &header, sizeof header, &got, nullptr) && got == sizeof header;
    ::CloseHandle(file);
    return ok ? header.Machine : 0;
}

// <Windows>\system32\kernel32.dll, the path as a program writes it: a 32-bit
// program on 64-bit Windows is redirected to SysWOW64 unless it switched
// the redirection off.
inline std::wstring SystemKernel32()
{
    wchar_t windows[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, n) + L"\\system32\\kernel32.dll";
}

inline bool IsWow64()
{
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

constexpr WORD kOwnMachine =
#ifdef _WIN64
    IMAGE_FILE_MACHINE_AMD64;
#else
    IMAGE_FILE_MACHINE_I386;
#endif

// The machine of the real system folder: 64-bit under WOW64.
inline WORD NativeMachine() { return IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : kOwnMachine; }

}  // namespace wintest
