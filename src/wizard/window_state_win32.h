// The window's own state, shared by the files that make up the window:
// window_win32.cpp (creation, messages), window_mirror_win32.cpp (model to
// controls) and window_look_win32.cpp (fonts, colours, painting).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "wizard/artwork_win32.h"
#include "wizard/main_form.h"

// The client area in twips, as designed.
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

// Fonts by size, weight and face, made for one DPI.
class FontCache {
public:
    FontCache() = default;
    ~FontCache() { Clear(); }
    FontCache(const FontCache&) = delete;
    FontCache& operator=(const FontCache&) = delete;
    FontCache(FontCache&& other) noexcept;
    FontCache& operator=(FontCache&& other) noexcept;

    HFONT Get(const Control& control, UINT dpi) noexcept;
    void Clear() noexcept;

private:
    struct Entry {
        int tenthPoints;
        bool bold;
        bool systemFace;
        UINT dpi;
        HFONT font;
    };
    std::vector<Entry> entries_;
};

// Solid brushes by colour, kept for the window's life.
class BrushCache {
public:
    BrushCache() = default;
    ~BrushCache() { Clear(); }
    BrushCache(const BrushCache&) = delete;
    BrushCache& operator=(const BrushCache&) = delete;

    HBRUSH Solid(Rgb color) noexcept;
    void Clear() noexcept;

private:
    std::vector<std::pair<COLORREF, HBRUSH>> brushes_;
};

struct MainWindow {
    Main* form = nullptr;
    HWND hwnd = nullptr;
    UINT dpi = 96;
    bool destroying = false;
    bool timersArmed = false;      // from the first show on
    std::vector<ChildWindow> children;
    AppliedTimer timers[3];
    Canvas scene;                  // every visible picture, as painted
    HBRUSH sceneBrush = nullptr;   // the scene as a brush, for see-through labels
    FontCache fonts;
    BrushCache brushes;
    HWND savedFocus = nullptr;     // focus to give back when reactivated
};

// The one window of the process.
MainWindow& TheWindow() noexcept;
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
// Paints every visible picture of the model into the scene.
void RebuildScene(MainWindow& w) noexcept;
void PaintWindow(MainWindow& w) noexcept;
// The WM_CTLCOLOR* answer for a child: its colours, or for a see-through
// label the scene behind it.
HBRUSH ColorChild(MainWindow& w, HDC dc, HWND child) noexcept;
void DrawOwnerDrawnButton(MainWindow& w, const DRAWITEMSTRUCT& item) noexcept;
