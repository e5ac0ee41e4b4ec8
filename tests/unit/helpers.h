// Shared set-up for the window-logic tests.
#pragma once

#include <string>

#include "fakes/fake_system.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"

inline constexpr char kProgramDir[] = "C:\\Tools";
#include "stackhold_config.h"
inline const std::string kServiceBase = std::string("https://") + STACKHOLD_SERVICE_HOST;

// A machine on which every gate passes, with the program in C:\Tools.
inline void MachineThatPasses()
{
    fake.Reset();
    fake.windowsVersion = "6.1";
    fake.tcpPorts = {135, 445};
    fake.freeMiB["C:"] = 20000;
    fake.freeMiB["D:"] = 20000;
    fake.folders = {"C:\\", "D:\\"};
    fake.fileSizes[std::string(kProgramDir) + "\\wget.exe"] = 500000;
}

// Runs a call that should end the process; the exit code, or -1 when it returned.
template <typename F>
int EndsWith(F&& call)
{
    try {
        call();
    } catch (const ProcessEnded& e) {
        return e.exitCode;
    }
    return -1;
}
