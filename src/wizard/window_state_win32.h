// The window's own state, shared by the files that make up the window:
// window_win32.cpp (creation, messages), window_mirror_win32.cpp (model to
// controls) and window_look_win32.cpp (fonts, colours, painting).
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "platform/handles_win32.h"
#include "wizard/artwork_win32.h"
#include "wizard/main_form.h"

// The client area in twips, the size every place in main_form.cpp fits in.
inline constexpr TwipRect kClientTwips{0, 0, 8055, 5085};

// Twips to device pixels at dpi, rounded to the nearest pixel.
inline int Px(int twips, UINT dpi)
{
    return static_cast<int>((static_cast<long long>(twips) * dpi + 720) / 1440);
}

inline RECT PixelRect(const TwipRect& t, UINT dpi)
{
    const int left = Px(t.left, dpi), top = Px(t.top, dpi);
    return RECT{left, top, left + Px(t.width, dpi), top + Px(t.height, dpi)};
}

// One control of the model and what the window shows of it now.
struct ChildWindow {
    Control* control = nullptr;  // in Main, which outlives the window
    HWND hwnd = nullptr;         // none for pictures: the window paints them
    Control applied;
    std::vector<std::string> appliedItems;  // combo box only
    int appliedIndex = -1;                  // combo box only
};

struct AppliedTimer {
    bool running = false;
    int interval = 0;
};

// GDI objects made on first use and kept by what they were made from, for
// the window's life (or, for fonts, until the DPI changes).
template <typename Key, typename Handle>
class GdiCache {
public:
    GdiCache() = default;
    GdiCache(GdiCache&&) noexcept = default;  // leaves the other empty
    GdiCache& operator=(GdiCache&&) noexcept = default;
    GdiCache(const GdiCache&) = delete;
    GdiCache& operator=(const GdiCache&) = delete;

    // The object made for key, made by make() the first time; nullptr when
    // the system made none.
    template <typename Make>
    Handle Get(const Key& key, Make make) noexcept
    {
        for (const auto& [k, object] : entries_) {
            if (k == key) return object.get();
        }
        UniqueGdi<Handle> made(make());
        if (!made) return nullptr;
        try {
            entries_.emplace_back(key, std::move(made));
        } catch (...) {
            return nullptr;  // out of memory: made goes again
        }
        return entries_.back().second.get();
    }
    void Clear() noexcept { entries_.clear(); }

private:
    std::vector<std::pair<Key, UniqueGdi<Handle>>> entries_;
};

struct FontKey {
    int tenthPoints;
    bool bold;
    bool systemFace;
    UINT dpi;
    friend bool operator==(const FontKey&, const FontKey&) = default;
};
using FontCache = GdiCache<FontKey, HFONT>;
// Solid brushes by colour.
using BrushCache = GdiCache<COLORREF, HBRUSH>;

// One window of Main and everything it made. RunMainWindow owns the
// program's; each Windows-side test makes its own. The window procedure
// finds the object through the window's GWLP_USERDATA, set from the
// creation parameters; the object's end destroys the window and releases
// what it made.
struct MainWindow {
    explicit MainWindow(Main& model) noexcept : form(&model) {}
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    Main* form;                    // outlives the window
    HWND hwnd = nullptr;
    UINT dpi = 96;
    bool destroying = false;
    bool timersArmed = false;      // from the first show on
    std::vector<ChildWindow> children;
    AppliedTimer timers[3];
    Canvas scene;                  // every visible picture, as painted
    UniqueGdi<HBRUSH> sceneBrush;  // the scene as a brush, for see-through labels
    FontCache fonts;
    BrushCache brushes;
    HWND savedFocus = nullptr;     // focus to give back when reactivated
    ComPtr<ITaskbarList3> taskbar; // from the shell's "button created" on
};

// The window that exists now, which the platform procedures of ui.h act
// on, or nullptr: they are called without one. Set while the object's
// window exists.
MainWindow* CurrentMainWindow() noexcept;
// The system's DPI, which windows have unless per-monitor scaling says otherwise.
UINT SystemDpi() noexcept;
ChildWindow* ChildById(MainWindow& w, int id) noexcept;
ChildWindow* ChildByHandle(MainWindow& w, HWND hwnd) noexcept;

// window_mirror_win32.cpp
void CreateChildWindows(MainWindow& w) noexcept;
// Places and fonts of every child for the window's current DPI.
void LayoutChildWindows(MainWindow& w) noexcept;

// window_look_win32.cpp
HFONT FontFor(MainWindow& w, const Control& control) noexcept;
HBRUSH SolidBrush(MainWindow& w, Rgb color) noexcept;
// Paints every visible picture of the model into the scene.
void RebuildScene(MainWindow& w) noexcept;
void PaintWindow(MainWindow& w) noexcept;
// The WM_CTLCOLOR* answer for a child: its colours, or for a see-through
// label the scene behind it.
HBRUSH ColorChild(MainWindow& w, HDC dc, HWND child) noexcept;
void DrawOwnerDrawnButton(MainWindow& w, const DRAWITEMSTRUCT& item) noexcept;
