#include "setup/setup_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/handles_win32.h"
#include "platform/strings.h"
#include "platform/text_win32.h"

namespace {

// Setup writes a few kilobytes; anything far larger is not its summary.
constexpr int64_t kMaxSummaryBytes = 4 << 20;

int64_t FileTimeValue(const FILETIME& t)
{
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

// A Program Files folder as the registry's native view names it: a 32-bit
// program's own environment would give the (x86) folder for both.
std::wstring ProgramFilesFolder(const wchar_t* value)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return {};
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = sizeof buffer - sizeof(wchar_t);
    const LONG read = ::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    std::wstring folder(buffer);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

bool IsRunFolderName(const std::wstring& name)
{
    // YYYYMMDD_HHMMSS
    if (name.size() != 15 || name[8] != L'_') return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i != 8 && (name[i] < L'0' || name[i] > L'9')) return false;
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* start)
{
    const std::size_t n = wcslen(start);
    return text.size() >= n && ::CompareStringOrdinal(text.c_str(), static_cast<int>(n), start,
                                                      static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

bool EndsWithNoCase(const std::wstring& text, const wchar_t* end)
{
    const std::size_t n = wcslen(end);
    return text.size() >= n && ::CompareStringOrdinal(text.c_str() + text.size() - n, static_cast<int>(n), end,
                                                      static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

bool IsLink(const WIN32_FIND_DATAW& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
bool IsFolder(const WIN32_FIND_DATAW& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// Calls visit for every entry of folder (not "." and "..").
template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileW(JoinPath(folder, L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") visit(data);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
}

void AddSummaries(const std::wstring& logFolder, std::vector<SummaryFile>& out)
{
    ForEachEntry(logFolder, [&](const WIN32_FIND_DATAW& entry) {
        const std::wstring name = entry.cFileName;
        if (IsLink(entry)) return;
        if (!IsFolder(entry)) {
            if (::CompareStringOrdinal(name.c_str(), -1, L"Summary.txt", -1, TRUE) == CSTR_EQUAL)
                out.push_back({WideToUtf8(JoinPath(logFolder, name)), FileTimeValue(entry.ftLastWriteTime), true});
            return;
        }
        if (!IsRunFolderName(name)) return;
        const std::wstring run = JoinPath(logFolder, name);
        ForEachEntry(run, [&](const WIN32_FIND_DATAW& file) {
            const std::wstring fileName = file.cFileName;
            if (IsLink(file) || IsFolder(file)) return;
            if (StartsWithNoCase(fileName, L"Summary_") && EndsWithNoCase(fileName, L".txt"))
                out.push_back({WideToUtf8(JoinPath(run, fileName)), FileTimeValue(file.ftLastWriteTime), false});
        });
    });
}

std::string AnsiText(std::string_view bytes)
{
    try {
        return AnsiToUtf8(bytes);
    } catch (...) {
        return {};
    }
}

}  // namespace

int64_t FileClockNow() noexcept
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeValue(now);
}

std::vector<SummaryFile> ListSetupSummaries() noexcept
{
    std::vector<SummaryFile> found;
    try {
        std::vector<std::wstring> roots;
        for (const wchar_t* value : {L"ProgramFilesDir", L"ProgramFilesDir (x86)"}) {
            const std::wstring root = ProgramFilesFolder(value);
            bool seen = root.empty();
            for (const std::wstring& r : roots)
                if (::CompareStringOrdinal(r.c_str(), -1, root.c_str(), -1, TRUE) == CSTR_EQUAL) seen = true;
            if (!seen) roots.push_back(root);
        }
        for (const std::wstring& root : roots)
            for (const wchar_t* version : {L"100", L"110"})
                AddSummaries(root + L"\\Microsoft SQL Server\\" + version + L"\\Setup Bootstrap\\Log", found);
    } catch (...) {
    }
    return found;
}

bool ReadSetupSummary(const std::string& path, std::string& text) noexcept
{
    try {
        const std::wstring wide = Utf8ToWide(path);
        const UniqueFile file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return false;
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxSummaryBytes) return false;
        std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        if (!bytes.empty() &&
            (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
             read != bytes.size()))
            return false;
        text = DecodeSummaryBytes(bytes, AnsiText);
        return true;
    } catch (...) {
        return false;
    }
}
