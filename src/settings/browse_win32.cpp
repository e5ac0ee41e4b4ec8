// The platform's folder chooser, as the settings page opens it.
#include "settings/browse.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "platform/handles_win32.h"
#include "platform/text_win32.h"

namespace {

// Only file-system folders can be confirmed, a name can be typed, and the
// chooser is the resizable one with its own new-folder button.
constexpr UINT kChooserFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
static_assert(kChooserFlags == 0x51);

// Room for the longest path Windows can hold, not only MAX_PATH.
constexpr DWORD kPathRoom = 32768;

}  // namespace

std::string BrowseForFolder(const std::string& title) noexcept
{
    try {
        const std::wstring wideTitle = Utf8ToWide(title);
        BROWSEINFOW request{};
        request.hwndOwner = nullptr;  // the wizard stays usable while it is open
        request.pidlRoot = nullptr;   // the whole namespace, from the desktop
        request.pszDisplayName = nullptr;
        request.lpszTitle = wideTitle.c_str();
        request.ulFlags = kChooserFlags;
        UniqueCoTaskMem<ITEMIDLIST> item(::SHBrowseForFolderW(&request));
        if (!item) return {};  // cancelled
        std::wstring path(kPathRoom, L'\0');
        if (!::SHGetPathFromIDListEx(item.get(), path.data(), kPathRoom, GPFIDL_DEFAULT)) return {};
        path.resize(std::wcslen(path.c_str()));  // up to the first NUL
        return WideToUtf8(path);
    } catch (...) {
        return {};
    }
}
