// What the installer writes and later runs as administrator, against real
// files in the Wine prefix: the package folder in each state it can be
// found in, with its security descriptor read back; the held package and
// the held batch file, which another process can neither rewrite, delete
// nor replace; a planted batch file that never runs.
//
// Wine neither enforces security descriptors between processes of one Unix
// user nor keeps them: this Wine turns a descriptor that is set into Unix
// mode bits and reads back one made from those bits (owner the user,
// SYSTEM, Everyone, never protected). So the descriptors are checked as the
// code builds them, and on the files only as far as Wine keeps them. Wine
// does enforce share modes on files: the holds are tried from other
// processes.
#include <doctest/doctest.h>

#include <windows.h>
#include <winioctl.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>

#include "platform/acl_win32.h"
#include "platform/fs.h"
#include "setup/netfx.h"
#include "win_test_util.h"
#include "wizard/ui.h"

using namespace wintest;

namespace {

// A local account of another machine: an owner that is none of ours.
constexpr wchar_t kForeignOwner[] = L"S-1-5-21-1004336348-1177238915-682003330-1013";

std::wstring CmdPath()
{
    wchar_t system[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, n) + L"\\cmd.exe";
}

// Runs one command line through cmd.exe in another process; its exit code.
DWORD Cmd(const std::wstring& line)
{
    const RunResult r = Run(CmdPath(), L"cmd.exe /d /c \"" + line + L"\"", 30000);
    REQUIRE(r.started);
    REQUIRE_FALSE(r.timedOut);
    return r.exitCode;
}

// childprog --write in another process: 0 when it could replace the file.
DWORD OverwriteFromChild(const std::wstring& path)
{
    const std::wstring child = FixturePath(L"childprog.exe");
    const RunResult r = Run(child, L"\"" + child + L"\" --write \"" + path + L"\" EVIL", 30000);
    REQUIRE(r.started);
    return r.exitCode;
}

struct Security {
    std::wstring sddl;
    bool protectedDacl = false;
    bool ownerAdministrators = false;
    std::wstring writersAmongOthers;  // SIDs of Users, Authenticated Users, Everyone, CREATOR OWNER with a write right
    bool systemAndAdminsFull = false;
};

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return ::CreateWellKnownSid(type, nullptr, buffer, &size) && ::EqualSid(sid, buffer);
}

Security Analyse(PSECURITY_DESCRIPTOR descriptor)
{
    Security s;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return s;
    s.sddl = OwnerAndDaclSddl(descriptor);
    s.protectedDacl = IsDaclProtected(descriptor);
    s.ownerAdministrators = owner && IsSid(owner, WinBuiltinAdministratorsSid);
    constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                                   FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                   GENERIC_ALL;
    bool systemFull = false, adminsFull = false;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        PSID sid = &ace->SidStart;
        if (IsSid(sid, WinLocalSystemSid) && (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS) systemFull = true;
        if (IsSid(sid, WinBuiltinAdministratorsSid) && (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS)
            adminsFull = true;
        const bool other = IsSid(sid, WinBuiltinUsersSid) || IsSid(sid, WinAuthenticatedUserSid) ||
                           IsSid(sid, WinWorldSid) || IsSid(sid, WinCreatorOwnerSid);
        if (other && (ace->Mask & kWriteRights)) s.writersAmongOthers += L"write right for an ordinary SID ";
    }
    s.systemAndAdminsFull = systemFull && adminsFull;
    return s;
}

Security ReadSecurity(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    const Security s = Analyse(descriptor);
    ::LocalFree(descriptor);
    return s;
}

// The descriptor read back from the file system: no write right for
// ordinary users in any case; the whole protected set where the system
// keeps descriptors (Windows does, this Wine does not).
void CheckProtected(const std::wstring& path)
{
    const Security s = ReadSecurity(path);
    CAPTURE(WideToUtf8(path));
    MESSAGE("SDDL read back: " << WideToUtf8(s.sddl));
    REQUIRE_FALSE(s.sddl.empty());
    CHECK(s.writersAmongOthers.empty());
    if (s.protectedDacl) {
        CHECK(s.systemAndAdminsFull);
        CHECK(s.ownerAdministrators);
    }
}

bool SetOwner(const std::wstring& path, const wchar_t* sidText)
{
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(sidText, &sid)) return false;
    const DWORD r = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION, sid, nullptr, nullptr, nullptr);
    ::LocalFree(sid);
    return r == ERROR_SUCCESS;
}

