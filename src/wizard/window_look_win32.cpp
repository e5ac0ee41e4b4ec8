// How the window looks: fonts, colours of the child controls, the painted
// pictures and the two owner-drawn buttons.
#include <cmath>
#include <utility>

#include "platform/text_win32.h"
#include "wizard/window_state_win32.h"

namespace {

// The window's face for every label but the counter; GB2312_CHARSET keeps
// the font mapper on a Chinese face wherever the exact one is missing.
constexpr wchar_t kWindowFace[] = L"黑体";

HFONT CreateDesignFont(int tenthPoints, bool bold, UINT dpi)
{
    LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(tenthPoints, static_cast<int>(dpi), 720);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = GB2312_CHARSET;
    ::lstrcpynW(lf.lfFaceName, kWindowFace, LF_FACESIZE);
    return ::CreateFontIndirectW(&lf);
}

// The system's message font, which the system keeps at the system DPI.
HFONT CreateSystemUiFont(bool bold, UINT dpi)
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return CreateDesignFont(90, bold, dpi);
    }
    LOGFONTW lf = metrics.lfMessageFont;
    lf.lfHeight = ::MulDiv(lf.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    if (bold) lf.lfWeight = FW_BOLD;
    return ::CreateFontIndirectW(&lf);
}

int TenthPoints(double points) { return static_cast<int>(std::lround(points * 10)); }

Rgb Darker(Rgb c)
{
    const auto dim = [](uint8_t v) { return static_cast<uint8_t>(v * 7 / 8); };
    return Rgb{dim(c.r), dim(c.g), dim(c.b)};
}

void FillChildBackground(MainWindow& w, HDC dc, HWND child, const RECT& area)
{
    const HBRUSH brush = ColorChild(w, dc, child);
    if (brush) ::FillRect(dc, &area, brush);
}

// Step2_Submit: an orange push button with white text.
void DrawPushButton(MainWindow& w, const DRAWITEMSTRUCT& item, const Control& look, const std::wstring& text)
{
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    ::FillRect(dc, &area, SolidBrush(w, pressed ? Darker(look.backColor) : look.backColor));
    RECT textArea = area;
    if (pressed) ::OffsetRect(&textArea, 1, 1);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ToColorRef(look.color));
    ::DrawTextW(dc, text.c_str(), -1, &textArea, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
        ::InflateRect(&area, -3, -3);
        ::DrawFocusRect(dc, &area);
    }
}

// Step2_Select: a real button (it takes the keyboard focus, Enter and Space)
// drawn like the labels beside it, its text on the window's background, with
// a focus rectangle while it has the focus.
void DrawLinkButton(MainWindow& w, const DRAWITEMSTRUCT& item, const Control& look, const std::wstring& text)
{
    HDC dc = item.hDC;
    FillChildBackground(w, dc, item.hwndItem, item.rcItem);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ToColorRef(look.color));
    RECT textArea = item.rcItem;
    const UINT format = DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
    ::DrawTextW(dc, text.c_str(), -1, &textArea, format);
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
        ::DrawTextW(dc, text.c_str(), -1, &textArea, format | DT_CALCRECT);
        ::InflateRect(&textArea, 1, 1);
        ::IntersectRect(&textArea, &textArea, &item.rcItem);
        ::DrawFocusRect(dc, &textArea);
    }
}

BannerLayout BannerLayoutOf(const MainWindow& w, const Control& banner)
{
    return BannerLayout{PixelRect(banner.place, w.dpi), PixelRect(w.form->Label2.place, w.dpi),
                        PixelRect(w.form->Label_Close.place, w.dpi)};
}

}  // namespace

HFONT FontFor(MainWindow& w, const Control& control) noexcept
{
    const FontKey key{TenthPoints(control.fontPoints), control.bold, control.defaultFont, w.dpi};
    HFONT font = w.fonts.Get(key, [&] {
        return key.systemFace ? CreateSystemUiFont(key.bold, key.dpi) : CreateDesignFont(key.tenthPoints, key.bold, key.dpi);
    });
    return font ? font : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
}

HBRUSH SolidBrush(MainWindow& w, Rgb color) noexcept
{
    const COLORREF value = ToColorRef(color);
    HBRUSH brush = w.brushes.Get(value, [value] { return ::CreateSolidBrush(value); });
    return brush ? brush : static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
}


void RebuildScene(MainWindow& w) noexcept
{
    const RECT client = PixelRect(kClientTwips, w.dpi);
    if (!w.scene.Resize(client.right, client.bottom)) return;
    w.scene.Fill(client, kWindowBack);
    for (const ChildWindow& c : w.children) {
        const Control& look = c.applied;
        if (look.kind != ControlKind::Picture || !look.visible) continue;
        if (look.picture == Picture::Banner) {
            DrawBanner(w.scene, BannerLayoutOf(w, look), w.dpi);
        } else {
            DrawPicture(w.scene, look.picture, PixelRect(look.place, w.dpi), w.dpi);
        }
    }
    w.sceneBrush.reset(w.scene.CreatePatternBrush());
}

void PaintWindow(MainWindow& w) noexcept
{
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(w.hwnd, &ps);
    if (!dc) return;
    const RECT& r = ps.rcPaint;
    // One copy from the finished scene: nothing is drawn twice on screen,
    // so nothing flickers.
    if (w.scene.Dc()) {
        ::BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, w.scene.Dc(), r.left, r.top, SRCCOPY);
    } else {
        ::FillRect(dc, &r, SolidBrush(w, kWindowBack));
    }
    ::EndPaint(w.hwnd, &ps);
}

HBRUSH ColorChild(MainWindow& w, HDC dc, HWND child) noexcept
{
    const ChildWindow* c = ChildByHandle(w, child);
    if (!c) return nullptr;
    const Control& look = c->applied;
    ::SetTextColor(dc, ToColorRef(look.color));
    if (look.transparent && w.sceneBrush) {
        // The label fills itself with the scene, aligned so that the part
        // under the label is what shows: whatever text it held before is
        // painted over, and the window never has to repaint behind it.
        POINT origin{0, 0};
        ::MapWindowPoints(child, w.hwnd, &origin, 1);
        ::SetBrushOrgEx(dc, -origin.x, -origin.y, nullptr);
        ::SetBkMode(dc, TRANSPARENT);
        return w.sceneBrush.get();
    }
    ::SetBkColor(dc, ToColorRef(look.backColor));
    return SolidBrush(w, look.backColor);
}

void DrawOwnerDrawnButton(MainWindow& w, const DRAWITEMSTRUCT& item) noexcept
{
    const ChildWindow* c = ChildByHandle(w, item.hwndItem);
    if (!c) return;
    const Control& look = c->applied;
    std::wstring text;
    try {
        text = Utf8ToWide(look.text);
    } catch (...) {
    }
    const HGDIOBJ oldFont = ::SelectObject(item.hDC, FontFor(w, look));
    if (look.kind == ControlKind::Button) {
        DrawPushButton(w, item, look, text);
    } else {
        DrawLinkButton(w, item, look, text);
    }
    ::SelectObject(item.hDC, oldFont);
}
