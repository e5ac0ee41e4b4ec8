// What the elevated installer trusts without having made it, against real
// folders in the Wine prefix: the levels of the installation directory as
// the settings page claims them, and the program's own folder as step 1
// judges it.
//
// This Wine keeps no descriptor: it turns one that is set into Unix mode
// bits and reads back one rebuilt from them and the Unix owner. What it
// keeps is still telling: the protected folder DACL leaves "other" no bits,
// so a folder made or given it reads back without the Everyone entry that a
// plainly made folder has. Foreign owners and writable modes are staged
// from the Linux side (trust_stage.py); rights Wine has no mode bit for
// (change permissions, take ownership, one right alone) are judged on
// descriptors built from SDDL.
#include <doctest/doctest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "envcheck/program_folder.h"
#include "platform/acl_win32.h"
#include "platform/fs.h"
#include "settings/install_dir.h"
#include "win_test_util.h"

using namespace wintest;

namespace {

constexpr char kInstance[] = "MSSQL11.MSSQLSERVER";
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct ReadBack {
    std::wstring sddl;
    bool protectedDacl = false;
    SecurityJudgement judgement;
};

ReadBack Read(const std::wstring& path)
{
    ReadBack r;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return r;
    r.sddl = OwnerAndDaclSddl(descriptor);
    r.protectedDacl = IsDaclProtected(descriptor);
    r.judgement = JudgeSecurity(descriptor);
    ::LocalFree(descriptor);
    return r;
}

bool HasEveryoneEntry(const ReadBack& r) { return r.sddl.find(L";;;WD)") != std::wstring::npos; }

// The protected folder DACL as it reads back: exactly as built where the
// system keeps descriptors (Windows); where it keeps mode bits (this Wine),
// no entry for Everyone, nobody else with a right to change it.
void CheckProtectedFolder(const std::wstring& path)
{
    const ReadBack r = Read(path);
    CAPTURE(WideToUtf8(path));
    MESSAGE("read back: " << WideToUtf8(r.sddl));
    REQUIRE_FALSE(r.sddl.empty());
    CHECK(r.judgement.ownerTrusted);
    CHECK(r.judgement.othersMayChange == 0);
    if (r.protectedDacl) {
        CHECK(r.sddl.find(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)") != std::wstring::npos);
    } else {
        CHECK_FALSE(HasEveryoneEntry(r));
    }
}

// The staged folder of trust_stage.py, or empty when run without it.
std::wstring Stage()
{
    const std::string stage = Env("STACKHOLD_TRUST_STAGE");
    return stage.empty() ? std::wstring() : Utf8ToWide(stage);
}

}  // namespace

TEST_CASE("the read-back tells a protected folder from a plain one")
{
    // The control for every "made protected" row below: a folder made with
    // no descriptor of its own reads back otherwise.
    Scratch dir;
    REQUIRE(dir.ok());
    REQUIRE(::CreateDirectoryW((dir / L"plain").c_str(), nullptr));
    REQUIRE(CreateProtectedFolder((dir / L"protected").c_str()));
    const ReadBack plain = Read(dir / L"plain");
    MESSAGE("plain: " << WideToUtf8(plain.sddl));
    // Where descriptors are kept (Windows) the protected bit tells them
    // apart; where only mode bits are (this Wine), the Everyone entry does.
    if (!Read(dir / L"protected").protectedDacl) CHECK(HasEveryoneEntry(plain));
    CheckProtectedFolder(dir / L"protected");
}

TEST_CASE("levels of the installation directory, claimed as the settings page does")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring stage = Stage();

