// The native system folder for the DISM line, and whether .NET Framework 3.5
// is there afterwards.
#include "setup/netfx.h"

#include <windows.h>

#include "platform/paths_win32.h"
#include "platform/text_win32.h"

std::string NativeSystemFolder() noexcept
{
    try {
        // GetSystemDirectoryW names System32 for a 32-bit program on 64-bit
        // Windows too; the batch runs in the 64-bit interpreter with the
        // file-system redirection off, where that name is the native folder.
        return WideToUtf8(SystemFolder());
    } catch (...) {
        return {};
    }
}

bool IsNetFx35Present() noexcept
{
    // The 64-bit view on 64-bit Windows: a 32-bit program would otherwise
    // read the WOW64 copy of SOFTWARE. (Ignored on 32-bit Windows.)
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    const LONG read = ::RegQueryValueExW(key, L"Install", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value == 1;
}
