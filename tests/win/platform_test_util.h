// Small helpers shared by the platform tests: a scratch folder that cleans up
// after itself, and raw byte access to files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/text_win32.h"

// A fresh folder under the temporary folder, removed with everything in it
// when the test ends, even when it fails.
class ScratchFolder {
public:
    ScratchFolder()
    {
        wchar_t temp[MAX_PATH];
        const DWORD n = ::GetTempPathW(MAX_PATH, temp);
        std::wstring base(temp, n);
        for (unsigned i = 0; i < 1000; ++i) {
            std::wstring candidate = base + L"stackhold-test-" + std::to_wstring(::GetCurrentProcessId()) +
                                     L"-" + std::to_wstring(::GetTickCount()) + L"-" +
                                     std::to_wstring(i);
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~ScratchFolder() { RemoveTree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    // UTF-8 path of a name inside the folder (the folder itself for "").
    std::string operator/(const std::string& name) const
    {
        const std::string root = WideToUtf8(path_);
        return name.empty() ? root : root + "\\" + name;
    }

private:
    static void RemoveTree(const std::wstring& folder)
    {
        if (folder.empty()) return;
        WIN32_FIND_DATAW data;
        const HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring child = folder + L"\\" + name;
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(child);
                else
                    ::DeleteFileW(child.c_str());
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

inline std::string ReadBytes(const std::string& path)
{
    std::string bytes;
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
    ::CloseHandle(file);
    return bytes;
}

inline bool WriteBytes(const std::string& path, const std::string& bytes)
{
    const HANDLE file = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) &&
                    written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

// "b0 b2 d7" -> the bytes; keeps expected encodings readable in the tests.
inline std::string FromHex(const std::string& hex)
{
    std::string bytes;
    int high = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            bytes += static_cast<char>(high * 16 + v);
            high = -1;
        }
    }
    return bytes;
}

inline std::string ToHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}
