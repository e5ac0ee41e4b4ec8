#pragma once

#include <string>

// Stops every process whose image is the file name in folder (the full
// paths compared in any letter case, after both are made absolute and long,
// or else the file itself, for a folder reached by another drive letter or a
// junction) and waits, bounded, until those processes have really ended. A
// process of the same name started from any other folder is left running: on
// a shared server it may be someone else's download.
void KillProcessByName(const std::string& name, const std::string& folder) noexcept;
