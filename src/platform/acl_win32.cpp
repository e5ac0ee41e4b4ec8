#include "platform/acl_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <new>

namespace {

// Read and execute for Users: FILE_GENERIC_READ | FILE_GENERIC_EXECUTE.
// On a folder the entries pass to the files created in it (OICI), so what
// wget.exe writes there is protected as well.
constexpr wchar_t kFolderDacl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kFileDacl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
constexpr wchar_t kOwner[] = L"O:BA";
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) noexcept
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    if (!::CreateWellKnownSid(type, nullptr, buffer, &size)) return false;
    return ::EqualSid(sid, buffer) != FALSE;
}

bool IsTrustedInstaller(PSID sid) noexcept
{
    UniqueLocal trustedInstaller;
    if (!::ConvertStringSidToSidW(kTrustedInstaller, trustedInstaller.put())) return false;
    return ::EqualSid(sid, trustedInstaller.get()) != FALSE;
}

bool IsProcessUser(PSID sid) noexcept
{
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    bool same = false;
    if (size > 0) {
        std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
        if (buffer && ::GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size))
            same = ::EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid) != FALSE;
    }
    return same;
}

// Accounts whose rights on an object count as the owner's own: the trusted
// owners; CREATOR OWNER, which grants nothing on the object itself (only
// what is created in a folder receives it, as its creator's entry); OWNER
// RIGHTS, which stands for the owner, who must be trusted in any case.
bool IsTrustedTrustee(PSID sid) noexcept
{
    return IsTrustedOwner(sid) || IsWellKnown(sid, WinCreatorOwnerSid) ||
           IsWellKnown(sid, WinCreatorOwnerRightsSid);
}

ACCESS_MASK ChangeRightsOf(ACCESS_MASK mask) noexcept
{
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    ::MapGenericMask(&mask, &mapping);
    return mask & kChangeRights;
}

}  // namespace

ProtectedSecurity::ProtectedSecurity(ProtectedKind kind, bool owner) noexcept
{
    wchar_t sddl[160] = L"";
    if (owner) ::lstrcatW(sddl, kOwner);
    ::lstrcatW(sddl, kind == ProtectedKind::Folder ? kFolderDacl : kFileDacl);
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                descriptor_.put(), nullptr))
        descriptor_.reset();
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_.get();
    attributes_.bInheritHandle = FALSE;
}

bool ApplyProtectedSecurity(HANDLE object, ProtectedKind kind) noexcept
{
    // Set on the object alone (NtSetSecurityObject underneath), not through
    // SetSecurityInfo, which would also rewrite the inherited entries of
    // whatever the folder holds, a file linked from elsewhere included.
    constexpr SECURITY_INFORMATION kDacl =
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    const ProtectedSecurity withOwner(kind, true);
    if (withOwner && ::SetKernelObjectSecurity(object, kDacl | OWNER_SECURITY_INFORMATION,
                                               withOwner.Descriptor()))
        return true;
    // A token that may not name Administrators as owner keeps the owner,
    // which the caller has found trusted; the DACL is what keeps others out.
    const ProtectedSecurity daclOnly(kind, false);
    return daclOnly && ::SetKernelObjectSecurity(object, kDacl, daclOnly.Descriptor()) != FALSE;
}

bool HasTrustedOwner(HANDLE object) noexcept
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocal hold(descriptor);
    return IsTrustedOwner(owner);
}

bool IsTrustedOwner(PSID owner) noexcept
{
    if (!owner || !::IsValidSid(owner)) return false;
    return IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid) ||
           IsTrustedInstaller(owner) || IsProcessUser(owner);
}

SecurityJudgement JudgeSecurity(PSECURITY_DESCRIPTOR descriptor) noexcept
{
    SecurityJudgement judgement;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!descriptor || !::IsValidSecurityDescriptor(descriptor) ||
        !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        judgement.othersMayChange = kChangeRights;
        return judgement;
    }
    judgement.ownerTrusted = IsTrustedOwner(owner);
    if (!present || !dacl) {
        judgement.othersMayChange = kChangeRights;  // no DACL: open to everyone
        return judgement;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header))) {
            judgement.othersMayChange = kChangeRights;
            break;
        }
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is created inside, not for this
        switch (header->AceType) {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            // The same layout: the mask, then the trustee.
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if (!IsTrustedTrustee(&ace->SidStart)) judgement.othersMayChange |= ChangeRightsOf(ace->Mask);
            break;
        }
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            // Not found on files; its trustee is not read, its rights count.
            judgement.othersMayChange |= ChangeRightsOf(reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->Mask);
            break;
        default:
            break;  // deny and audit entries grant nothing
        }
    }
    return judgement;
}

SecurityJudgement JudgeObjectSecurity(HANDLE object) noexcept
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        SecurityJudgement unread;
        unread.othersMayChange = kChangeRights;
        return unread;
    }
    const UniqueLocal hold(descriptor);
    return JudgeSecurity(descriptor);
}

bool CreateProtectedFolder(const wchar_t* path) noexcept
{
    for (const bool owner : {true, false}) {
        ProtectedSecurity security(ProtectedKind::Folder, owner);
        if (!security) return false;
        if (::CreateDirectoryW(path, security.Attributes())) return true;
        if (::GetLastError() != ERROR_INVALID_OWNER) return false;
    }
    return false;
}

HANDLE CreateProtectedFile(const wchar_t* path, DWORD access, DWORD share) noexcept
{
    for (const bool owner : {true, false}) {
        ProtectedSecurity security(ProtectedKind::File, owner);
        if (!security) return INVALID_HANDLE_VALUE;
        // FILE_FLAG_OPEN_REPARSE_POINT: CREATE_NEW already refuses any name
        // that is taken, a link included; the flag keeps it that way.
        const HANDLE file =
            ::CreateFileW(path, access, share, security.Attributes(), CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (::GetLastError() != ERROR_INVALID_OWNER) return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}
