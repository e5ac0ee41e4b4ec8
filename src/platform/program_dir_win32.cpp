#include "platform/program_dir.h"

#include <windows.h>

#include "platform/text_win32.h"

namespace {

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
        if (length == 0) return {};
        if (length < size) {
            path.resize(length);
            return path;
        }
        if (size >= 32768) return {};  // no Windows path is longer
        path.resize(static_cast<std::size_t>(size) * 2);
    }
}

}  // namespace

std::wstring FolderOfFile(std::wstring_view path)
{
    const std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring_view::npos) return {};
    std::wstring folder(path.substr(0, cut));
    if (!folder.empty() && folder.back() == L':') folder += L'\\';  // a drive root keeps its backslash
    return folder;
}

std::string GetProgramDir() noexcept
{
    try {
        return WideToUtf8(FolderOfFile(ModulePath()));
    } catch (...) {
        return {};
    }
}

std::string ProgramFileName() noexcept
{
    try {
        const std::wstring path = ModulePath();
        const std::size_t cut = path.find_last_of(L"\\/");
        return WideToUtf8(cut == std::wstring::npos ? path : path.substr(cut + 1));
    } catch (...) {
        return {};
    }
}
