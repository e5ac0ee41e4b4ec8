// Move-only owners of Windows handles and COM pointers, one per way of
// letting go.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

template <typename T, auto Close, T Invalid = T{}>
class Unique {
public:
    Unique() noexcept = default;
    explicit Unique(T value) noexcept : value_(value) {}
    ~Unique() { reset(); }
    Unique(Unique&& other) noexcept : value_(std::exchange(other.value_, Invalid)) {}
    Unique& operator=(Unique&& other) noexcept
    {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Invalid);
        }
        return *this;
    }
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }
    T release() noexcept { return std::exchange(value_, Invalid); }
    void reset(T value = Invalid) noexcept
    {
        if (value_ != Invalid) Close(value_);
        value_ = value;
    }
    // For out-parameters: lets go of the old value first.
    T* put() noexcept
    {
        reset();
        return &value_;
    }

private:
    T value_ = Invalid;
};

inline void CloseHandleValue(HANDLE h) noexcept { ::CloseHandle(h); }

// A handle whose "none" is 0 (process, thread, event handles).
using UniqueHandle = Unique<HANDLE, CloseHandleValue>;
// A handle whose "none" is INVALID_HANDLE_VALUE (files, snapshots); that
// value is no compile-time constant, so it cannot be a template argument.
class UniqueFile {
public:
    UniqueFile() noexcept = default;
    explicit UniqueFile(HANDLE h) noexcept : h_(h) {}
    ~UniqueFile() { reset(); }
    UniqueFile(UniqueFile&& o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    UniqueFile& operator=(UniqueFile&& o) noexcept
    {
        if (this != &o) {
            reset();
            h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    HANDLE get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept
    {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) ::CloseHandle(h_);
        h_ = h;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// A PIDL or other shell allocation freed with CoTaskMemFree.
template <typename T>
using UniqueCoTaskMem = Unique<T*, [](T* p) noexcept { ::CoTaskMemFree(p); }>;

// A COM interface pointer; put() releases the old pointer first.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept
    {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T** put() noexcept
    {
        reset();
        return &p_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept
    {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};
