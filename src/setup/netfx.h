#pragma once

#include <string>

#include "platform/event_pump.h"

// The DISM command line written into the batch file for this Windows version.
std::string NetFx35CommandLine(const std::string& windowsVersion);

// Enables the .NET Framework 3.5 features through a batch file beside the
// program that runs DISM hidden, running pump while it waits; the batch
// file is removed again whatever DISM did. True when the batch file was
// written fresh and run; false when it could not be (then nothing ran).
// Setup runs in any case.
bool EnableNetFx35(const std::string& programDir, EventPump pump);
