// The program's start as the installer makes it (RunMainWindow), with the
// step logic replaced by the counters of window_handlers_fake.cpp, for the
// window tests to start as a child process and watch from outside.
//
// usage: window_start_probe.exe MODE REPORT
//   works          Form_Load succeeds; step 1 reports whether the window is
//                  on screen and ends the process with 7
//   no-password    the password generator gives nothing
//   load-throws    the password generator throws
//   submit-fault-N step 1 presses the install button; the submission sets
//                  CurrentStep to N and throws; a later progress tick ends
//                  the process with 7 if the program is still running
// Every handler that runs appends its name to the REPORT file.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "window_handlers_fake.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"
#include "wizard/window_win32.h"

namespace {

std::wstring gReport;

void Report(const std::string& line)
{
    FILE* f = _wfopen(gReport.c_str(), L"ab");
    if (!f) return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

Main& Form()
{
    static Main form;
    return form;
}

void PressInstall()
{
    Main& form = Form();
    form.Step2_Submit.visible = true;
    SyncWindow();
    HWND window = MainWindowHandle();
    HWND button = ::GetDlgItem(window, kIdStep2Submit);
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(kIdStep2Submit, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    gReport = argv[2];
    HandlerLog& log = Handlers();
    int faultStep = 0;
    if (mode == L"no-password") log.random = HandlerLog::Random::Fails;
    if (mode == L"load-throws") log.random = HandlerLog::Random::Throws;
    if (mode.rfind(L"submit-fault-", 0) == 0) faultStep = std::stoi(mode.substr(13));

    log.action = [faultStep](const std::string& name) {
        Main& form = Form();
        if (name == "CheckEnvironMental") {
            const bool shown = ::IsWindowVisible(MainWindowHandle()) != FALSE;
            Report(name + (shown ? " shown" : " hidden"));
            if (!faultStep) EndProcess(7);
            form.Timer2 = {300, true};
            PressInstall();
            return;
        }
        Report(name);
        if (name == "Step2_Submit_Click") {
            form.state.CurrentStep = faultStep;
            throw std::runtime_error("fault inside the step chain");
        }
        if (name == "Timer2_Timer") EndProcess(7);
    };
    RunMainWindow(Form(), SW_SHOWNORMAL);
}
