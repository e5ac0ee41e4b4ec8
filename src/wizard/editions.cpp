#include "wizard/editions.h"

const Edition& EditionByCode(const std::string& code)
{
    static constexpr Edition kUnlisted{"", "", "", 0};
    for (const Edition& edition : kEditions) {
        if (code == edition.code) return edition;
    }
    return kUnlisted;
}
