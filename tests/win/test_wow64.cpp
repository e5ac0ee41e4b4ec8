// The WOW64 redirection switch: with it, a 32-bit program sees the 64-bit
// system folder; without WOW64 it changes nothing.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "platform/wow64.h"

namespace {

// The machine a PE file is built for, 0 when it cannot be read.
WORD MachineOf(const wchar_t* path)
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

std::wstring SystemKernel32()
{
    wchar_t windows[MAX_PATH];
    const UINT n = ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows, n) + L"\\system32\\kernel32.dll";
}

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

TEST_CASE("FsRedirectionOff shows the real system folder while it lives")
{
    const std::wstring kernel32 = SystemKernel32();
#ifdef _WIN64
    const WORD own = IMAGE_FILE_MACHINE_AMD64;
#else
    const WORD own = IMAGE_FILE_MACHINE_I386;
#endif
    // Redirected (or native): the system folder holds this program's kind.
    CHECK(MachineOf(kernel32.c_str()) == own);
    {
        FsRedirectionOff off;
        CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
        {
            FsRedirectionOff again;  // nested: stays off, and restores "off"
            CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
        }
        CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
    }
    CHECK(MachineOf(kernel32.c_str()) == own);
}
