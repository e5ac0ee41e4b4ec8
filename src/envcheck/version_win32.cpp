// The Windows version from the kernel's own numbers. GetVersionEx would lie
// to a program whose manifest does not name the running system; ntdll's
// RtlGetNtVersionNumbers does not.
#include "envcheck/version.h"

#include <windows.h>

namespace {

// Exported by ntdll but declared in no SDK header: written out here.
using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD* major, DWORD* minor, DWORD* build);

}  // namespace

std::string GetWindowsVersion() noexcept
{
    try {
        DWORD major = 0, minor = 0, build = 0;
        // ntdll is in every process already; no search path is involved.
        if (const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
            const auto proc = reinterpret_cast<RtlGetNtVersionNumbersFn>(
                reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetNtVersionNumbers")));
            if (proc) proc(&major, &minor, &build);
        }
        return std::to_string(major) + "." + std::to_string(minor);
    } catch (...) {
        return "0.0";
    }
}
