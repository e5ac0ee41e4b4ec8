// The package signature check under Wine, on copies of a fixture program
// signed at test time by download_servers.py --sign with the test PKI (whose
// CA the prefix trusts).
#include <doctest/doctest.h>

#include "download/signature.h"
#include "stackhold_config.h"
#include "win_test_util.h"

#include <cctype>

using namespace wintest;

namespace {

constexpr char kPublisher[] = "Corvane Stackhold Test Publisher";

std::string File(const char* variable)
{
    const std::string path = Env(variable);
    REQUIRE_MESSAGE(!path.empty(), variable << " is not set: run through download_servers.py --sign");
    return path;
}

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
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
        // The same answer through the held file, as the download step asks it.
        const HeldFile held = HoldFileForRun(File(c.file));
        CHECK(VerifyPackageSignature(held, File(c.file), c.publisher) == c.trusted);
    }
    CHECK_FALSE(VerifyPackageSignature(HeldFile{}, File("STACKHOLD_TEST_SIGNED"), kPublisher));
}

TEST_CASE("the held file is what is judged, not whatever the path names later")
{
    // The handle of the signed file with the path of an unsigned one: the
    // handle decides.
    const HeldFile held = HoldFileForRun(File("STACKHOLD_TEST_SIGNED"));
    REQUIRE(held);
    CHECK(VerifyPackageSignature(held, File("STACKHOLD_TEST_UNSIGNED"), kPublisher));
    const HeldFile unsignedHeld = HoldFileForRun(File("STACKHOLD_TEST_UNSIGNED"));
    REQUIRE(unsignedHeld);
    CHECK_FALSE(VerifyPackageSignature(unsignedHeld, File("STACKHOLD_TEST_SIGNED"), kPublisher));
}

TEST_CASE("VerifyPackageSignature names the signer by common name and organization, and pins the root")
{
    // The build pins the test CA; the prefix trusts a second root as well.
    const std::string testCa = Env("STACKHOLD_TEST_TEST_CA_SHA256");
    const std::string otherRoot = Env("STACKHOLD_TEST_OTHER_ROOT_SHA256");
    REQUIRE(testCa.size() == 64);
    REQUIRE(otherRoot.size() == 64);
    CHECK(SignerPolicyFor(kPublisher, STACKHOLD_PUBLISHER_ROOT_SHA256).rootSha256 == testCa);

    const SignerPolicy microsoftRoots = SignerPolicyFor(kMicrosoftPublisher, "");
    REQUIRE(microsoftRoots.root == SignerRoot::MicrosoftProduct);
    struct Case {
        const char* what;
        const char* file;
        const char* publisher;
        SignerPolicy policy;
        bool trusted;
    };
    const Case cases[] = {
        {"the test-root pin", "STACKHOLD_TEST_SIGNED", kPublisher, SignerPolicyFor(kPublisher, testCa), true},
        {"the pin in capitals", "STACKHOLD_TEST_SIGNED", kPublisher,
         SignerPolicyFor(kPublisher, Upper(testCa)), true},
        {"pinned to another trusted root", "STACKHOLD_TEST_SIGNED", kPublisher,
         SignerPolicyFor(kPublisher, otherRoot), false},
        {"no root to check against", "STACKHOLD_TEST_SIGNED", kPublisher, SignerPolicyFor(kPublisher, ""),
         false},
        {"a malformed pin", "STACKHOLD_TEST_SIGNED", kPublisher,
         SignerPolicyFor(kPublisher, testCa.substr(1)), false},
        // Microsoft's name from a root the machine trusts, not the pinned one.
        {"Microsoft's name under another root, test pin", "STACKHOLD_TEST_MICROSOFT_OTHER_ROOT",
         kMicrosoftPublisher, SignerPolicyFor(kMicrosoftPublisher, testCa), false},
        {"Microsoft's name under another root, Microsoft's roots", "STACKHOLD_TEST_MICROSOFT_OTHER_ROOT",
         kMicrosoftPublisher, microsoftRoots, false},
        // Control: the same signature is sound once its own root is pinned.
        {"Microsoft's name under its pinned root", "STACKHOLD_TEST_MICROSOFT_OTHER_ROOT", kMicrosoftPublisher,
         SignerPolicyFor(kMicrosoftPublisher, otherRoot), true},
        {"the test publisher under Microsoft's roots", "STACKHOLD_TEST_SIGNED", kPublisher,
         SignerPolicy{SignerRoot::MicrosoftProduct, {}}, false},
        // The display name would fall back from the missing CN to the OU.
        {"no common name, the publisher as OU and O", "STACKHOLD_TEST_NO_CN", kPublisher,
         SignerPolicyFor(kPublisher, testCa), false},
        {"the common name with another organization", "STACKHOLD_TEST_CN_ONLY", kPublisher,
         SignerPolicyFor(kPublisher, testCa), false},
        {"the organization alone", "STACKHOLD_TEST_CN_ONLY", "Corvane", SignerPolicyFor("Corvane", testCa),
         false},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        CHECK(VerifyPackageSignature(File(c.file), c.publisher, c.policy) == c.trusted);
    }
    // The build's own setting: the test pin, whatever the name asked for.
    CHECK_FALSE(VerifyPackageSignature(File("STACKHOLD_TEST_MICROSOFT_OTHER_ROOT"), kMicrosoftPublisher));
    CHECK_FALSE(VerifyPackageSignature(File("STACKHOLD_TEST_NO_CN"), kPublisher));
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
