#include "platform/names.h"

#include <array>
#include <string>

#include "platform/strings.h"

namespace {

bool IsReservedDeviceName(std::string_view name)
{
    // The device names count with any extension: "con.txt" opens the console.
    const std::string base = ToLowerAscii(name.substr(0, name.find('.')));
    static constexpr std::array<std::string_view, 4> kPlain{"con", "prn", "aux", "nul"};
    for (std::string_view r : kPlain) {
        if (base == r) return true;
    }
    if (base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '1' &&
        base[3] <= '9')
        return true;
    return false;
}

}  // namespace

bool IsValidWindowsName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..") return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return false;
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) return false;
    }
    if (name.back() == ' ' || name.back() == '.') return false;
    return !IsReservedDeviceName(name);
}

std::size_t CountCharacters(std::string_view text)
{
    std::size_t n = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    }
    return n;
}
