// Which validators of an answer the tool echoes in If-Range: a value that
// holds a line break or any other control character never goes back to the
// server, and the answer counts as one without validators. The table runs
// twice: natively with the unit tests and under Wine with the tool's logic.
#include <doctest/doctest.h>

#include <string>

#include "policy.h"

using namespace wget;

namespace {
constexpr char kDate[] = "Tue, 01 Dec 2026 10:00:00 GMT";
}  // namespace

TEST_CASE("validators holding control characters are never echoed in If-Range")
{
    struct Case {
        const char* what;
        std::string etag;
        std::string lastModified;
        std::string sent;  // the If-Range value
        bool kept;         // UsableValidator keeps both as answered
    };
    const Case cases[] = {
        {"a clean strong ETag", "\"abc\"", kDate, "\"abc\"", true},
        {"blanks around it are no control characters", " \"abc\" ", kDate, "\"abc\"", true},
        {"a byte above ASCII is no control character", "\"ab\xC3\xA9\"", "", "\"ab\xC3\xA9\"", true},
        {"CR LF and a header after the ETag", "\"abc\"\r\nX-Injected: 1", kDate, "", false},
        {"a bare LF inside the ETag", "\"a\nb\"", "", "", false},
        {"a bare CR inside the ETag", "\"a\rb\"", "", "", false},
        {"CR LF at the end of the ETag", "\"abc\"\r\n", kDate, "", false},
        {"NUL inside the ETag", std::string("\"a\0b\"", 5), kDate, "", false},
        {"a tab inside the ETag", "\"a\tb\"", kDate, "", false},
        {"DEL inside the ETag", "\"a\x7F" "b\"", kDate, "", false},
        {"a C1 control (U+0085) inside the ETag", "\"a\xC2\x85" "b\"", kDate, "", false},
        {"CR LF in Last-Modified, no ETag", "", std::string(kDate) + "\r\nSet-Cookie: x=1", "", false},
        {"a weak ETag and CR LF in Last-Modified", "W/\"abc\"", std::string(kDate) + "\r\n", "", false},
        // One poisoned validator makes the answer one without validators:
        // the clean other one is not used either.
        {"a clean ETag beside a Last-Modified with LF", "\"abc\"", "Tue,\n01 Dec 2026", "", false},
        {"a clean Last-Modified beside an ETag with CR", "\"a\rb\"", kDate, "", false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        const Validator answered{c.etag, c.lastModified, 42};
        const Validator usable = UsableValidator(answered);
        CHECK(usable.total == 42);
        if (c.kept) {
            CHECK(usable.etag == c.etag);
            CHECK(usable.lastModified == c.lastModified);
        } else {
            CHECK(usable.etag.empty());
            CHECK(usable.lastModified.empty());
        }
        // What goes out, whether the answer was cleaned first or not.
        CHECK(IfRangeValue(usable) == c.sent);
        CHECK(IfRangeValue(answered) == c.sent);
        CHECK_FALSE(HoldsControlCharacter(IfRangeValue(answered)));
    }
}

TEST_CASE("an answer without usable validators is compared by its size alone")
{
    const Validator first = UsableValidator({"\"a\"\r\nX: 1", kDate, 100});
    CHECK(SameDocument(first, UsableValidator({"\"b\"", "Wed, 02 Dec 2026 10:00:00 GMT", 100})));
    CHECK_FALSE(SameDocument(first, UsableValidator({"\"b\"", "", 101})));
}
