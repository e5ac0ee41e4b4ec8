// Random bytes from the system's cryptographic generator.
#include "platform/random.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

using BCryptGenRandomFn = LONG(WINAPI*)(void* algorithm, UCHAR* buffer, ULONG size, ULONG flags);
using RtlGenRandomFn = BOOLEAN(WINAPI*)(void* buffer, ULONG size);

constexpr ULONG kUseSystemPreferredRng = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG
constexpr std::size_t kLargestCall = 1u << 20;

template <typename Fn>
Fn ProcOf(HMODULE module, const char* name) noexcept
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                  : nullptr;
}

// bcrypt.dll is loaded from the system folder by its full path: the
// installer usually starts from a Downloads folder, where a planted DLL of
// that name must never be picked up. Loaded once, kept for the process.
HMODULE SystemModule(const wchar_t* fileName) noexcept
{
    wchar_t folder[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path(folder, n);
    path += L'\\';
    path += fileName;
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool FillWith(auto draw, unsigned char* bytes, std::size_t size) noexcept
{
    while (size > 0) {
        const std::size_t chunk = std::min(size, kLargestCall);
        if (!draw(bytes, static_cast<ULONG>(chunk))) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

}  // namespace

bool FillRandomBytes(void* buffer, std::size_t size) noexcept
{
    try {
        if (size == 0) return true;
        if (buffer == nullptr) return false;
        auto* bytes = static_cast<unsigned char*>(buffer);

        static const HMODULE bcrypt = SystemModule(L"bcrypt.dll");
        if (const auto genRandom = ProcOf<BCryptGenRandomFn>(bcrypt, "BCryptGenRandom")) {
            const auto draw = [genRandom](unsigned char* at, ULONG n) {
                return genRandom(nullptr, at, n, kUseSystemPreferredRng) >= 0;
            };
            if (FillWith(draw, bytes, size)) return true;
        }
        // Older or trimmed systems: advapi32's generator, exported as
        // SystemFunction036. advapi32 is already in the process.
        const auto rtlGenRandom =
            ProcOf<RtlGenRandomFn>(::GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
        if (!rtlGenRandom) return false;
        const auto draw = [rtlGenRandom](unsigned char* at, ULONG n) {
            return rtlGenRandom(at, n) != FALSE;
        };
        return FillWith(draw, bytes, size);
    } catch (...) {
        return false;
    }
}
