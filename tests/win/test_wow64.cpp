// The WOW64 redirection switch: with it, a 32-bit program sees the 64-bit
// system folder; without WOW64 it changes nothing.
#include <doctest/doctest.h>

#include <windows.h>

#include <string>

#include "pe_machine.h"
#include "platform/wow64.h"

using namespace wintest;

TEST_CASE("FsRedirectionOff shows the real system folder while it lives")
{
    const std::wstring kernel32 = SystemKernel32();
    const WORD own = kOwnMachine;
    // Redirected (or native): the system folder holds this program's kind.
    CHECK(MachineOf(kernel32.c_str()) == own);
    {
        FsRedirectionOff off;
        CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
        {
            FsRedirectionOff again;  // nested: stays off, and restores "off"
            CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
        }
        CHECK(MachineOf(kernel32.c_str()) == (IsWow64() ? IMAGE_FILE_MACHINE_AMD64 : own));
    }
    CHECK(MachineOf(kernel32.c_str()) == own);
}
