// Switching the WOW64 file-system redirection off and on again. Both
// functions are looked up at run time: 32-bit Windows without WOW64 lacks
// them in some editions.
#include "platform/wow64.h"

#include <windows.h>

namespace {

using IsWow64ProcessFn = decltype(&::IsWow64Process);
using DisableFn = decltype(&::Wow64DisableWow64FsRedirection);
using RevertFn = decltype(&::Wow64RevertWow64FsRedirection);

FARPROC Kernel32Proc(const char* name) noexcept
{
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
}

template <typename Fn>
Fn Kernel32(const char* name) noexcept
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Kernel32Proc(name)));
}

bool RunsUnderWow64() noexcept
{
    const auto isWow64 = Kernel32<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(::GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

FsRedirectionOff::FsRedirectionOff() noexcept
{
    if (!RunsUnderWow64()) return;
    const auto disable = Kernel32<DisableFn>("Wow64DisableWow64FsRedirection");
    switched_ = disable && disable(&oldValue_);
}

FsRedirectionOff::~FsRedirectionOff()
{
    if (!switched_) return;
    if (const auto revert = Kernel32<RevertFn>("Wow64RevertWow64FsRedirection")) revert(oldValue_);
}