// Whatever the folder holds beside "packages" whose name starts with
// "packages.untrusted-": what was moved aside.
std::wstring MovedAside(const Scratch& dir)
{
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileW((dir / L"packages.untrusted-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return {};
    ::FindClose(find);
    return dir / std::wstring(data.cFileName);
}

// A link named packages, if this Wine can make one: a directory symbolic
// link first, then a junction through FSCTL_SET_REPARSE_POINT.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    const auto isLink = [&] {
        const DWORD a = ::GetFileAttributesW(link.c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY);
    };
    if (::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                              SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        if (isLink()) return true;
        // This Wine answers success but leaves no usable link.
        ::RemoveDirectoryW(link.c_str());
        ::DeleteFileW(link.c_str());
    }
    if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
    const HANDLE dir = ::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool made = false;
    if (dir != INVALID_HANDLE_VALUE) {
        const std::wstring substitute = L"\\??\\" + target;
        const USHORT subBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
        std::string buffer(8 + 8 + subBytes + 2 + 2, '\0');
        auto* p = reinterpret_cast<BYTE*>(buffer.data());
        *reinterpret_cast<DWORD*>(p) = IO_REPARSE_TAG_MOUNT_POINT;
        *reinterpret_cast<USHORT*>(p + 4) = static_cast<USHORT>(buffer.size() - 8);
        *reinterpret_cast<USHORT*>(p + 8) = 0;                       // substitute offset
        *reinterpret_cast<USHORT*>(p + 10) = subBytes;               // substitute length
        *reinterpret_cast<USHORT*>(p + 12) = subBytes + 2;           // print offset
        *reinterpret_cast<USHORT*>(p + 14) = 0;                      // print length
        std::memcpy(p + 16, substitute.data(), subBytes);
        DWORD returned = 0;
        made = ::DeviceIoControl(dir, FSCTL_SET_REPARSE_POINT, p, static_cast<DWORD>(buffer.size()), nullptr, 0,
                                 &returned, nullptr) != FALSE;
        ::CloseHandle(dir);
    }
    if (made && isLink()) return true;
    ::RemoveDirectoryW(link.c_str());
    return false;
}

// The Linux path of a file of the prefix; empty outside Wine.
std::string UnixPath(const std::wstring& path)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName) return {};
    char* unix = unixName(path.c_str());
    if (!unix) return {};
    std::string text = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return text;
}

// Runs a Linux program on the Linux paths of the files named (Wine starts an
// ELF file as a Unix process of its own) and waits, bounded, until its
// effect shows: Wine gives no handle of such a process to wait on.
bool RunLinux(const wchar_t* program, const std::wstring& firstArgument, std::initializer_list<std::wstring> files,
              const std::function<bool()>& done)
{
    std::wstring line = L"\"" + std::wstring(program) + L"\" " + firstArgument;
    for (const std::wstring& file : files) {
        const std::string unix = UnixPath(file);
        if (unix.empty()) return false;
        line += L" \"" + Utf8ToWide(unix) + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info))
        return false;
    if (info.hThread) ::CloseHandle(info.hThread);
    if (info.hProcess) {
        ::WaitForSingleObject(info.hProcess, 10000);
        ::CloseHandle(info.hProcess);
    }
    for (int i = 0; i < 100 && !done(); ++i) ::Sleep(50);
    return done();
}

DWORD LinkCount(const std::wstring& path)
{
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    return ok ? info.nNumberOfLinks : 0;
}

