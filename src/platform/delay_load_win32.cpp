// Where the delay-loaded system DLLs (cmake/delayload.cmake) come from.
//
// The loader's helper would load them by bare name. wWinMain restricts that
// search to the system folder first, but the call that does so is missing on
// Windows 7 without KB2533623, where the program's own folder is still
// searched first. This hook hands the helper the DLL from the system folder
// by its full path instead, whatever the system offers.
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
    if (length == 0 || length >= MAX_PATH) return nullptr;
    for (std::size_t i = 0; i <= length; ++i) wide[i] = static_cast<unsigned char>(name[i]);
    // Null leaves it to the helper, whose own search is then restricted.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(LoadSystemDll(wide)));
}

}  // namespace

// The helper reads this hook; defining it here replaces the runtime's empty one.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystemFolder;
}
