// COM on the calling thread: its initialisation, balanced, and BSTR text.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "platform/handles_win32.h"

// The window initialises COM apartment-threaded before anything here runs;
// a further CoInitializeEx only counts up and is balanced like a first one.
// A thread already in the other apartment model keeps it (the call fails
// and is not balanced), and COM still works there.
class ComApartment {
public:
    ComApartment() noexcept : ok_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment()
    {
        if (ok_) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool ok_;
};

inline void FreeBstr(BSTR text) noexcept { ::SysFreeString(text); }

using UniqueBstr = Unique<BSTR, FreeBstr>;

// A BSTR holding text (empty text included); none when out of memory.
inline UniqueBstr MakeBstr(const std::wstring& text) noexcept
{
    return UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}
