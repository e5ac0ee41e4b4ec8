// Loading a DLL of Windows itself by its full path in the system folder.
//
// The installer usually starts from a Downloads folder, where a planted DLL
// named like a system one must never be picked up: a DLL the program imports
// directly is looked for in the program's own folder first (only the
// "known DLLs" such as kernel32 or ws2_32 are exempt), before any code of ours
// could restrict the search. DLLs outside that list are therefore loaded here,
// at the time of use, from the system folder only.
#pragma once

#include <windows.h>

#include <string>

#include "platform/paths_win32.h"
#include "platform/strings.h"

// The module, or null when it cannot be loaded. Callers keep it for the life
// of the process. Not for use while the WOW64 redirection is switched off: a
// 32-bit program would then be handed the 64-bit DLL.
inline HMODULE LoadSystemDll(const wchar_t* fileName) noexcept
{
    try {
        const std::wstring folder = SystemFolder();
        if (folder.empty()) return nullptr;
        const std::wstring path = JoinPath(folder, fileName);
        // Its own dependencies are then looked for beside it, not beside us.
        return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        return nullptr;
    }
}

template <typename Fn>
Fn ProcAddressAs(HMODULE module, const char* name) noexcept
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

// From here on, DLLs that the process loads by bare name come from the
// system folder only, so one planted beside the program (a Downloads
// folder) or in the current directory is never picked up. The installer and
// the download tool call it first thing.
// SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with
// KB2533623. SetDllDirectoryW(L"") is called in every case: it takes the
// current directory out of the search order that LoadLibraryExW uses with
// LOAD_WITH_ALTERED_SEARCH_PATH (LoadSystemDll), which the default
// directories do not govern, and it is all a system without the first call has.
inline void RestrictDllSearch() noexcept
{
    using SetDefaultDllDirectoriesFn = decltype(&::SetDefaultDllDirectories);
    const auto setDefault =
        ProcAddressAs<SetDefaultDllDirectoriesFn>(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetDllDirectoryW(L"");
}
