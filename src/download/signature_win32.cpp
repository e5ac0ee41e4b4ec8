#include "download/signature.h"

#include "platform/handles_win32.h"
#include "platform/text_win32.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <string>

namespace {

// Faults of the signer's certificate chain that no valid signature has.
// Windows refuses them in WinVerifyTrust already; Wine's WinVerifyTrust lets
// a chain that ends in an untrusted root pass, so the chain's own status is
// read as well. Time validity is left to WinVerifyTrust: a timestamped
// signature stays valid after its certificate has expired.
constexpr DWORD kChainFaults = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                               CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC |
                               CERT_TRUST_IS_REVOKED;

// The first signer of the verified file, when its chain is sound.
const CRYPT_PROVIDER_SGNR* TrustedSigner(HANDLE stateData)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
    if (!provider) return nullptr;
    const CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || !signer->pChainContext || signer->csCertChain == 0 || !signer->pasCertChain ||
        !signer->pasCertChain[0].pCert)
        return nullptr;
    if (signer->pChainContext->TrustStatus.dwErrorStatus & kChainFaults) return nullptr;
    return signer;
}

// The name of the signer's certificate, as the system shows it (the
// subject's common name); empty when there is no trusted signer.
std::wstring SignerName(HANDLE stateData)
{
    const CRYPT_PROVIDER_SGNR* signer = TrustedSigner(stateData);
    if (!signer) return {};
    const PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    const DWORD n = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                                       nullptr, 0);
    if (n <= 1) return {};
    std::wstring name(n, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), n);
    name.resize(n - 1);
    return name;
}

}  // namespace

bool VerifyPackageSignature(const std::string& path, const std::string& publisher) noexcept
{
    try {
        const std::wstring file = Utf8ToWide(path);
        const std::wstring expected = Utf8ToWide(publisher);
        if (file.empty() || expected.empty()) return false;

        WINTRUST_FILE_INFO fileInfo{};
        fileInfo.cbStruct = sizeof fileInfo;
        fileInfo.pcwszFilePath = file.c_str();

        WINTRUST_DATA trust{};
        trust.cbStruct = sizeof trust;
        trust.dwUIChoice = WTD_UI_NONE;
        // The servers this runs on are often offline: a revocation check
        // would fail or stall there.
        trust.fdwRevocationChecks = WTD_REVOKE_NONE;
        trust.dwUnionChoice = WTD_CHOICE_FILE;
        trust.pFile = &fileInfo;
        trust.dwStateAction = WTD_STATEACTION_VERIFY;

        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG status =
            WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
        bool trusted = false;
        if (status == ERROR_SUCCESS) {
            try {
                trusted = SignerName(trust.hWVTStateData) == expected;
            } catch (...) {
                trusted = false;
            }
        }

        // The verify step keeps its state until it is closed, whatever it found.
        trust.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
        return trusted;
    } catch (...) {
        return false;
    }
}
