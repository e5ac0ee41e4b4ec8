// Where the delay-loaded system DLLs (cmake/delayload.cmake) come from.
//
// The loader's helper would load them by bare name. wWinMain restricts that
// search to the system folder first, but the call that does so is missing on
// Windows 7 without KB2533623, where the program's own folder is still
// searched first. This hook hands the helper the DLL from the system folder
// by its full path instead, whatever the system offers, and never lets the
// helper fall back to its own search by bare name.
#include <windows.h>
#include <delayimp.h>

#include <cstring>

#include "platform/system_dll_win32.h"

namespace {

FARPROC WINAPI LoadFromSystemFolder(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || !info || !info->szDll) return nullptr;
    // Names from the program's own import records: short plain ASCII.
    const char* name = info->szDll;
    const std::size_t length = std::strlen(name);
    wchar_t wide[MAX_PATH];
    HMODULE module = nullptr;
    if (length > 0 && length < MAX_PATH) {
        for (std::size_t i = 0; i <= length; ++i) wide[i] = static_cast<unsigned char>(name[i]);
        module = LoadSystemDll(wide);
    }
    if (module) return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(module));
    // Returning null would send the helper to LoadLibraryA with the bare
    // name, a search that may start in the program's folder. The call fails
    // instead, with the very exception the helper raises for a DLL it cannot
    // load at all.
    info->dwLastError = ::GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    ::RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), 0, 1, &argument);
    return nullptr;
}

}  // namespace

// The helper reads this hook; defining it here replaces the runtime's empty one.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}
