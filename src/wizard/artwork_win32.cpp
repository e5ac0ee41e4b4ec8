#include "wizard/artwork_win32.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kProductTitle[] = L"Corvane·Stackhold";
// The title's face; on systems without it the font mapper picks the
// nearest sans-serif face, and the title is sized to fit whatever it gets.
constexpr wchar_t kTitleFace[] = L"Microsoft YaHei";

LONG Width(const RECT& r) { return r.right - r.left; }
LONG Height(const RECT& r) { return r.bottom - r.top; }

double Scaled(double pixelsAt96, UINT dpi) { return pixelsAt96 * dpi / 96.0; }

bool InsideEllipse(double x, double y, double cx, double cy, double rx, double ry)
{
    const double dx = (x - cx) / rx, dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
}

double DistanceToSegment(double x, double y, double x0, double y0, double x1, double y1)
{
    const double vx = x1 - x0, vy = y1 - y0;
    double t = ((x - x0) * vx + (y - y0) * vy) / (vx * vx + vy * vy);
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (x0 + t * vx), y - (y0 + t * vy));
}

using UniqueFont = UniqueGdi<HFONT>;

UniqueFont CreateTitleFont(int pixelHeight)
{
    LOGFONTW lf{};
    lf.lfHeight = -pixelHeight;
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = ANTIALIASED_QUALITY;
    ::lstrcpynW(lf.lfFaceName, kTitleFace, LF_FACESIZE);
    return UniqueFont(::CreateFontIndirectW(&lf));
}

SIZE TextSize(HDC dc, HFONT font, const wchar_t* text)
{
    SIZE size{};
    const HGDIOBJ old = ::SelectObject(dc, font);
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    ::SelectObject(dc, old);
    return size;
}

// The largest title font, up to about half the logo's height, whose text
// fits the width left beside the logo.
UniqueFont FitTitleFont(HDC dc, int logoSide, LONG widthLeft)
{
    for (int height = logoSide / 2; height > 6; --height) {
        UniqueFont font = CreateTitleFont(height);
        if (!font) return font;
        if (TextSize(dc, font.get(), kProductTitle).cx <= widthLeft) return font;
    }
    return CreateTitleFont(7);
}

void DrawLogo(Canvas& canvas, LONG left, LONG top, int side)
{
    const double gap = std::max(0.05, 1.2 / side);
    const RECT box{left, top, left + side, top + side};
    canvas.FillShape(box, kWhite, [&](double x, double y) {
        return InsideLogo((x - left) / side, (y - top) / side, gap);
    });
}

void DrawTitle(Canvas& canvas, HFONT font, RECT area)
{
    HDC dc = canvas.Dc();
    const HGDIOBJ old = ::SelectObject(dc, font);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ToColorRef(kWhite));
    ::DrawTextW(dc, kProductTitle, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    ::SelectObject(dc, old);
}

// Logo and title side by side, centred together in the area.
void DrawLogoAndTitle(Canvas& canvas, const RECT& area, UINT dpi)
{
    const int side = static_cast<int>(Height(area));
    const LONG spacing = static_cast<LONG>(std::lround(Scaled(8, dpi)));
    const UniqueFont font = FitTitleFont(canvas.Dc(), side, Width(area) - side - spacing);
    if (!font) return DrawLogo(canvas, area.left, area.top, side);
    const LONG titleWidth = TextSize(canvas.Dc(), font.get(), kProductTitle).cx;
    const LONG left = area.left + std::max<LONG>(0, (Width(area) - side - spacing - titleWidth) / 2);
    DrawLogo(canvas, left, area.top, side);
    DrawTitle(canvas, font.get(), RECT{left + side + spacing, area.top, area.right, area.bottom});
}

// A white "×" of two strokes, centred in the area.
void DrawCloseMark(Canvas& canvas, const RECT& area, UINT dpi)
{
    const double cx = (area.left + area.right) / 2.0, cy = (area.top + area.bottom) / 2.0;
    const double arm = 0.32 * std::min(Width(area), Height(area));
    const double halfStroke = std::max(0.7, Scaled(0.75, dpi));
    canvas.FillShape(area, kWhite, [&](double x, double y) {
        return DistanceToSegment(x, y, cx - arm, cy - arm, cx + arm, cy + arm) <= halfStroke ||
               DistanceToSegment(x, y, cx - arm, cy + arm, cx + arm, cy - arm) <= halfStroke;
    });
}

void DrawEllipse(Canvas& canvas, const RECT& place, Rgb color)
{
    const double cx = (place.left + place.right) / 2.0, cy = (place.top + place.bottom) / 2.0;
    const double rx = Width(place) / 2.0, ry = Height(place) / 2.0;
    canvas.FillShape(place, color, [&](double x, double y) { return InsideEllipse(x, y, cx, cy, rx, ry); });
}

