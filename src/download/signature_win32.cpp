#include "download/signature.h"

#include "platform/handles_win32.h"
#include "platform/text_win32.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <string>

namespace {

// The name of the first signer's certificate, as the system shows it (the
// subject's common name); empty when the verified state holds no signer.
std::wstring SignerName(HANDLE stateData)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
    if (!provider) return {};
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain ||
        !signer->pasCertChain[0].pCert)
        return {};
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
