#include "download/signature.h"

#include "platform/handles_win32.h"
#include "platform/text_win32.h"
#include "stackhold_config.h"

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
    const PCCERT_CHAIN_CONTEXT chain = signer->pChainContext;
    if (chain->TrustStatus.dwErrorStatus & kChainFaults) return nullptr;
    if (chain->cChain == 0 || !chain->rgpChain) return nullptr;
    const PCERT_SIMPLE_CHAIN last = chain->rgpChain[chain->cChain - 1];
    if (!last || last->cElement == 0 || !last->rgpElement) return nullptr;
    return signer;
}

// One attribute of the certificate's subject, by its OID alone: no other
// attribute ever stands in for a missing one (the display name would fall
// back from the common name to OU and O). Empty when it is absent.
std::wstring SubjectAttribute(PCCERT_CONTEXT certificate, const char* oid)
{
    void* type = const_cast<char*>(oid);
    const DWORD n = CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, type, nullptr, 0);
    if (n <= 1) return {};
    std::wstring value(n, L'\0');
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, type, value.data(), n);
    value.resize(n - 1);
    return value;
}

bool NamesPublisher(PCCERT_CONTEXT certificate, const std::wstring& publisher)
{
    return SubjectAttribute(certificate, szOID_COMMON_NAME) == publisher &&
           SubjectAttribute(certificate, szOID_ORGANIZATION_NAME) == publisher;
}

// The root certificate the chain ends in.
PCCERT_CONTEXT ChainRoot(PCCERT_CHAIN_CONTEXT chain)
{
    const PCERT_SIMPLE_CHAIN last = chain->rgpChain[chain->cChain - 1];
    const PCERT_CHAIN_ELEMENT element = last->rgpElement[last->cElement - 1];
    return element ? element->pCertContext : nullptr;
}

std::string Sha256Hex(PCCERT_CONTEXT certificate)
{
    BYTE hash[32];
    DWORD size = sizeof hash;
    if (!CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded,
                               certificate->cbCertEncoded, hash, &size) ||
        size != sizeof hash)
        return {};
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (BYTE b : hash) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

// Microsoft's product roots, the 2010 and 2011 application roots included
// (the flag that adds them is ignored where the system does not know it).
bool EndsInMicrosoftRoot(PCCERT_CHAIN_CONTEXT chain)
{
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof para;
    para.dwFlags = MICROSOFT_ROOT_CERT_CHAIN_POLICY_CHECK_APPLICATION_ROOT_FLAG;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_MICROSOFT_ROOT, chain, &para, &status) &&
           status.dwError == 0;
}

bool EndsInAcceptedRoot(PCCERT_CHAIN_CONTEXT chain, const SignerPolicy& policy)
{
    switch (policy.root) {
    case SignerRoot::MicrosoftProduct:
        return EndsInMicrosoftRoot(chain);
    case SignerRoot::Pinned: {
        const PCCERT_CONTEXT root = ChainRoot(chain);
        return root && !policy.rootSha256.empty() && Sha256Hex(root) == policy.rootSha256;
    }
    case SignerRoot::None:
        break;
    }
    return false;
}

// What the verified file's signer must be: trusted, named as the publisher,
// and under a root the policy accepts.
bool SignerMeetsPolicy(HANDLE stateData, const std::wstring& publisher, const SignerPolicy& policy)
{
    const CRYPT_PROVIDER_SGNR* signer = TrustedSigner(stateData);
    if (!signer) return false;
    return NamesPublisher(signer->pasCertChain[0].pCert, publisher) &&
           EndsInAcceptedRoot(signer->pChainContext, policy);
}

// The check itself; handle, when given, is the open file that is judged
// (the path then only names it).
bool VerifySignature(const std::string& path, HANDLE handle, const std::string& publisher,
                     const SignerPolicy& policy) noexcept
{
    try {
        const std::wstring file = Utf8ToWide(path);
        const std::wstring expected = Utf8ToWide(publisher);
        if (file.empty() || expected.empty() || policy.root == SignerRoot::None) return false;

        WINTRUST_FILE_INFO fileInfo{};
        fileInfo.cbStruct = sizeof fileInfo;
        fileInfo.pcwszFilePath = file.c_str();
        fileInfo.hFile = handle;

        WINTRUST_DATA trust{};
        trust.cbStruct = sizeof trust;
        trust.dwUIChoice = WTD_UI_NONE;
        // The servers this runs on are often offline: a revocation check
        // would fail or stall there, and so would fetching missing issuers
        // from the network while the window waits.
        trust.fdwRevocationChecks = WTD_REVOKE_NONE;
        trust.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        trust.dwUnionChoice = WTD_CHOICE_FILE;
        trust.pFile = &fileInfo;
        trust.dwStateAction = WTD_STATEACTION_VERIFY;

        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG status =
            WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &trust);
        bool trusted = false;
        if (status == ERROR_SUCCESS) {
            try {
                trusted = SignerMeetsPolicy(trust.hWVTStateData, expected, policy);
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

}  // namespace

bool VerifyPackageSignature(const std::string& path, const std::string& publisher,
                            const SignerPolicy& policy) noexcept
{
    return VerifySignature(path, nullptr, publisher, policy);
}

bool VerifyPackageSignature(const std::string& path, const std::string& publisher) noexcept
{
    try {
        return VerifyPackageSignature(path, publisher,
                                      SignerPolicyFor(publisher, STACKHOLD_PUBLISHER_ROOT_SHA256));
    } catch (...) {
        return false;
    }
}

bool VerifyPackageSignature(const HeldFile& file, const std::string& path,
                            const std::string& publisher) noexcept
{
    if (!file) return false;
    try {
        return VerifySignature(path, reinterpret_cast<HANDLE>(file.token()), publisher,
                               SignerPolicyFor(publisher, STACKHOLD_PUBLISHER_ROOT_SHA256));
    } catch (...) {
        return false;
    }
}
