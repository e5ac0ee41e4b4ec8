// The window's drawn pictures: the banner with its logo, title and close
// mark, the step bars and dots and the rounded box behind the status text.
// Everything is drawn at the size asked for, so the pictures stay sharp at
// any DPI; nothing is a stretched bitmap.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/handles_win32.h"
#include "wizard/main_form.h"

inline COLORREF ToColorRef(Rgb c) { return RGB(c.r, c.g, c.b); }

// A 32-bit top-down DIB section with a memory DC, drawn on by GDI and by the
// smooth-edged shape filler below.
class Canvas {
public:
    Canvas() = default;
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool Resize(int width, int height) noexcept;
    void Clear() noexcept;
    HDC Dc() const noexcept { return dc_.get(); }

    void Fill(const RECT& area, Rgb color) noexcept;
    // Covers the pixels of box for which inside(x, y) holds (pixel
    // coordinates of the canvas), blending edge pixels by how much of them
    // is covered, from 4 × 4 samples each.
    template <typename Inside>
    void FillShape(const RECT& box, Rgb color, Inside inside) noexcept;

    // A brush that tiles the canvas; the caller owns it. Used to fill the
    // background of see-through labels with what lies under them.
    HBRUSH CreatePatternBrush() const noexcept;

private:
    void Blend(int x, int y, Rgb color, int coveredSamples) noexcept;

    UniqueDc dc_;
    UniqueGdi<HBITMAP> bitmap_;   // selected into dc_ while both are held
    HGDIOBJ oldBitmap_ = nullptr;  // the DC's own, put back before the bitmap goes
    uint32_t* bits_ = nullptr;
    int width_ = 0, height_ = 0;
};

template <typename Inside>
void Canvas::FillShape(const RECT& box, Rgb color, Inside inside) noexcept
{
    ::GdiFlush();  // GDI may still be drawing into the bits
    constexpr int kSide = 4;
    const LONG left = box.left < 0 ? 0 : box.left, top = box.top < 0 ? 0 : box.top;
    const LONG right = box.right > width_ ? width_ : box.right;
    const LONG bottom = box.bottom > height_ ? height_ : box.bottom;
    for (LONG y = top; y < bottom; ++y) {
        for (LONG x = left; x < right; ++x) {
            int covered = 0;
            for (int sy = 0; sy < kSide; ++sy) {
                for (int sx = 0; sx < kSide; ++sx) {
                    covered += inside(x + (sx + 0.5) / kSide, y + (sy + 0.5) / kSide) ? 1 : 0;
                }
            }
            Blend(x, y, color, covered);
        }
    }
}

// The product logo, a stack of three disks, in a unit square (0..1 both
// ways, y downwards). gap is the width of the seams between the disks, as a
// fraction of the square; small renderings need wider seams to show them.
// res/make_icon.py draws the program's icon from the same figure.
bool InsideLogo(double u, double v, double gap) noexcept;

// Where the banner's artwork goes, in canvas pixels.
struct BannerLayout {
    RECT field{};       // the whole header picture
    RECT logoTitle{};   // logo and product title (the link label lies over it)
    RECT closeMark{};   // the close mark (the close label lies over it)
};

void DrawBanner(Canvas& canvas, const BannerLayout& layout, UINT dpi) noexcept;
// A picture other than the banner, filling place.
void DrawPicture(Canvas& canvas, Picture picture, const RECT& place, UINT dpi) noexcept;
