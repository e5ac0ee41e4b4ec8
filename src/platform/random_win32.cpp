// Random bytes from the system's cryptographic generator.
#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>
#include <ntsecapi.h>

#include <algorithm>

#include "platform/system_dll_win32.h"

namespace {

// Both are looked up at run time (bcrypt.dll from the system folder), with
// the signatures their headers declare. RtlGenRandom is ntsecapi.h's name
// for SystemFunction036.
using BCryptGenRandomFn = decltype(&::BCryptGenRandom);
using RtlGenRandomFn = decltype(&::RtlGenRandom);
constexpr std::size_t kLargestCall = 1u << 20;

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

        static const HMODULE bcrypt = LoadSystemDll(L"bcrypt.dll");
        if (const auto genRandom = ProcAddressAs<BCryptGenRandomFn>(bcrypt, "BCryptGenRandom")) {
            const auto draw = [genRandom](unsigned char* at, ULONG n) {
                return genRandom(nullptr, at, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
            };
            if (FillWith(draw, bytes, size)) return true;
        }
        // Older or trimmed systems: advapi32's generator, exported as
        // SystemFunction036. advapi32 is already in the process.
        const auto rtlGenRandom =
            ProcAddressAs<RtlGenRandomFn>(::GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
        if (!rtlGenRandom) return false;
        const auto draw = [rtlGenRandom](unsigned char* at, ULONG n) {
            return rtlGenRandom(at, n) != FALSE;
        };
        return FillWith(draw, bytes, size);
    } catch (...) {
        return false;
    }
}
