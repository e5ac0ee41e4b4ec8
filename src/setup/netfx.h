#pragma once

#include <string>

#include "platform/event_pump.h"

// The system folder where Windows keeps it as usual; any other system folder
// is named in the DISM line as it is, quoted.
inline constexpr char kUsualSystemFolder[] = "C:\\Windows\\System32";

// The DISM command line written into the batch file for this Windows version,
// with DISM taken from the native system folder.
std::string NetFx35CommandLine(const std::string& windowsVersion,
                               const std::string& systemFolder = kUsualSystemFolder);

// Enables the .NET Framework 3.5 features through a batch file beside the
// program that runs DISM hidden, running pump while it waits; the batch
// file is removed again whatever DISM did. True when the batch file was
// written fresh and run; false when it could not be (then nothing ran).
// Setup runs in any case.
bool EnableNetFx35(const std::string& programDir, EventPump pump);

// The native system folder (System32 of the 64-bit system on 64-bit
// Windows, whatever this program's bitness), without a trailing backslash;
// empty when the system gives none.
std::string NativeSystemFolder() noexcept;

// True when the framework's own entry says .NET Framework 3.5 is installed:
// HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v3.5, value Install = 1,
// read in the native registry view.
bool IsNetFx35Present() noexcept;
