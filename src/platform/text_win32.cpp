#include "platform/text_win32.h"

#include <windows.h>

namespace {

std::wstring ToWide(UINT codePage, std::string_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, out.data(), n);
    return out;
}

std::string FromWide(UINT codePage, std::wstring_view text)
{
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) { return ToWide(CP_UTF8, text); }
std::string WideToUtf8(std::wstring_view text) { return FromWide(CP_UTF8, text); }
std::string Utf8ToAnsi(std::string_view text) { return FromWide(CP_ACP, Utf8ToWide(text)); }
std::string AnsiToUtf8(std::string_view bytes) { return WideToUtf8(ToWide(CP_ACP, bytes)); }

bool FitsAnsiCodePage(std::string_view text)
{
    const std::wstring wide = Utf8ToWide(text);
    if (wide.empty()) return true;
    BOOL usedDefault = FALSE;
    const int size = static_cast<int>(wide.size());
    // No best-fit mapping: a character that would only come out as a look-alike
    // does not fit.
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                      nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}