    SUBCASE("missing: every level made, each with the protected DACL, all held")
    {
        const std::wstring upper = dir / L"new data", last = upper + L"\\SQL Server";
        DirectoryClaim claim = ClaimInstallDir(WideToUtf8(last), kInstance);
        REQUIRE(claim);
        CHECK(claim.holds.size() >= 2);
        CheckProtectedFolder(upper);
        CheckProtectedFolder(last);
    }
    SUBCASE("existing and ours: a level above is kept as it is, the last is made")
    {
        const std::wstring upper = dir / L"kept";
        REQUIRE(::CreateDirectoryW(upper.c_str(), nullptr));
        const std::wstring before = Read(upper).sddl;
        DirectoryClaim claim = ClaimInstallDir(WideToUtf8(upper + L"\\SQL Server"), kInstance);
        REQUIRE(claim);
        CHECK(Read(upper).sddl == before);
        CheckProtectedFolder(upper + L"\\SQL Server");
    }
    SUBCASE("the directory itself existing and ours: given the protected DACL, what it holds untouched")
    {
        const std::wstring there = dir / L"there";
        REQUIRE(::CreateDirectoryW(there.c_str(), nullptr));
        REQUIRE(WriteBytes(there + L"\\old.mdf", "old"));
        const std::wstring fileBefore = Read(there + L"\\old.mdf").sddl;
        DirectoryClaim claim = ClaimInstallDir(WideToUtf8(there), kInstance);
        REQUIRE(claim);
        CheckProtectedFolder(there);
        CHECK(Read(there + L"\\old.mdf").sddl == fileBefore);
        CHECK(ReadBytes(there + L"\\old.mdf") == "old");
    }
    SUBCASE("a file in place of a level: refused as no folder, nothing made below it")
    {
        REQUIRE(WriteBytes(dir / L"file.txt", "x"));
        const DirectoryClaim claim = ClaimInstallDir(WideToUtf8(dir / L"file.txt\\SQL Server"), kInstance);
        CHECK(claim.fault == FolderFault::NotAFolder);
        CHECK(claim.level == WideToUtf8(dir / L"file.txt"));
        CHECK(claim.holds.empty());
        CHECK(ReadBytes(dir / L"file.txt") == "x");
    }
    SUBCASE("no parent: nothing made")
    {
        const TrustedFolder level = HoldTrustedFolder(WideToUtf8(dir / L"missing\\x"), true);
        CHECK(level.fault == FolderFault::NotCreated);
        CHECK_FALSE(level.hold);
        CHECK_FALSE(IsFolder(dir / L"missing"));
    }
    SUBCASE("a level owned by another account: refused by its path, nothing made below it")
    {
        if (stage.empty()) {
            MESSAGE("run without trust_stage.py: foreign rows not shown");
            return;
        }
        const ReadBack foreign = Read(stage + L"\\foreign");
        MESSAGE("staged foreign level: " << WideToUtf8(foreign.sddl));
        CHECK(foreign.sddl.starts_with(L"O:AN"));
        const DirectoryClaim claim = ClaimInstallDir(WideToUtf8(stage + L"\\foreign\\SQL Server"), kInstance);
        CHECK(claim.fault == FolderFault::ForeignOwner);
        CHECK(claim.level == WideToUtf8(stage + L"\\foreign"));
        CHECK(DirectoryRefusalText(claim).find(claim.level) != std::string::npos);
        CHECK_FALSE(IsFolder(stage + L"\\foreign\\SQL Server"));
    }
    SUBCASE("the directory itself owned by another account: refused, its descriptor untouched")
    {
        if (stage.empty()) return;
        const std::wstring last = stage + L"\\mine\\foreign last";
        const std::wstring before = Read(last).sddl;
        const DirectoryClaim claim = ClaimInstallDir(WideToUtf8(last), kInstance);
        CHECK(claim.fault == FolderFault::ForeignOwner);
        CHECK(claim.level == WideToUtf8(last));
        CHECK(claim.holds.empty());  // the level above was let go of too
        CHECK(Read(last).sddl == before);
    }
    SUBCASE("the directory itself ours but writable by everyone: given the protected DACL")
    {
        if (stage.empty()) return;
        const std::wstring last = stage + L"\\mine\\writable last";
        const ReadBack before = Read(last);
        MESSAGE("staged writable level: " << WideToUtf8(before.sddl));
        CHECK(before.judgement.othersMayChange != 0);
        DirectoryClaim claim = ClaimInstallDir(WideToUtf8(last), kInstance);
        REQUIRE(claim);
        CheckProtectedFolder(last);
    }
    SUBCASE("a link in place of a level")
    {
        // A Unix symbolic link is followed silently by this Wine (no reparse
        // attribute): the level is judged as its target, here a foreign one.
        if (!stage.empty()) {
            const DirectoryClaim claim =
                ClaimInstallDir(WideToUtf8(stage + L"\\link to foreign\\SQL Server"), kInstance);
            CHECK(claim.fault == FolderFault::ForeignOwner);
        }
        REQUIRE(::CreateDirectoryW((dir / L"target").c_str(), nullptr));
        const bool made = ::CreateSymbolicLinkW((dir / L"link").c_str(), (dir / L"target").c_str(),
                                                SYMBOLIC_LINK_FLAG_DIRECTORY |
                                                    SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        const DWORD attributes = ::GetFileAttributesW((dir / L"link").c_str());
        if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            MESSAGE("this Wine makes no directory symbolic link or junction: the reparse-point row not shown");
            return;
        }
        const DirectoryClaim claim = ClaimInstallDir(WideToUtf8(dir / L"link\\SQL Server"), kInstance);
        CHECK(claim.fault == FolderFault::ReparsePoint);
        CHECK_FALSE(IsFolder(dir / L"target\\SQL Server"));
    }
}

