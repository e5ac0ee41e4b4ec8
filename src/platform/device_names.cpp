#include "platform/device_names.h"

#include <array>
#include <string>

bool IsDeviceName(std::string_view name)
{
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    static constexpr std::array<std::string_view, 4> kPlain{"con", "prn", "aux", "nul"};
    for (std::string_view d : kPlain) {
        if (stem == d) return true;
    }
    if (stem.size() < 4 || (!stem.starts_with("com") && !stem.starts_with("lpt"))) return false;
    const std::string_view digit = std::string_view(stem).substr(3);
    if (digit.size() == 1) return digit[0] >= '1' && digit[0] <= '9';
    // The superscript digits, in UTF-8.
    return digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}
