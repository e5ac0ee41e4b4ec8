#pragma once

#include <string>

inline constexpr char kNotesFileName[] = "SQL Server安装说明.txt";

struct NotesFields {
    std::string edition;
    std::string instanceName;
    std::string saPassword;
    std::string installDir;
    std::string siteUrl;
    std::string dateTime;
};

// The 21 lines of the notes file, CR LF between them, none after the last.
std::string ComposeInstallationNotes(const NotesFields& fields);

// The current user's desktop folder without a trailing backslash, or empty.
std::string GetDesktopFolder() noexcept;
// The local date and time in the user's short-date and long-time formats.
std::string LocalDateTimeText() noexcept;
// Starts Notepad minimized on the file without waiting for it.
void OpenInstallationNotes(const std::string& path) noexcept;
