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

// A form that has reached step 4 with a downloaded package.
inline void AtStep4(Main& form)
{
    MachineThatPasses();
    form.Form_Load(kProgramDir);
    form.Timer1_Timer();
    form.state.SaPassword = "Ab3defGh4kmnpq2rst5u";
    form.state.PackageFileName = "SQLEXPR_x64_CHS.exe";
    form.state.InstallDir = "D:\\Data\\SQL Server";
    form.Step2_Path.text = "D:/Data//SQL Server/";
    form.state.CurrentStep = 3;
    fake.fileSizes["C:\\Tools\\packages\\SQLEXPR_x64_CHS.exe"] = 1000000;
    fake.log.clear();
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