TEST_CASE("a held level: another opener may read it, not rename or delete it")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring level = dir / L"held";
    TrustedFolder held = HoldTrustedFolder(WideToUtf8(level), true);
    REQUIRE(held.hold);
    // Listing still works while it is held.
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileW((level + L"\\*").c_str(), &data);
    CHECK(find != INVALID_HANDLE_VALUE);
    if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
    // An open that asks for deletion conflicts with the hold's share mode.
    const HANDLE deleter = ::CreateFileW(level.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD error = ::GetLastError();
    if (deleter == INVALID_HANDLE_VALUE) {
        CHECK(error == ERROR_SHARING_VIOLATION);
    } else {
        ::CloseHandle(deleter);
        MESSAGE("this Wine opened the held folder for deletion (the hold asks list and traverse, sharing "
                "read and write)");
    }
    const bool renamed = ::MoveFileExW(level.c_str(), (dir / L"renamed").c_str(), 0);
    if (renamed) {
        MESSAGE("this Wine renamed the held folder; Windows refuses: the hold does not share deletion");
        ::MoveFileExW((dir / L"renamed").c_str(), level.c_str(), 0);
    }
    held.hold.reset();
    CHECK(::MoveFileExW(level.c_str(), (dir / L"renamed").c_str(), 0));
}

