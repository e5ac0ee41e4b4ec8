// The program folder's judgement over the descriptors the file system keeps.
#include "envcheck/program_folder.h"

#include <windows.h>

#include "platform/acl_win32.h"
#include "platform/handles_win32.h"
#include "platform/text_win32.h"

namespace {

unsigned ChangeRightsOf(ACCESS_MASK rights) noexcept
{
    unsigned bits = 0;
    if (rights & FILE_WRITE_DATA) bits |= kMayWriteData;
    if (rights & FILE_APPEND_DATA) bits |= kMayAppendData;
    if (rights & DELETE) bits |= kMayDelete;
    if (rights & FILE_DELETE_CHILD) bits |= kMayDeleteChild;
    if (rights & WRITE_DAC) bits |= kMayChangePermissions;
    if (rights & WRITE_OWNER) bits |= kMayTakeOwnership;
    return bits;
}

}  // namespace

ObjectTrust JudgeObjectTrust(const std::string& path) noexcept
{
    ObjectTrust trust;
    try {
        const std::wstring wide = Utf8ToWide(path);
        if (wide.empty()) return trust;
        // Reading the descriptor needs no sharing from other openers.
        UniqueFile object(::CreateFileW(wide.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
        if (!object) return trust;
        BY_HANDLE_FILE_INFORMATION info{};
        // A link in the program's place is no folder of ours to judge.
        if (!::GetFileInformationByHandle(object.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return trust;
        const SecurityJudgement judgement = JudgeObjectSecurity(object.get());
        trust.judged = true;
        trust.ownerTrusted = judgement.ownerTrusted;
        trust.othersMayChange = ChangeRightsOf(judgement.othersMayChange);
    } catch (...) {
        trust = {};
    }
    return trust;
}
