// Placeholder entry point until the window lands.
#include <windows.h>
#include "wizard/main_form.h"
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Main form;
    return 0;
}
