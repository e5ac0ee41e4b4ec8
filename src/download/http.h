#pragma once

#include <cstdint>
#include <string>

#include "platform/event_pump.h"

// GET with up to five attempts; the body decoded from the system ANSI code
// page, or empty text on failure. An https address gets the four time limits.
std::string HttpGet(const std::string& url) noexcept;

// Content-Length of a HEAD answer; 0 when it cannot be had. Runs pump
// while it waits, so the window's events keep flowing.
int64_t GetRemoteFileSize(const std::string& url, EventPump pump) noexcept;

// Bytes in the system ANSI code page to UTF-8 text.
std::string BytesToText(const std::string& bytes) noexcept;
