#pragma once

#include <cstdint>
#include <string>

// GET with up to five attempts; the body decoded from the system ANSI code
// page, or empty text on failure. An https address gets the four time limits.
std::string HttpGet(const std::string& url) noexcept;

// Content-Length of a HEAD answer; 0 when it cannot be had. Keeps the
// window's events flowing while it waits.
int64_t GetRemoteFileSize(const std::string& url) noexcept;

// Bytes in the system ANSI code page to UTF-8 text.
std::string BytesToText(const std::string& bytes) noexcept;