void DrawRoundedBox(Canvas& canvas, const RECT& place, Rgb color, double radius)
{
    radius = std::min({radius, Width(place) / 2.0, Height(place) / 2.0});
    const double innerLeft = place.left + radius, innerRight = place.right - radius;
    const double innerTop = place.top + radius, innerBottom = place.bottom - radius;
    canvas.FillShape(place, color, [&](double x, double y) {
        const double dx = x - std::clamp(x, innerLeft, innerRight);
        const double dy = y - std::clamp(y, innerTop, innerBottom);
        return dx * dx + dy * dy <= radius * radius;
    });
}

}  // namespace

Canvas::~Canvas() { Clear(); }

void Canvas::Clear() noexcept
{
    if (dc_ && oldBitmap_) ::SelectObject(dc_.get(), oldBitmap_);
    bitmap_.reset();
    dc_.reset();
    oldBitmap_ = nullptr;
    bits_ = nullptr;
    width_ = height_ = 0;
}

bool Canvas::Resize(int width, int height) noexcept
{
    if (width == width_ && height == height_ && dc_) return true;
    Clear();
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_.reset(::CreateCompatibleDC(nullptr));
    bitmap_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!dc_ || !bitmap_ || !bits) {
        Clear();
        return false;
    }
    oldBitmap_ = ::SelectObject(dc_.get(), bitmap_.get());
    bits_ = static_cast<uint32_t*>(bits);
    width_ = width;
    height_ = height;
    return true;
}

void Canvas::Fill(const RECT& area, Rgb color) noexcept
{
    if (!dc_) return;
    ::SetDCBrushColor(dc_.get(), ToColorRef(color));
    ::FillRect(dc_.get(), &area, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
}

void Canvas::Blend(int x, int y, Rgb color, int coveredSamples) noexcept
{
    if (coveredSamples == 0) return;
    uint32_t& pixel = bits_[static_cast<std::size_t>(y) * width_ + x];
    const auto mix = [coveredSamples](uint32_t under, uint8_t over) {
        return (under * (16 - coveredSamples) + over * coveredSamples + 8) / 16;
    };
    const uint32_t r = mix((pixel >> 16) & 0xFF, color.r);
    const uint32_t g = mix((pixel >> 8) & 0xFF, color.g);
    const uint32_t b = mix(pixel & 0xFF, color.b);
    pixel = (r << 16) | (g << 8) | b;
}

HBRUSH Canvas::CreatePatternBrush() const noexcept
{
    if (!bits_) return nullptr;
    ::GdiFlush();
    // A packed bottom-up DIB, which the system copies into the brush; the
    // canvas may change afterwards without touching the brush.
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * 4;
    std::vector<uint8_t> packed;
    try {
        packed.resize(sizeof(BITMAPINFOHEADER) + rowBytes * height_);
    } catch (...) {
        return nullptr;
    }
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(packed.data());
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width_;
    header->biHeight = height_;
    header->biPlanes = 1;
    header->biBitCount = 32;
    header->biCompression = BI_RGB;
    uint8_t* rows = packed.data() + sizeof(BITMAPINFOHEADER);
    for (int y = 0; y < height_; ++y) {
        std::memcpy(rows + rowBytes * (height_ - 1 - y), bits_ + static_cast<std::size_t>(y) * width_, rowBytes);
    }
    return ::CreateDIBPatternBrushPt(packed.data(), DIB_RGB_COLORS);
}

bool InsideLogo(double u, double v, double gap) noexcept
{
    constexpr double kCentre = 0.5, kRadiusX = 0.36, kRadiusY = 0.12;
    constexpr double kTop = 0.2, kBottom = 0.8;
    const auto underEllipse = [&](double cy) { return InsideEllipse(u, v, kCentre, cy, kRadiusX, kRadiusY); };
    const bool body = (std::fabs(u - kCentre) <= kRadiusX && v >= kTop && v <= kBottom) || underEllipse(kTop) ||
                      underEllipse(kBottom);
    if (!body) return false;
    // The lid's rim and the two seams: a crescent along the lower edge of
    // the ellipse at each disk's top.
    constexpr double kDisk = (kBottom - kTop) / 3;
    for (double cy : {kTop, kTop + kDisk, kTop + 2 * kDisk}) {
        if (v > cy && underEllipse(cy + gap) && !underEllipse(cy)) return false;
    }
    return true;
}

void DrawBanner(Canvas& canvas, const BannerLayout& layout, UINT dpi) noexcept
{
    canvas.Fill(layout.field, kBannerBlue);
    DrawLogoAndTitle(canvas, layout.logoTitle, dpi);
    DrawCloseMark(canvas, layout.closeMark, dpi);
}

void DrawPicture(Canvas& canvas, Picture picture, const RECT& place, UINT dpi) noexcept
{
    switch (picture) {
    case Picture::GreyBar: return canvas.Fill(place, kBarGrey);
    case Picture::BlueBar: return canvas.Fill(place, kBarBlue);
    case Picture::GreyDot: return DrawEllipse(canvas, place, kBarGrey);
    case Picture::BlueDot: return DrawEllipse(canvas, place, kBarBlue);
    case Picture::RoundedBox: return DrawRoundedBox(canvas, place, kBarBlue, Scaled(6, dpi));
    case Picture::Banner: return canvas.Fill(place, kBannerBlue);
    case Picture::None: return;
    }
}
