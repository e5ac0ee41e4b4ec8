// The program's entry point: a safe start, the window, its message loop.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "platform/system_dll_win32.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"
#include "wizard/window_win32.h"

namespace {

void PrepareProcess()
{
    // Before any DLL is loaded by name: the program often starts from a Downloads folder.
    RestrictDllSearch();
    // No "insert a disk" or "cannot open file" box from the system for the
    // whole run: a drive without a medium (the installation directory's, a
    // card reader's) is answered as a plain failure of the call.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    // Apartment-threaded, before any window; OLE's share of it gives the
    // folder chooser its drag and drop.
    ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show)
{
    PrepareProcess();
    static Main form;  // lives as long as the process; never unloaded
    RunMainWindow(form, show);
}
