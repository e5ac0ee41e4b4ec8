#pragma once

#include <string>

// Starts the command line hidden and returns when its process has ended,
// dispatching the window's events meanwhile; returns at once when the
// command cannot be started. One wait at a time.
void RunAndWait(const std::string& commandLine) noexcept;
