// Move-only owners of Windows handles, GDI objects and COM pointers: one
// template, told how to let go of a value and which values hold nothing.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <type_traits>
#include <utility>

// The usual kind: 0 (a null pointer) is "none", everything else is held.
template <typename T>
struct ZeroIsNone {
    static constexpr T None() noexcept { return T{}; }
    static constexpr bool Holds(T value) noexcept { return value != T{}; }
};

// Files and toolhelp snapshots answer INVALID_HANDLE_VALUE for "none", and a
// handle left zero-initialised is none too.
struct InvalidOrZeroIsNone {
    static HANDLE None() noexcept { return INVALID_HANDLE_VALUE; }
    static bool Holds(HANDLE value) noexcept { return value != INVALID_HANDLE_VALUE && value != nullptr; }
};

template <typename T, auto Close, typename Kind = ZeroIsNone<T>>
class Unique {
public:
    Unique() noexcept = default;
    explicit Unique(T value) noexcept : value_(value) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : value_(std::exchange(other.value_, Kind::None())) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Kind::None());
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Kind::Holds(value_); }
    T release() noexcept { return std::exchange(value_, Kind::None()); }
    void reset(T value = Kind::None()) noexcept
    {
        if (Kind::Holds(value_)) Close(value_);
        value_ = value;
    }
    // For out-parameters: lets go of the old value first.
    T* put() noexcept
    {
        reset();
        return &value_;
    }
    // For COM interfaces and other pointers to what is owned.
    T operator->() const noexcept
        requires std::is_pointer_v<T>
    {
        return value_;
    }
    void** putVoid() noexcept
        requires std::is_pointer_v<T>
    {
        return reinterpret_cast<void**>(put());
    }

private:
    T value_ = Kind::None();
};

inline void CloseHandleValue(HANDLE h) noexcept { ::CloseHandle(h); }

// A handle whose "none" is 0 (process, thread, event handles).
using UniqueHandle = Unique<HANDLE, CloseHandleValue>;
// A handle whose "none" is INVALID_HANDLE_VALUE (files, snapshots).
using UniqueFile = Unique<HANDLE, CloseHandleValue, InvalidOrZeroIsNone>;

// Memory the system allocated with LocalAlloc for the caller (security
// descriptors, SIDs, message texts), freed with LocalFree.
inline void LocalFreeValue(HLOCAL memory) noexcept { ::LocalFree(memory); }
using UniqueLocal = Unique<HLOCAL, LocalFreeValue>;

// A PIDL or other shell allocation freed with CoTaskMemFree.
template <typename T>
using UniqueCoTaskMem = Unique<T*, [](T* p) noexcept { ::CoTaskMemFree(p); }>;

// A COM interface pointer; put() releases the old pointer first.
struct ReleaseInterface {
    void operator()(IUnknown* p) const noexcept { p->Release(); }
};
template <typename T>
using ComPtr = Unique<T*, ReleaseInterface{}>;

// GDI: pens, brushes, fonts, bitmaps go with DeleteObject, memory DCs with
// DeleteDC. A GDI object must not be selected into a DC when it goes.
inline void DeleteGdiObject(HGDIOBJ object) noexcept { ::DeleteObject(object); }
inline void DeleteDcValue(HDC dc) noexcept { ::DeleteDC(dc); }
template <typename T>
using UniqueGdi = Unique<T, DeleteGdiObject>;
using UniqueDc = Unique<HDC, DeleteDcValue>;
