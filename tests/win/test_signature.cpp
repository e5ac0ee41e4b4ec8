// The package signature check under Wine, on copies of a fixture program
// signed at test time by download_servers.py --sign with the test PKI (whose
// CA the prefix trusts).
#include <doctest/doctest.h>

#include "download/signature.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

constexpr char kPublisher[] = "Corvane Stackhold Test Publisher";

std::string File(const char* variable)
{
    const std::string path = Env(variable);
    REQUIRE_MESSAGE(!path.empty(), variable << " is not set: run through download_servers.py --sign");
    return path;
}

}  // namespace

TEST_CASE("VerifyPackageSignature accepts only the expected publisher's intact, trusted signature")
{
    struct Case {
        const char* what;
        const char* file;
        std::string publisher;
        bool trusted;
    };
    const Case cases[] = {
        {"signed by the publisher", "STACKHOLD_TEST_SIGNED", kPublisher, true},
        {"not signed", "STACKHOLD_TEST_UNSIGNED", kPublisher, false},
        {"signed by another publisher", "STACKHOLD_TEST_OTHER", kPublisher, false},
        {"the other publisher's own name", "STACKHOLD_TEST_OTHER", "Another Publisher", true},
        {"the publisher's name from an untrusted issuer", "STACKHOLD_TEST_UNTRUSTED_SIGNED", kPublisher,
         false},
        {"changed after signing", "STACKHOLD_TEST_TAMPERED", kPublisher, false},
        {"no such file", "STACKHOLD_TEST_MISSING", kPublisher, false},
        // The name must match whole and exactly.
        {"name in other letter case", "STACKHOLD_TEST_SIGNED", "corvane stackhold test publisher", false},
        {"part of the name", "STACKHOLD_TEST_SIGNED", "Corvane Stackhold Test", false},
        {"the organisation, not the name", "STACKHOLD_TEST_SIGNED", "Corvane", false},
        {"empty name", "STACKHOLD_TEST_SIGNED", "", false},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        CHECK(VerifyPackageSignature(File(c.file), c.publisher) == c.trusted);
    }
}

TEST_CASE("VerifyPackageSignature can be asked again and again")
{
    // The verification state is closed after each call: repeated calls keep
    // giving the same answers.
    const std::string signedFile = File("STACKHOLD_TEST_SIGNED");
    const std::string unsignedFile = File("STACKHOLD_TEST_UNSIGNED");
    for (int i = 0; i < 20; ++i) {
        CHECK(VerifyPackageSignature(signedFile, kPublisher));
        CHECK_FALSE(VerifyPackageSignature(unsignedFile, kPublisher));
    }
}