// A second name for target, made from Linux with ln, or else by Wine; how
// it was made, or empty when neither could.
std::string MakeHardLink(const std::wstring& link, const std::wstring& target)
{
    if (RunLinux(L"Z:\\usr\\bin\\ln", L"", {target, link}, [&] { return LinkCount(target) > 1; }))
        return "ln";
    if (::CreateHardLinkW(link.c_str(), target.c_str(), nullptr) && LinkCount(target) > 1)
        return "CreateHardLinkW";
    return {};
}

// The owner as SDDL reads it back ("AN" for Anonymous).
std::wstring OwnerOf(const std::wstring& path)
{
    const std::wstring sddl = ReadSecurity(path).sddl;
    if (!sddl.starts_with(L"O:")) return {};
    return sddl.substr(2, sddl.find(L"D:") == std::wstring::npos ? std::wstring::npos : sddl.find(L"D:") - 2);
}

// Gives the file to the Linux account nobody, which this Wine reads back as
// owned by Anonymous (O:AN): an owner that is none of ours.
bool GiveToNobody(const std::wstring& path)
{
    return RunLinux(L"Z:\\usr\\bin\\chown", L"nobody", {path}, [&] { return OwnerOf(path) == L"AN"; });
}

// The access a handle was granted, as the system records it.
ACCESS_MASK GrantedAccess(HANDLE handle)
{
    struct BasicInformation {
        ULONG Attributes;
        ACCESS_MASK GrantedAccess;
        ULONG HandleCount;
        ULONG PointerCount;
        ULONG Reserved[10];
    } info{};
    using QueryObject = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryObject>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    ULONG size = 0;
    if (!query || query(handle, 0, &info, sizeof info, &size) < 0) return 0;
    return info.GrantedAccess;
}

}  // namespace

