// The program's start as the installer makes it (RunMainWindow), with the
// step logic replaced by the counters of window_handlers_fake.cpp, for the
// window tests to start as a child process and watch from outside.
//
// usage: window_start_probe.exe MODE REPORT
//   works          Form_Load succeeds; step 1 reports whether the window is
//                  on screen and ends the process with 7
//   no-password    the password generator gives nothing
//   load-throws    the password generator throws
//   page           step 1 opens the settings page (the edition box focused
//                  elsewhere) and the program runs on, to be looked at
//   submit-fault-N step 1 presses the install button; the submission sets
//                  CurrentStep to N and throws; a later progress tick ends
//                  the process with 7 if the program is still running
//   submit-fault-5-verified  the same after step 5 has shown its success
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

void ShowPage()
{
    Main& form = Form();
    for (Control* c : {static_cast<Control*>(&form.Step2_Version), &form.Step2_Path, &form.Step2_Select,
                       &form.Step2_Submit, &form.Step2_T1, &form.Step2_T2})
        c->visible = true;
    form.About1.visible = form.About2.visible = form.Image1.visible = false;
    form.Step2_Path.text = "C:\\Tools\\SQL Server";
    form.Step2_Version.listIndex = 3;
    SyncWindow();
    ::SetFocus(::GetDlgItem(MainWindowHandle(), kIdStep2Path));
    // Whether a visual style is on, and whether the edition box draws with it.
    HMODULE uxtheme = ::LoadLibraryW(L"uxtheme.dll");
    using IsThemeActiveFn = BOOL(WINAPI*)();
    using GetWindowThemeFn = HANDLE(WINAPI*)(HWND);
    const auto isActive = reinterpret_cast<IsThemeActiveFn>(reinterpret_cast<void*>(::GetProcAddress(uxtheme, "IsThemeActive")));
    const auto windowTheme = reinterpret_cast<GetWindowThemeFn>(reinterpret_cast<void*>(::GetProcAddress(uxtheme, "GetWindowTheme")));
    const bool active = isActive && isActive();
    const bool boxThemed = windowTheme && windowTheme(::GetDlgItem(MainWindowHandle(), kIdStep2Version));
    const bool pathThemed = windowTheme && windowTheme(::GetDlgItem(MainWindowHandle(), kIdStep2Path));
    HWND box = ::GetDlgItem(MainWindowHandle(), kIdStep2Version);
    ::RedrawWindow(MainWindowHandle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    ::GetClientRect(box, &r);
    HDC dc = ::GetDC(box);
    // Beside the text, left of the drop-down button, inside the border.
    const COLORREF field = ::GetPixel(dc, r.right * 3 / 4, (r.bottom - r.top) / 2);
    ::ReleaseDC(box, dc);
    char colour[16];
    std::snprintf(colour, sizeof colour, "%06lX", static_cast<unsigned long>(field));
    Report(std::string("theme ") + (active ? "on" : "off") + ", edition box " + (boxThemed ? "themed" : "unthemed") +
           ", directory box " + (pathThemed ? "themed" : "unthemed") + ", field " + colour);
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
    const bool verified = mode.find(L"-verified") != std::wstring::npos;

    const bool showPage = mode == L"page";
    log.action = [faultStep, showPage, verified](const std::string& name) {
        Main& form = Form();
        if (name == "CheckEnvironMental") {
            const bool shown = ::IsWindowVisible(MainWindowHandle()) != FALSE;
            Report(name + (shown ? " shown" : " hidden"));
            if (showPage) return ShowPage();
            if (!faultStep) EndProcess(7);
            form.Timer2 = {300, true};
            PressInstall();
            return;
        }
        Report(name);
        if (name == "Step2_Submit_Click") {
            form.state.CurrentStep = faultStep;
            if (verified) form.state.Verified = true;
            throw std::runtime_error("fault inside the step chain");
        }
        if (name == "Timer2_Timer") EndProcess(7);
    };
    RunMainWindow(Form(), SW_SHOWNORMAL);
}
