#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/event_pump.h"

// Starts the program the command line names, hidden, and returns when its
// process has ended, running the caller's event pump meanwhile; returns at
// once when nothing can be started. The program itself is started, never
// through the command interpreter: a batch file named here (".bat", ".cmd")
// starts nothing. One wait at a time.
void RunAndWait(const std::string& commandLine, EventPump pump) noexcept;

// Runs the batch file (a full path, no arguments) hidden through the system
// folder's command interpreter and returns when it has ended, like
// RunAndWait. A 32-bit program on 64-bit Windows starts the 64-bit
// interpreter: the WOW64 file-system redirection is off only while the
// process is created and on again before the wait begins, so the window's
// handlers that run during the wait see the system folder as usual.
void RunBatchAndWait(const std::string& batchFile, EventPump pump) noexcept;

// The exit code of the last program RunAndWait or RunBatchAndWait waited
// for; nothing when that call started nothing. For the failure report only:
// no step judges success by it.
std::optional<int32_t> LastExitCode() noexcept;