TEST_CASE("the protected descriptors as they are set on folders and files")
{
    struct Case {
        ProtectedKind kind;
        bool owner;
        const wchar_t* sddl;
    };
    const Case cases[] = {
        {ProtectedKind::Folder, true, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
        {ProtectedKind::Folder, false, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"},
        {ProtectedKind::File, true, L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"},
        {ProtectedKind::File, false, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"},
    };
    for (const Case& c : cases) {
        const ProtectedSecurity security(c.kind, c.owner);
        REQUIRE(security);
        const Security s = Analyse(security.Descriptor());
        CAPTURE(WideToUtf8(s.sddl));
        CHECK(s.sddl == c.sddl);
        CHECK(s.protectedDacl);
        CHECK(s.systemAndAdminsFull);
        CHECK(s.writersAmongOthers.empty());
        CHECK(s.ownerAdministrators == c.owner);
        // Users may read and run, nothing more.
        CHECK(std::wstring(c.sddl).find(L"0x1200a9;;;BU)") != std::wstring::npos);
    }
}

TEST_CASE("whose folder may be used: the owners trusted")
{
    // This Wine keeps no foreign owner on a file, so the judgement is shown
    // on the owners themselves.
    const std::wstring selfText = SelfSid();
    REQUIRE(!selfText.empty());

    struct Case {
        std::wstring sid;
        bool trusted;
    };
    const Case cases[] = {
        {L"BA", true},                                                              // Administrators
        {L"SY", true},                                                              // SYSTEM
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", true},  // TrustedInstaller
        {selfText, true},                                                           // the running account
        {L"BU", false},                                                             // Users
        {L"AU", false},                                                             // Authenticated Users
        {L"WD", false},                                                             // Everyone
        {L"BG", false},                                                             // Guests
        {L"CO", false},                                                             // CREATOR OWNER
        {L"S-1-5-82-3006700770-424185619-1745488364-794895919-4004696415", false},  // an IIS application pool
        {kForeignOwner, false},
    };
    for (const Case& c : cases) {
        CAPTURE(WideToUtf8(c.sid));
        PSID sid = nullptr;
        REQUIRE(::ConvertStringSidToSidW(c.sid.c_str(), &sid));
        CHECK(IsTrustedOwner(sid) == c.trusted);
        ::LocalFree(sid);
    }
    CHECK_FALSE(IsTrustedOwner(nullptr));
}

TEST_CASE("the package folder in every state it can be found in")
{
    enum class Outcome { Made, Kept, MovedAside };
    struct Case {
        const char* what;
        Outcome outcome;
    };
    const Case cases[] = {
        {"missing: made with the protected DACL", Outcome::Made},
        {"from an earlier run, with a partial package: kept, protected again", Outcome::Kept},
        {"from an earlier run, with a complete package: kept, protected again", Outcome::Kept},
        {"a link to a folder elsewhere: moved aside, the target untouched", Outcome::MovedAside},
        {"owned by another account: moved aside with its files", Outcome::MovedAside},
        {"a file in its place: moved aside", Outcome::MovedAside},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Scratch dir;
        REQUIRE(dir.ok());
        const std::wstring packages = dir / L"packages";
        const std::wstring package = packages + L"\\SQLEXPR_x64_CHS.exe";
        const std::string what = c.what;
        std::string keptBytes;  // what must still be there, at the new or the old place
        if (what.starts_with("from an earlier run")) {
            // Made as an older build did: no DACL of its own, Everyone reads.
            REQUIRE(::CreateDirectoryW(packages.c_str(), nullptr));
            keptBytes = what.find("partial") != std::string::npos ? std::string("MZ partial") : std::string("MZ complete");
            REQUIRE(WriteBytes(package, keptBytes));
        } else if (what.starts_with("a link")) {
            REQUIRE(::CreateDirectoryW((dir / L"elsewhere").c_str(), nullptr));
            REQUIRE(WriteBytes(dir / L"elsewhere\\keep.txt", "keep"));
            if (!MakeFolderLink(packages, dir / L"elsewhere")) {
                MESSAGE("this Wine makes neither a directory symbolic link nor a junction: row not shown");
                continue;
            }
        } else if (what.starts_with("owned by")) {
            REQUIRE(::CreateDirectoryW(packages.c_str(), nullptr));
            keptBytes = "MZ planted";
            REQUIRE(WriteBytes(package, keptBytes));
            // This Wine keeps no owner that is set (SetNamedSecurityInfo
            // answers success, the owner read back is the user's); a folder
            // given to the Linux account nobody reads back as Anonymous.
            const bool set = SetOwner(packages, kForeignOwner) &&
                             ReadSecurity(packages).sddl.find(kForeignOwner) != std::wstring::npos;
            if (!set && !GiveToNobody(packages)) {
                MESSAGE("neither SetNamedSecurityInfo nor chown nobody gave the folder a foreign owner: "
                        "row not shown");
                continue;
            }
            MESSAGE("owner of the folder read back: " << WideToUtf8(OwnerOf(packages)));
        } else if (what.starts_with("a file")) {
            keptBytes = "not a folder";
            REQUIRE(WriteBytes(packages, keptBytes));
        }

        HeldFile held = EnsureProtectedFolder(WideToUtf8(packages));
        REQUIRE(held);
        CHECK(IsFolder(packages));
        CHECK((::GetFileAttributesW(packages.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0);
        CheckProtected(packages);

        const std::wstring aside = MovedAside(dir);
        CHECK(aside.empty() == (c.outcome != Outcome::MovedAside));
        switch (c.outcome) {
        case Outcome::Made:
            CHECK(ReadBytes(package) == "<missing>");
            break;
        case Outcome::Kept:
            // Resume and reuse still find the package, now protected too.
            CHECK(ReadBytes(package) == keptBytes);
            CheckProtected(package);
            break;
        case Outcome::MovedAside:
            // Nothing of it is used, nothing of it destroyed.
            CHECK(ReadBytes(package) == "<missing>");
            if (what.starts_with("a link")) {
                CHECK(ReadBytes(dir / L"elsewhere\\keep.txt") == "keep");
            } else if (what.starts_with("a file")) {
                CHECK(ReadBytes(aside) == keptBytes);
            } else {
                CHECK(ReadBytes(aside + L"\\SQLEXPR_x64_CHS.exe") == keptBytes);
            }
            break;
        }

        // Held with listing access and without sharing deletion: no other
        // process renames the folder (the hold's own test below shows it).
        Cmd(L"move \"" + packages + L"\" \"" + dir / L"renamed" + L"\" >nul 2>&1");
        CHECK(IsFolder(packages));
        held.reset();
    }
}

TEST_CASE("a reused package folder holding anything but our own single-link files is moved aside")
{
    // What an ordinary user could have left in a folder of an earlier run:
    // a hard link named like the package whose other name is a file the
    // user may not write (a service's program), a subfolder, a file owned
    // by another account. Each makes the whole folder untrusted.
    enum class Plant { HardLink, Folder, ForeignFile };
    struct Case {
        const char* what;
        Plant plant;
    };
    const Case cases[] = {
        {"a hard link named like the package, made from Linux with ln", Plant::HardLink},
        {"a subfolder", Plant::Folder},
        {"a file owned by another account (chown nobody: O:AN)", Plant::ForeignFile},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Scratch dir;
        REQUIRE(dir.ok());
        const std::wstring packages = dir / L"packages";
        const std::wstring package = packages + L"\\SQLEXPR_x64_CHS.exe";
        const std::wstring service = dir / L"service.exe";  // the link's other name, outside
        const std::string serviceBytes = "MZ the service's own program";
        REQUIRE(::CreateDirectoryW(packages.c_str(), nullptr));
        // Beside the planted entry, a partial package of ours: it goes along.
        REQUIRE(WriteBytes(packages + L"\\ours.part", "MZ partial"));
        std::wstring planted;
        switch (c.plant) {
        case Plant::HardLink: {
            REQUIRE(WriteBytes(service, serviceBytes));
            const std::string how = MakeHardLink(package, service);
            if (how.empty()) {
                MESSAGE("neither ln nor this Wine made a hard link: row not shown");
                continue;
            }
            MESSAGE("hard link made by " << how << "; link count of the package's name: " << LinkCount(package));
            planted = L"SQLEXPR_x64_CHS.exe";
            break;
        }
        case Plant::Folder:
            REQUIRE(::CreateDirectoryW((packages + L"\\sub").c_str(), nullptr));
            REQUIRE(WriteBytes(packages + L"\\sub\\x.exe", "MZ inside"));
            planted = L"sub";
            break;
        case Plant::ForeignFile:
            REQUIRE(WriteBytes(package, "MZ planted"));
            if (!GiveToNobody(package)) {
                MESSAGE("chown nobody could not be run from this Wine: row not shown");
                continue;
            }
            MESSAGE("owner of the planted file read back: " << WideToUtf8(OwnerOf(package)));
            planted = L"SQLEXPR_x64_CHS.exe";
            break;
        }

        HeldFile held = EnsureProtectedFolder(WideToUtf8(packages));
        REQUIRE(held);
        // A fresh, empty, protected folder in its place.
        CHECK(IsFolder(packages));
        CheckProtected(packages);
        CHECK(ReadBytes(package) == "<missing>");
        CHECK(ReadBytes(packages + L"\\ours.part") == "<missing>");
        // The old one, whole, moved aside: nothing of it used, nothing destroyed.
        const std::wstring aside = MovedAside(dir);
        REQUIRE_FALSE(aside.empty());
        CHECK(ReadBytes(aside + L"\\ours.part") == "MZ partial");
        const DWORD plantedAttributes = ::GetFileAttributesW((aside + L"\\" + planted).c_str());
        CHECK(plantedAttributes != INVALID_FILE_ATTRIBUTES);
        // What the tool then writes lands in the fresh folder; no byte
        // reaches the link's other name.
        REQUIRE(WriteBytes(package, "MZ downloaded"));
        if (c.plant == Plant::HardLink) {
            CHECK(ReadBytes(service) == serviceBytes);
            CHECK(ReadBytes(aside + L"\\SQLEXPR_x64_CHS.exe") == serviceBytes);
        }
        held.reset();
    }
}

TEST_CASE("a held folder: no other process renames or deletes it")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring packages = dir / L"packages";
    const std::wstring renamed = dir / L"renamed";
    HeldFile held = EnsureProtectedFolder(WideToUtf8(packages));
    REQUIRE(held);
    // Windows records a share mode only for an open with data access: the
    // hold lists and traverses, so its missing FILE_SHARE_DELETE counts.
    const ACCESS_MASK access = GrantedAccess(reinterpret_cast<HANDLE>(held.token()));
    char mask[16];
    ::wsprintfA(mask, "0x%lx", static_cast<unsigned long>(access));
    MESSAGE("access of the folder's hold: " << mask);
    CHECK((access & (FILE_LIST_DIRECTORY | FILE_TRAVERSE)) == (FILE_LIST_DIRECTORY | FILE_TRAVERSE));

    Cmd(L"move \"" + packages + L"\" \"" + renamed + L"\" >nul 2>&1");
    CHECK(IsFolder(packages));
    CHECK_FALSE(IsFolder(renamed));
    Cmd(L"rd \"" + packages + L"\" >nul 2>&1");
    CHECK(IsFolder(packages));

    // Let go, the same commands succeed: it was the hold that stopped them.
    held.reset();
    Cmd(L"move \"" + packages + L"\" \"" + renamed + L"\" >nul 2>&1");
    CHECK(IsFolder(renamed));
    Cmd(L"rd \"" + renamed + L"\" >nul 2>&1");
    CHECK_FALSE(IsFolder(renamed));
}

TEST_CASE("the package folder: no parent, nothing made")
{
    Scratch dir;
    REQUIRE(dir.ok());
    CHECK_FALSE(EnsureProtectedFolder(dir / "missing\\packages"));
    CHECK_FALSE(IsFolder(dir / L"missing"));
    CHECK_FALSE(EnsureProtectedFolder(""));
}

TEST_CASE("the held package: no other process writes, deletes or renames over it; it still starts")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring packages = dir / L"packages";
    HeldFile folder = EnsureProtectedFolder(WideToUtf8(packages));
    REQUIRE(folder);
    const std::wstring package = packages + L"\\SQLEXPR_x64_CHS.exe";
    REQUIRE(::CopyFileW(FixturePath(L"childprog.exe").c_str(), package.c_str(), FALSE));
    REQUIRE(WriteBytes(dir / L"other.exe", "MZ other"));
    const std::string original = ReadBytes(package);

    HeldFile held = HoldFileForRun(WideToUtf8(package));
    REQUIRE(held);
    CheckProtected(package);

    CHECK(OverwriteFromChild(package) != 0);
    CHECK(Cmd(L"copy /y \"" + dir / L"other.exe" + L"\" \"" + package + L"\" >nul 2>&1") != 0);
    CHECK(Cmd(L"move /y \"" + dir / L"other.exe" + L"\" \"" + package + L"\" >nul 2>&1") != 0);
    Cmd(L"del /f /q \"" + package + L"\" >nul 2>&1");  // del answers 0 even when it fails: the bytes tell
    Cmd(L"echo appended>>\"" + package + L"\" 2>nul");  // Wine's cmd answers 0 either way: the bytes tell
    CHECK(ReadBytes(package) == original);

    // Readers and the system's program start share with the hold.
    const RunResult started = Run(package, L"\"" + package + L"\" --exit 7", 30000);
    CHECK(started.started);
    CHECK(started.exitCode == 7);

    held.reset();
    CHECK(OverwriteFromChild(package) == 0);
}

TEST_CASE("HoldFileForRun refuses what must not run")
{
    Scratch dir;
    REQUIRE(dir.ok());
    REQUIRE(WriteBytes(dir / L"single.exe", "MZ"));
    REQUIRE(WriteBytes(dir / L"linked.exe", "MZ"));
    const bool hardLink = ::CreateHardLinkW((dir / L"second name.exe").c_str(), (dir / L"linked.exe").c_str(), nullptr);
    REQUIRE(WriteBytes(dir / L"written.exe", "MZ"));
    REQUIRE(::CreateDirectoryW((dir / L"folder.exe").c_str(), nullptr));

    CHECK(HoldFileForRun(dir / "single.exe"));
    CHECK_FALSE(HoldFileForRun(dir / "missing.exe"));
    CHECK_FALSE(HoldFileForRun(dir / "folder.exe"));
    if (hardLink)
        CHECK_FALSE(HoldFileForRun(dir / "linked.exe"));
    else
        MESSAGE("this Wine makes no hard link: the second-name row not shown");

    // Another process still has it open for writing.
    const std::wstring child = FixturePath(L"childprog.exe");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + child + L"\" --hold \"" + dir / L"busy.exe" + L"\" --sleep 20000";
    REQUIRE(::CreateProcessW(child.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &startup, &info));
    for (int i = 0; i < 200 && !IsFile(dir / L"busy.exe"); ++i) ::Sleep(25);
    CHECK_FALSE(HoldFileForRun(dir / "busy.exe"));
    ::TerminateProcess(info.hProcess, 0);
    ::WaitForSingleObject(info.hProcess, 5000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
}

TEST_CASE("a fresh batch file: protected, never an existing one, held while cmd.exe runs it")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring batch = dir / L"fx35.bat";
    const std::wstring result = dir / L"result.txt";
    // While it runs, a second process tries to rewrite it.
    const std::string body = "@echo off\r\n(echo rem changed>>\"" + WideToUtf8(batch) + "\") 2>nul && (echo rewritten>\"" +
                             WideToUtf8(result) + "\") || (echo refused>\"" + WideToUtf8(result) + "\")";

    HeldFile held = WriteFreshTextFile(WideToUtf8(batch), body);
    REQUIRE(held);
    CheckProtected(batch);
    CHECK(ReadBytes(batch) == body);
    // Nobody rewrites, renames over or deletes it while it is held.
    CHECK(OverwriteFromChild(batch) != 0);
    REQUIRE(WriteBytes(dir / L"other.bat", "echo other"));
    CHECK(Cmd(L"move /y \"" + dir / L"other.bat" + L"\" \"" + batch + L"\" >nul 2>&1") != 0);

    const RunResult run = Run(CmdPath(), L"cmd.exe /d /c \"\"" + batch + L"\"\"", 30000);
    CHECK(run.started);
    CHECK(ReadBytes(result) == "refused\r\n");
    CHECK(ReadBytes(batch) == body);

    // Never written over an existing file: the name taken, nothing made.
    CHECK_FALSE(WriteFreshTextFile(WideToUtf8(batch), "echo again"));
    CHECK(ReadBytes(batch) == body);
    held.reset();
    CHECK_FALSE(WriteFreshTextFile(dir / "missing\\fx35.bat", "dism"));
}

TEST_CASE("DeleteFileIfExists: through the entry itself, answering the truth")
{
    Scratch dir;
    REQUIRE(dir.ok());
    SUBCASE("a read-only file goes")
    {
        REQUIRE(WriteBytes(dir / L"p.exe", "MZ"));
        REQUIRE(::SetFileAttributesW((dir / L"p.exe").c_str(), FILE_ATTRIBUTE_READONLY));
        CHECK(DeleteFileIfExists(dir / "p.exe"));
        CHECK_FALSE(IsFile(dir / L"p.exe"));
    }
    SUBCASE("a file another process holds without sharing deletion stays: false")
    {
        const HANDLE other = ::CreateFileW((dir / L"held.exe").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_NEW, 0, nullptr);
        REQUIRE(other != INVALID_HANDLE_VALUE);
        CHECK_FALSE(DeleteFileIfExists(dir / "held.exe"));
        ::CloseHandle(other);
        CHECK(IsFile(dir / L"held.exe"));
    }
    SUBCASE("a link goes itself, its target stays")
    {
        REQUIRE(WriteBytes(dir / L"target.exe", "target"));
        if (!::CreateSymbolicLinkW((dir / L"link.exe").c_str(), (dir / L"target.exe").c_str(),
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
            MESSAGE("this Wine makes no file symbolic link: row not shown");
            return;
        }
        CHECK(DeleteFileIfExists(dir / "link.exe"));
        CHECK(ReadBytes(dir / L"target.exe") == "target");
    }
}

TEST_CASE("a planted read-only fx35.bat is replaced and its commands never run")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring batch = dir / L"fx35.bat";
    const std::wstring planted = dir / L"planted.txt";
    REQUIRE(WriteBytes(batch, "@echo planted>\"" + WideToUtf8(planted) + "\"\r\n"));
    REQUIRE(::SetFileAttributesW(batch.c_str(), FILE_ATTRIBUTE_READONLY));

    CHECK(EnableNetFx35(WideToUtf8(dir.path()), PumpEvents));
    CHECK_FALSE(IsFile(planted));
    CHECK_FALSE(IsFile(batch));

    SUBCASE("one that cannot be removed is not run either")
    {
        REQUIRE(WriteBytes(batch, "@echo planted>\"" + WideToUtf8(planted) + "\"\r\n"));
        const HANDLE lock = ::CreateFileW(batch.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                          nullptr);
        REQUIRE(lock != INVALID_HANDLE_VALUE);
        CHECK_FALSE(EnableNetFx35(WideToUtf8(dir.path()), PumpEvents));
        ::CloseHandle(lock);
        CHECK_FALSE(IsFile(planted));
    }
}

TEST_CASE("DeleteFileInHeldFolder: only a plain name, only inside the folder held")
{
    Scratch dir;
    REQUIRE(dir.ok());
    const std::wstring packages = dir / L"packages";
    const std::wstring victim = dir / L"victim.exe";
    REQUIRE(WriteBytes(victim, "MZ victim"));
    HeldFile held = EnsureProtectedFolder(WideToUtf8(packages));
    REQUIRE(held);
    REQUIRE(WriteBytes(packages + L"\\p.exe", "MZ"));
    REQUIRE(::SetFileAttributesW((packages + L"\\p.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    REQUIRE(::CreateDirectoryW((packages + L"\\folder.exe").c_str(), nullptr));

    struct Case {
        const char* name;
        bool result;
    };
    const Case cases[] = {
        {"p.exe", true},               // a read-only package goes
        {"missing.exe", true},         // nothing there: nothing left
        {"folder.exe", true},          // a folder is no file: it stays
        {"..\\victim.exe", false},     // never beside or above the folder
        {"../victim.exe", false},
        {"C:\\victim.exe", false},
        {"", false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(DeleteFileInHeldFolder(held, c.name) == c.result);
    }
    CHECK_FALSE(IsFile(packages + L"\\p.exe"));
    CHECK(IsFolder(packages + L"\\folder.exe"));
    CHECK(ReadBytes(victim) == "MZ victim");
    // Not held: nothing is deleted.
    REQUIRE(WriteBytes(packages + L"\\q.exe", "MZ"));
    CHECK_FALSE(DeleteFileInHeldFolder(HeldFile{}, "q.exe"));
    CHECK(IsFile(packages + L"\\q.exe"));

    // A second name of a file outside: the name in the folder goes, the
    // file outside keeps its bytes.
    if (!MakeHardLink(packages + L"\\linked.exe", victim).empty()) {
        CHECK(DeleteFileInHeldFolder(held, "linked.exe"));
        CHECK_FALSE(IsFile(packages + L"\\linked.exe"));
        CHECK(ReadBytes(victim) == "MZ victim");
    } else {
        MESSAGE("neither ln nor this Wine made a hard link: row not shown");
    }
}
