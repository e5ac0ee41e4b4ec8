// The one owner template: each kind lets go of what it holds exactly once,
// holds nothing after a move or a release, and knows its own "none".
#include <doctest/doctest.h>

#include <windows.h>

#include "platform/handles_win32.h"

namespace {

bool IsOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return ::GetHandleInformation(h, &flags) != FALSE;
}

bool IsGdiObject(HGDIOBJ object) { return ::GetObjectType(object) != 0; }

// A COM object that counts its references.
struct Counted : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

}  // namespace

TEST_CASE("kernel handles: zero or INVALID_HANDLE_VALUE is none; the owner closes once, a move hands over")
{
    UniqueFile none;
    CHECK_FALSE(none);
    CHECK(none.get() == INVALID_HANDLE_VALUE);
    CHECK_FALSE(UniqueFile(nullptr));
    CHECK_FALSE(UniqueFile(INVALID_HANDLE_VALUE));
    CHECK_FALSE(UniqueHandle());

    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    REQUIRE(event);
    {
        UniqueHandle first(event);
        CHECK(first);
        UniqueHandle second(std::move(first));
        CHECK_FALSE(first);
        CHECK(first.get() == nullptr);
        CHECK(second.get() == event);
        CHECK(IsOpenHandle(event));
    }
    CHECK_FALSE(IsOpenHandle(event));

    wchar_t temp[MAX_PATH], path[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    ::GetTempFileNameW(temp, L"own", 0, path);
    UniqueFile file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    REQUIRE(file);
    const HANDLE raw = file.get();
    UniqueFile moved;
    moved = std::move(file);
    CHECK(file.get() == INVALID_HANDLE_VALUE);
    CHECK(moved.get() == raw);
    moved.reset();
    CHECK_FALSE(IsOpenHandle(raw));
    CHECK(::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES);  // closed, so deleted

    HANDLE kept = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle releasing(kept);
    CHECK(releasing.release() == kept);
    CHECK_FALSE(releasing);
    CHECK(IsOpenHandle(kept));
    ::CloseHandle(kept);
}

TEST_CASE("GDI objects and memory DCs go with their owner")
{
    HBRUSH brush = ::CreateSolidBrush(RGB(1, 2, 3));
    HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf{};
    ::GetObjectW(font, sizeof lf, &lf);
    HFONT madeFont = ::CreateFontIndirectW(&lf);
    HDC dc = ::CreateCompatibleDC(nullptr);
    REQUIRE(brush);
    REQUIRE(madeFont);
    REQUIRE(dc);
    {
        UniqueGdi<HBRUSH> ownBrush(brush);
        UniqueGdi<HFONT> ownFont(madeFont);
        UniqueDc ownDc(dc);
        CHECK(IsGdiObject(brush));
        CHECK(IsGdiObject(madeFont));
        CHECK(IsGdiObject(dc));
        UniqueGdi<HBRUSH> other(std::move(ownBrush));
        CHECK_FALSE(ownBrush);
        CHECK(IsGdiObject(brush));
    }
    CHECK_FALSE(IsGdiObject(brush));
    CHECK_FALSE(IsGdiObject(madeFont));
    CHECK_FALSE(IsGdiObject(dc));
}

TEST_CASE("a COM pointer releases once; put() lets go of the old pointer first")
{
    Counted a, b;
    {
        ComPtr<IUnknown> p(&a);
        CHECK(p->AddRef() == 2);
        a.refs = 1;
        *p.put() = &b;  // as an out-parameter would fill it
        CHECK(a.refs == 0);
        CHECK(p.get() == &b);
        ComPtr<IUnknown> q(std::move(p));
        CHECK_FALSE(p);
        CHECK(b.refs == 1);
    }
    CHECK(b.refs == 0);
}