TEST_CASE("judging a descriptor: the owner, and what other accounts may change on the object itself")
{
    const std::wstring self = SelfSid();
    REQUIRE(!self.empty());
    const std::wstring ti = kTrustedInstaller;
    struct Case {
        const char* what;
        std::wstring sddl;
        bool ownerTrusted;
        ACCESS_MASK others;
    };
    const std::wstring base = L"(A;;FA;;;SY)(A;;FA;;;BA)";
    const Case cases[] = {
        // Owners.
        {"owner Administrators", L"O:BAD:" + base, true, 0},
        {"owner SYSTEM", L"O:SYD:" + base, true, 0},
        {"owner TrustedInstaller", L"O:" + ti + L"D:" + base, true, 0},
        {"owner the running account", L"O:" + self + L"D:" + base + L"(A;;FA;;;" + self + L")", true, 0},
        {"owner Users", L"O:BUD:" + base, false, 0},
        {"owner Anonymous (this Wine's foreign Unix owner)", L"O:AND:" + base + L"(A;;FA;;;AN)", false,
         kChangeRights},
        {"owner an account of another machine", L"O:S-1-5-21-1004336348-1177238915-682003330-1013D:" + base,
         false, 0},
        // One row for each right told apart, granted to Users.
        {"Users may write data (add files)", L"O:BAD:" + base + L"(A;;0x2;;;BU)", true, FILE_WRITE_DATA},
        {"Users may append (add subfolders)", L"O:BAD:" + base + L"(A;;0x4;;;BU)", true, FILE_APPEND_DATA},
        {"Users may delete it", L"O:BAD:" + base + L"(A;;SD;;;BU)", true, DELETE},
        {"Users may delete what it holds", L"O:BAD:" + base + L"(A;;0x40;;;BU)", true, FILE_DELETE_CHILD},
        {"Users may change its permissions", L"O:BAD:" + base + L"(A;;WD;;;BU)", true, WRITE_DAC},
        {"Users may take its ownership", L"O:BAD:" + base + L"(A;;WO;;;BU)", true, WRITE_OWNER},
        {"Authenticated Users: generic write", L"O:BAD:" + base + L"(A;;GW;;;AU)", true,
         FILE_WRITE_DATA | FILE_APPEND_DATA},
        {"Everyone: generic all", L"O:BAD:" + base + L"(A;;GA;;;WD)", true, kChangeRights},
        {"Everyone may write (this Wine's mode o+w)", L"O:BAD:" + base + L"(A;;0x1301ff;;;WD)", true,
         FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | FILE_DELETE_CHILD},
        {"an IIS application pool may write", L"O:BAD:" + base + L"(A;;0x1301bf;;;S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415)",
         true, FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE},
        {"inherited entries count", L"O:BAD:AI" + base + L"(A;ID;0x2;;;BU)", true, FILE_WRITE_DATA},
        {"a deny entry does not cancel an allowing one", L"O:BAD:" + base + L"(D;;FA;;;BU)(A;;FA;;;BU)", true,
         kChangeRights},
        {"an empty DACL: nobody", L"O:BAD:", true, 0},
        // Entries that grant nothing on the object itself.
        {"inherit-only entries for Users and CREATOR OWNER",
         L"O:BAD:" + base + L"(A;OICIIO;FA;;;BU)(A;OICIIO;GA;;;CO)", true, 0},
        {"read and execute for Users, Everyone and app packages",
         L"O:BAD:" + base + L"(A;;0x1200a9;;;BU)(A;;0x1200a9;;;WD)(A;;0x1200a9;;;AC)", true, 0},
        // Folders as Windows makes them.
        {"made under Program Files by an administrator",
         L"O:BAD:AI(A;ID;FA;;;" + ti + L")(A;CIIOID;GA;;;" + ti +
             L")(A;ID;0x1301bf;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;0x1301bf;;;BA)(A;OICIIOID;GA;;;BA)"
             L"(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)"
             L"(A;OICIIOID;GXGR;;;AC)",
         true, 0},
        {"under Program Files, owned by TrustedInstaller",
         L"O:" + ti + L"D:PAI(A;;FA;;;" + ti + L")(A;CIIO;GA;;;" + ti +
             L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)"
             L"(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)",
         true, 0},
        {"in the administrator's profile",
         L"O:" + self + L"D:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FA;;;" + self + L")", true, 0},
        {"under a drive root on Windows 7: Authenticated Users may modify",
         L"O:BAD:AI(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;OICIID;0x1200a9;;;BU)"
         L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
         true, FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE},
        {"under a drive root on Windows Server: Users may add files and subfolders",
         L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;CIID;0x4;;;BU)"
         L"(A;CIID;0x2;;;BU)(A;OICIIOID;GA;;;CO)",
         true, FILE_WRITE_DATA | FILE_APPEND_DATA},
    };
    for (const Case& c : cases) {
        const std::string what = c.what;
        CAPTURE(what);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        REQUIRE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                       nullptr));
        const SecurityJudgement j = JudgeSecurity(descriptor);
        ::LocalFree(descriptor);
        CHECK(j.ownerTrusted == c.ownerTrusted);
        CHECK(j.othersMayChange == c.others);
    }
    // The protected descriptors the installer builds pass its own judgement.
    for (const ProtectedKind kind : {ProtectedKind::Folder, ProtectedKind::File}) {
        const ProtectedSecurity security(kind, true);
        REQUIRE(security);
        const SecurityJudgement j = JudgeSecurity(security.Descriptor());
        CHECK(j.ownerTrusted);
        CHECK(j.othersMayChange == 0);
    }
    CHECK(JudgeSecurity(nullptr).othersMayChange == kChangeRights);
    // No DACL at all lets everyone do everything. (Built by hand: this
    // Wine reads "D:NO_ACCESS_CONTROL" as an empty DACL.)
    SECURITY_DESCRIPTOR nullDacl;
    REQUIRE(::InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    REQUIRE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    REQUIRE(::SetSecurityDescriptorOwner(&nullDacl, administrators, FALSE));
    REQUIRE(::SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
    const SecurityJudgement open = JudgeSecurity(&nullDacl);
    CHECK(open.ownerTrusted);
    CHECK(open.othersMayChange == kChangeRights);
}

TEST_CASE("the program folder on disk: a sound one passes, one that others can change or own is refused")
{
    Scratch dir;
    REQUIRE(dir.ok());
    // Made as the installer makes what it protects.
    const std::wstring protectedDir = dir / L"protected";
    REQUIRE(CreateProtectedFolder(protectedDir.c_str()));
    for (const wchar_t* name : {L"Stackhold.exe", L"wget.exe"}) {
        const HANDLE file = CreateProtectedFile((protectedDir + L"\\" + name).c_str(), GENERIC_WRITE, 0);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        ::CloseHandle(file);
    }
    CHECK(CheckProgramFolder(WideToUtf8(protectedDir), "Stackhold.exe").Safe());
    // Nothing there: not judged, refused.
    const ProgramFolderVerdict missing = CheckProgramFolder(WideToUtf8(dir / L"missing"), "Stackhold.exe");
    CHECK_FALSE(missing.Safe());
    CHECK_FALSE(missing.trust.judged);
    // No wget.exe: the last object refused.
    REQUIRE(::CreateDirectoryW((dir / L"no tool").c_str(), nullptr));
    REQUIRE(WriteBytes(dir / L"no tool\\Stackhold.exe", "MZ"));
    CHECK(CheckProgramFolder(WideToUtf8(dir / L"no tool"), "Stackhold.exe").path ==
          WideToUtf8(dir / L"no tool\\wget.exe"));

    const std::wstring stage = Stage();
    if (stage.empty()) {
        MESSAGE("run without trust_stage.py: the foreign and writable rows not shown");
        return;
    }
    constexpr unsigned kWritable = kMayWriteData | kMayAppendData | kMayDelete | kMayDeleteChild;
    constexpr unsigned kAll = kWritable | kMayChangePermissions | kMayTakeOwnership;
    struct Case {
        const wchar_t* folder;
        const wchar_t* refused;  // the object refused, relative to the folder; nullptr: passes
        bool ownerTrusted;
        unsigned others;
    };
    const Case cases[] = {
        {L"safe", nullptr, true, 0},
        {L"writable folder", L"", true, kWritable},
        {L"foreign folder", L"", false, kAll},  // its owner, Anonymous, reads back with full control
        {L"writable program", L"Stackhold.exe", true, kWritable},
        {L"writable wget", L"wget.exe", true, kWritable},
        {L"foreign wget", L"wget.exe", false, kAll},
    };
    for (const Case& c : cases) {
        const std::wstring folder = stage + L"\\" + c.folder;
        CAPTURE(WideToUtf8(folder));
        const ProgramFolderVerdict verdict = CheckProgramFolder(WideToUtf8(folder), "Stackhold.exe");
        if (!c.refused) {
            CHECK(verdict.Safe());
            continue;
        }
        const std::wstring object = *c.refused ? folder + L"\\" + c.refused : folder;
        MESSAGE("read back: " << WideToUtf8(Read(object).sddl));
        CHECK(verdict.path == WideToUtf8(object));
        CHECK(verdict.trust.judged);
        CHECK(verdict.trust.ownerTrusted == c.ownerTrusted);
        CHECK(verdict.trust.othersMayChange == c.others);
    }
}
