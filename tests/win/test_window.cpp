// The window Main under Wine, on its own Xvfb screen: the frame and its
// size at the system DPI (the test runs at 96 and at 144), the child
// controls mirrored from the model and back, the events reaching their
// handlers, the painted pictures, the message boxes and the event pump.
#include <doctest/doctest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/text_win32.h"
#include "window_handlers_fake.h"
#include "wizard/editions.h"
#include "wizard/main_form.h"
#include "wizard/ui.h"
#include "wizard/window_state_win32.h"
#include "wizard/window_win32.h"

namespace {

// Like the program through its manifest: the window scales itself.
const bool kDpiAware = ::SetProcessDPIAware() != FALSE;

UINT ScreenDpi()
{
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

// What main_form.cpp's places give at the two DPIs the tests run at.
struct Expected {
    UINT dpi;
    SIZE client;
    RECT submit;      // Step2_Submit, client coordinates
    RECT about1;      // About1
    LONG about1Font;  // About1's 12 pt as a LOGFONT height
};
constexpr Expected kExpected[] = {
    {96, {537, 339}, {360, 203, 433, 228}, {196, 219, 342, 239}, -16},
    {144, {806, 509}, {540, 305, 650, 343}, {294, 328, 513, 358}, -24},
};

const Expected& ExpectedAt(UINT dpi)
{
    for (const Expected& e : kExpected) {
        if (e.dpi == dpi) return e;
    }
    FAIL("no expectations for " << dpi << " DPI");
    return kExpected[0];
}

void PumpFor(int milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    do {
        PumpEvents();
        ::Sleep(5);
    } while (::GetTickCount64() < end);
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(milliseconds);
    while (!done()) {
        if (::GetTickCount64() > end) return false;
        PumpEvents();
        ::Sleep(5);
    }
    return true;
}

// A window for one test; the start-up timer is off unless asked for.
struct OpenWindow {
    Main form;
    MainWindow window{form};  // a fresh window object for each test
    HWND hwnd = nullptr;

    explicit OpenWindow(bool startTimer = false)
    {
        Handlers().Reset();
        form.Timer1.enabled = startTimer;
        for (Control* bar : {&form.Step1_Img, &form.Step2_Img, &form.Step3_Img, &form.Step4_Img})
            bar->picture = Picture::GreyBar;
        REQUIRE(CreateMainWindow(window));
        hwnd = MainWindowHandle();
        REQUIRE(hwnd == window.hwnd);
        ShowMainWindow(window, SW_SHOWNORMAL);
        PumpEvents();
    }
    ~OpenWindow() { Handlers().Reset(); }  // the window goes with its object
    HWND Child(int id) const { return ::GetDlgItem(hwnd, id); }
    void ShowSettingsPage()
    {
        for (Control* c : {static_cast<Control*>(&form.Step2_Version), &form.Step2_Path, &form.Step2_Select,
                           &form.Step2_Submit, &form.Step2_T1, &form.Step2_T2})
            c->visible = true;
        form.About1.visible = form.About2.visible = form.Image1.visible = false;
        SyncWindow();
    }
};

std::wstring TextOf(HWND hwnd)
{
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

bool HasStyle(HWND hwnd, LONG style) { return (::GetWindowLongW(hwnd, GWL_STYLE) & style) == style; }

bool IsTopmost(HWND hwnd) { return (::GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

RECT ClientRectOf(HWND child, HWND parent)
{
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LOGFONTW FontOf(HWND hwnd)
{
    LOGFONTW lf{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf;
}

int TwipsToPixels(int twips, UINT dpi) { return static_cast<int>((twips * static_cast<long long>(dpi) + 720) / 1440); }

COLORREF PixelAt(HWND hwnd, int x, int y)
{
    ::RedrawWindow(::GetAncestor(hwnd, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC dc = ::GetDC(hwnd);
    const COLORREF c = ::GetPixel(dc, x, y);
    ::ReleaseDC(hwnd, dc);
    return c;
}

COLORREF PixelAtTwips(HWND hwnd, int x, int y, UINT dpi)
{
    return PixelAt(hwnd, TwipsToPixels(x, dpi), TwipsToPixels(y, dpi));
}

COLORREF Ref(Rgb c) { return RGB(c.r, c.g, c.b); }

int PixelsOtherThan(HWND hwnd, COLORREF colour)
{
    ::RedrawWindow(::GetAncestor(hwnd, GA_ROOT), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    ::GetClientRect(hwnd, &r);
    HDC dc = ::GetDC(hwnd);
    int count = 0;
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x) count += ::GetPixel(dc, x, y) != colour;
    ::ReleaseDC(hwnd, dc);
    return count;
}

// The text colour a child is painted with, as the window answers it.
COLORREF TextColourOf(HWND parent, HWND child)
{
    HDC dc = ::CreateCompatibleDC(nullptr);
    ::SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child));
    const COLORREF c = ::GetTextColor(dc);
    ::DeleteDC(dc);
    return c;
}

void Click(HWND label)
{
    ::SendMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::SendMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    PumpEvents();
}

}  // namespace

TEST_CASE("a fresh window: its frame at the system DPI, the children at their places, fonts and texts")
{
    REQUIRE(kDpiAware);
    OpenWindow w;
    const Expected& expected = ExpectedAt(ScreenDpi());
    RECT client;
    ::GetClientRect(w.hwnd, &client);
    CHECK(client.right == expected.client.cx);
    CHECK(client.bottom == expected.client.cy);
    CHECK(TextOf(w.hwnd) == L"Corvane·Stackhold");
    wchar_t className[64] = {};
    ::GetClassNameW(w.hwnd, className, 64);
    CHECK(std::wstring(className) == kMainWindowClass);
    CHECK_FALSE(HasStyle(w.hwnd, WS_CAPTION));
    CHECK_FALSE(IsTopmost(w.hwnd));

    RECT frame, work;
    ::GetWindowRect(w.hwnd, &frame);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    CHECK(std::abs((frame.left + frame.right) - (work.left + work.right)) <= 1);
    CHECK(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)) <= 1);

    const RECT submit = ClientRectOf(w.Child(kIdStep2Submit), w.hwnd);
    const RECT about1 = ClientRectOf(w.Child(kIdAbout1), w.hwnd);
    CHECK(::EqualRect(&submit, &expected.submit));
    CHECK(::EqualRect(&about1, &expected.about1));

    const LOGFONTW about1Font = FontOf(w.Child(kIdAbout1));
    CHECK(about1Font.lfHeight == expected.about1Font);
    CHECK(std::wstring(about1Font.lfFaceName) == L"黑体");
    CHECK(about1Font.lfCharSet == GB2312_CHARSET);
    CHECK(FontOf(w.Child(kIdLabel1)).lfWeight == FW_BOLD);
    CHECK(FontOf(w.Child(kIdAbout1)).lfWeight == FW_NORMAL);
    // The counter uses the system's message font, not 黑体.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    REQUIRE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    CHECK(std::wstring(FontOf(w.Child(kIdLabel3)).lfFaceName) == metrics.lfMessageFont.lfFaceName);

    for (Control* c : w.form.Controls()) {
        CAPTURE(c->name);
        HWND child = w.Child(c->id);
        if (c->kind == ControlKind::Picture) {
            CHECK(child == nullptr);  // painted by the window
            continue;
        }
        REQUIRE(child != nullptr);
        CHECK(HasStyle(child, WS_VISIBLE) == c->visible);
        if (c->kind != ControlKind::ComboBox) CHECK(TextOf(child) == Utf8ToWide(c->text));
    }
    HWND box = w.Child(kIdStep2Version);
    REQUIRE(::SendMessageW(box, CB_GETCOUNT, 0, 0) == 4);
    for (int i = 0; i < 4; ++i) {
        wchar_t item[128] = {};
        ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        CHECK(std::wstring(item) == Utf8ToWide(kEditions[i].item));
    }
    CHECK(::SendMessageW(box, CB_GETCURSEL, 0, 0) == CB_ERR);
    CHECK(HasStyle(box, CBS_DROPDOWNLIST));

    SetWindowTopmost();
    CHECK(IsTopmost(w.hwnd));
}

TEST_CASE("every windowed control shows the model's place, font, size, weight, colours and visibility")
{
    OpenWindow w;
    const UINT dpi = ScreenDpi();
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    REQUIRE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    HDC dc = ::CreateCompatibleDC(nullptr);
    for (Control* c : w.form.Controls()) {
        if (c->kind == ControlKind::Picture) continue;
        CAPTURE(c->name);
        HWND child = w.Child(c->id);
        REQUIRE(child != nullptr);
        // The place; a combo box's window also holds its dropped list below.
        const RECT r = ClientRectOf(child, w.hwnd);
        CHECK(r.left == TwipsToPixels(c->place.left, dpi));
        CHECK(r.top == TwipsToPixels(c->place.top, dpi));
        CHECK(r.right - r.left == TwipsToPixels(c->place.width, dpi));
        if (c->kind != ControlKind::ComboBox) CHECK(r.bottom - r.top == TwipsToPixels(c->place.height, dpi));
        CHECK(HasStyle(child, WS_VISIBLE) == c->visible);

        const LOGFONTW font = FontOf(child);
        if (c->defaultFont) {
            CHECK(std::wstring(font.lfFaceName) == metrics.lfMessageFont.lfFaceName);
        } else {
            CHECK(std::wstring(font.lfFaceName) == L"黑体");
            CHECK(font.lfCharSet == GB2312_CHARSET);
            CHECK(font.lfHeight == -::MulDiv(static_cast<int>(c->fontPoints * 10 + 0.5), static_cast<int>(dpi), 720));
        }
        CHECK((font.lfWeight >= FW_BOLD) == c->bold);

        // Colours as the window answers the child's WM_CTLCOLOR* question:
        // a solid brush of the back colour, or the painted scene behind a
        // see-through label.
        const HBRUSH brush = reinterpret_cast<HBRUSH>(
            ::SendMessageW(w.hwnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(child)));
        REQUIRE(brush != nullptr);
        CHECK(::GetTextColor(dc) == Ref(c->color));
        LOGBRUSH lb{};
        REQUIRE(::GetObjectW(brush, sizeof lb, &lb) == sizeof lb);
        if (c->transparent) {
            CHECK(lb.lbStyle != BS_SOLID);
        } else {
            CHECK(lb.lbStyle == BS_SOLID);
            CHECK(lb.lbColor == Ref(c->backColor));
        }
    }
    ::DeleteDC(dc);

    // The edition box is a white field, themed Windows or not, and the
    // list's selection field is answered in the box's colours.
    w.ShowSettingsPage();
    HWND box = w.Child(kIdStep2Version);
    ::SetFocus(w.Child(kIdStep2Path));  // a focused box shows its field selected
    RECT field;
    ::GetClientRect(box, &field);
    const int fieldHeight = TwipsToPixels(w.form.Step2_Version.place.height, dpi);
    CHECK(PixelAt(box, field.right / 2, fieldHeight / 2) == RGB(255, 255, 255));
    HDC listDc = ::CreateCompatibleDC(nullptr);
    const LRESULT listBrush =
        ::SendMessageW(w.hwnd, WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(listDc), reinterpret_cast<LPARAM>(box));
    CHECK(listBrush != 0);
    CHECK(::GetBkColor(listDc) == RGB(255, 255, 255));
    ::DeleteDC(listDc);
}

TEST_CASE("a DPI change rescales the window, its children and their fonts")
{
    OpenWindow w;
    const UINT target = ScreenDpi() == 96 ? 144 : 96;
    const Expected& expected = ExpectedAt(target);
    RECT suggested{20, 30, 20 + expected.client.cx, 30 + expected.client.cy};
    ::SendMessageW(w.hwnd, WM_DPICHANGED, MAKEWPARAM(target, target), reinterpret_cast<LPARAM>(&suggested));
    RECT client;
    ::GetClientRect(w.hwnd, &client);
    CHECK(client.right == expected.client.cx);
    CHECK(client.bottom == expected.client.cy);
    const RECT submit = ClientRectOf(w.Child(kIdStep2Submit), w.hwnd);
    CHECK(::EqualRect(&submit, &expected.submit));
    CHECK(FontOf(w.Child(kIdAbout1)).lfHeight == expected.about1Font);
}

TEST_CASE("changes of the model reach the window when it is synchronised")
{
    OpenWindow w;
    w.form.About1.text = "正在检测环境";
    w.form.Step2_Path.text = "D:\\Data\\SQL Server";
    w.form.Step2_Version.listIndex = 3;
    w.form.Step1_Name.color = kStepDone;
    w.form.Label1.bold = false;
    w.form.About1.visible = false;
    w.form.Step2_Submit.visible = true;
    SyncWindow();

    CHECK(TextOf(w.Child(kIdAbout1)) == L"正在检测环境");
    CHECK(TextOf(w.Child(kIdStep2Path)) == L"D:\\Data\\SQL Server");
    CHECK(w.form.Step2_Path.text == "D:\\Data\\SQL Server");  // its own change notice leaves it
    CHECK(::SendMessageW(w.Child(kIdStep2Version), CB_GETCURSEL, 0, 0) == 3);
    CHECK(TextOf(w.Child(kIdStep2Version)) == L"SQL Server 2012 Express (64位)");
    CHECK(TextColourOf(w.hwnd, w.Child(kIdStep1Name)) == RGB(16, 141, 220));
    CHECK(TextColourOf(w.hwnd, w.Child(kIdStep2Name)) == RGB(64, 64, 64));
    CHECK(FontOf(w.Child(kIdLabel1)).lfWeight == FW_NORMAL);
    CHECK_FALSE(HasStyle(w.Child(kIdAbout1), WS_VISIBLE));
    CHECK(HasStyle(w.Child(kIdStep2Submit), WS_VISIBLE));

    w.form.Step2_Version.listIndex = -1;
    SyncWindow();
    CHECK(::SendMessageW(w.Child(kIdStep2Version), CB_GETCURSEL, 0, 0) == CB_ERR);
}

TEST_CASE("what the operator types or picks goes back into the model")
{
    OpenWindow w;
    w.ShowSettingsPage();
    w.form.Step2_Path.text = "D:\\数据";
    w.form.Step2_Version.listIndex = 1;
    SyncWindow();

    HWND edit = w.Child(kIdStep2Path);
    ::SendMessageW(edit, EM_SETSEL, 5, 5);
    ::SendMessageW(edit, WM_CHAR, L'X', 0);
    CHECK(w.form.Step2_Path.text == "D:\\数据X");
    ::SetWindowTextW(edit, L"E:\\库");
    CHECK(w.form.Step2_Path.text == "E:\\库");
    SyncWindow();  // the model already holds it: nothing is written back
    CHECK(TextOf(edit) == L"E:\\库");

    ::SendMessageW(w.Child(kIdStep2Version), WM_KEYDOWN, VK_DOWN, 0);
    PumpEvents();
    CHECK(w.form.Step2_Version.listIndex == 2);
}

TEST_CASE("clicks reach their handlers; a hidden control's click does not")
{
    OpenWindow w;
    struct Case {
        int id;
        const char* handler;
        bool showPage;
        int calls;
    };
    const Case cases[] = {
        {kIdStep2Submit, "Step2_Submit_Click", true, 1},  {kIdStep2Submit, "Step2_Submit_Click", false, 0},
        {kIdStep2Select, "Step2_Select_Click", true, 1},  {kIdStep2Select, "Step2_Select_Click", false, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.handler);
        CAPTURE(c.showPage);
        Handlers().Reset();
        w.form.Step2_Submit.visible = w.form.Step2_Select.visible = c.showPage;
        SyncWindow();
        ::SendMessageW(w.Child(c.id), BM_CLICK, 0, 0);
        PumpEvents();
        CHECK(Handlers()[c.handler] == c.calls);
    }

    // The labels over the banner answer real mouse clicks.
    Handlers().Reset();
    Click(w.Child(kIdLabelClose));
    Click(w.Child(kIdLabel2));
    CHECK(Handlers()["Label_Close_Click"] == 1);
    CHECK(Handlers()["Label2_Click"] == 1);
}

TEST_CASE("a press on the banner drags, elsewhere or on a label not; a system close asks like the close mark")
{
    OpenWindow w;
    const UINT dpi = ScreenDpi();
    struct Case {
        HWND target;
        int x, y;  // twips in the target
        UINT message;
        int drags;
    };
    const Case cases[] = {
        {w.hwnd, 300, 2000, WM_LBUTTONDOWN, 1},
        {w.hwnd, 300, 2000, WM_RBUTTONDOWN, 1},
        {w.hwnd, 300, 2000, WM_MBUTTONDOWN, 1},
        {w.hwnd, 300, 3000, WM_LBUTTONDOWN, 0},  // below the banner
        {w.Child(kIdLabel1), 30, 30, WM_LBUTTONDOWN, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.y);
        CAPTURE(c.message);
        Handlers().Reset();
        ::SendMessageW(c.target, c.message, 0,
                       MAKELPARAM(TwipsToPixels(c.x, dpi), TwipsToPixels(c.y, dpi)));
        CHECK(Handlers()["Picture1_MouseDown"] == c.drags);
    }

    // Labels take their own presses, so the banner never sees them.
    RECT label1;
    ::GetWindowRect(w.Child(kIdLabel1), &label1);
    CHECK(::SendMessageW(w.Child(kIdLabel1), WM_NCHITTEST, 0, MAKELPARAM(label1.left + 2, label1.top + 2)) == HTCLIENT);

    const LRESULT handled =
        ::SendMessageW(w.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(w.Child(kIdLabel2)), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    CHECK(handled == TRUE);
    CHECK(Handlers()["Label2_MouseMove"] == 1);

    Handlers().Reset();
    ::SendMessageW(w.hwnd, WM_CLOSE, 0, 0);
    ::SendMessageW(w.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(Handlers()["Label_Close_Click"] == 2);
    CHECK(::IsWindow(w.hwnd));
}

TEST_CASE("the keyboard: tab order of the page, Enter presses the install button")
{
    OpenWindow w;
    w.ShowSettingsPage();
    HWND version = w.Child(kIdStep2Version), path = w.Child(kIdStep2Path);
    HWND select = w.Child(kIdStep2Select), submit = w.Child(kIdStep2Submit);
    CHECK(::GetNextDlgTabItem(w.hwnd, version, FALSE) == path);
    CHECK(::GetNextDlgTabItem(w.hwnd, path, FALSE) == select);
    CHECK(::GetNextDlgTabItem(w.hwnd, select, FALSE) == submit);
    CHECK(::GetNextDlgTabItem(w.hwnd, submit, FALSE) == version);

    // Enter in the directory box goes through the dialog keyboard handling
    // of the event pump.
    ::PostMessageW(path, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(path, WM_KEYUP, VK_RETURN, 0xC0000001);
    PumpEvents();
    CHECK(Handlers()["Step2_Submit_Click"] == 1);

    // Without the page, Enter presses nothing.
    w.form.Step2_Submit.visible = false;
    SyncWindow();
    ::PostMessageW(path, WM_KEYDOWN, VK_RETURN, 1);
    PumpEvents();
    CHECK(Handlers()["Step2_Submit_Click"] == 1);
}

TEST_CASE("a handler's changes show at once; a handler that throws leaves the window working")
{
    OpenWindow w;
    w.ShowSettingsPage();
    Handlers().action = [&](const std::string& name) {
        if (name == "Step2_Submit_Click") w.form.About2.text = "数据库版本：SQL Server";
        if (name == "Step2_Select_Click") throw std::runtime_error("failing statement");
    };
    ::SendMessageW(w.Child(kIdStep2Submit), BM_CLICK, 0, 0);
    CHECK(TextOf(w.Child(kIdAbout2)) == L"数据库版本：SQL Server");
    ::SendMessageW(w.Child(kIdStep2Select), BM_CLICK, 0, 0);
    ::SendMessageW(w.Child(kIdStep2Select), BM_CLICK, 0, 0);
    CHECK(Handlers()["Step2_Select_Click"] == 2);
    CHECK(::IsWindow(w.hwnd));
}

TEST_CASE("timers follow the model: the start-up timer fires once, the counter counts")
{
    OpenWindow w(true);
    CHECK(PumpUntil([] { return Handlers()["CheckEnvironMental"] > 0; }, 2000));
    PumpFor(200);
    CHECK(Handlers()["CheckEnvironMental"] == 1);
    CHECK_FALSE(w.form.Timer1.enabled);

    CHECK(PumpUntil([&] { return w.form.state.ElapsedSeconds >= 1; }, 3000));
    PumpEvents();
    CHECK(TextOf(w.Child(kIdLabel3)) == Utf8ToWide(w.form.Label3.text));
    CHECK(w.form.Label3.text == std::to_string(w.form.state.ElapsedSeconds) + "s");

    w.form.Timer2 = {50, true};
    SyncWindow();
    CHECK(PumpUntil([] { return Handlers()["Timer2_Timer"] >= 3; }, 2000));
    w.form.Timer2.enabled = false;
    SyncWindow();
    const int ticks = Handlers()["Timer2_Timer"];
    ::PostMessageW(w.hwnd, WM_TIMER, 2, 0);  // queued before it was switched off
    PumpFor(300);
    CHECK(Handlers()["Timer2_Timer"] == ticks);
}

TEST_CASE("the event pump dispatches everything queued and mirrors the result")
{
    OpenWindow w;
    w.form.Timer3.interval = 600000;  // no real tick during the test
    SyncWindow();
    for (int i = 0; i < 3; ++i) ::PostMessageW(w.hwnd, WM_TIMER, 3, 0);
    PumpEvents();
    CHECK(w.form.state.ElapsedSeconds == 3);
    CHECK(TextOf(w.Child(kIdLabel3)) == L"3s");
}

TEST_CASE("pictures are painted where the model puts them; see-through labels show them")
{
    OpenWindow w;
    const UINT dpi = ScreenDpi();
    const auto at = [&](int x, int y) { return PixelAtTwips(w.hwnd, x, y, dpi); };
    CHECK(at(300, 2000) == Ref(kBannerBlue));
    CHECK(at(300, 3000) == Ref(kWindowBack));
    CHECK(at(1340, 4445) == Ref(kBarGrey));      // Step1_Img
    CHECK(at(7445, 4445) == Ref(kBarGrey));      // Step5_Img, the dot's centre
    CHECK(at(4000, 3100) == Ref(kBarBlue));      // Image1, above About1

    w.form.Step1_Img.picture = w.form.Image_OK.picture;
    w.form.Step5_Img.picture = w.form.Image_OK2.picture;
    w.form.Image1.visible = false;
    SyncWindow();
    CHECK(at(1340, 4445) == Ref(kBarBlue));
    CHECK(at(7445, 4445) == Ref(kBarBlue));
    CHECK(at(4000, 3100) == Ref(kWindowBack));

    // Labels: the banner through Label1's empty end, the drawn close mark
    // through Label_Close, the window's colour behind an opaque step label.
    HWND label1 = w.Child(kIdLabel1), close = w.Child(kIdLabelClose), step1 = w.Child(kIdStep1Name);
    RECT r1, rc, rs;
    ::GetClientRect(label1, &r1);
    ::GetClientRect(close, &rc);
    ::GetClientRect(step1, &rs);
    CHECK(PixelAt(label1, r1.right - 2, r1.bottom - 2) == Ref(kBannerBlue));
    CHECK(PixelAt(close, rc.right / 2, rc.bottom / 2) == Ref(kWhite));
    CHECK(PixelAt(step1, rs.right - 2, rs.bottom - 2) == Ref(kWindowBack));

    // New text on a see-through label paints over the old one completely.
    CHECK(PixelsOtherThan(label1, Ref(kBannerBlue)) > 0);
    w.form.Label1.text = "";
    SyncWindow();
    CHECK(PixelsOtherThan(label1, Ref(kBannerBlue)) == 0);
}

namespace {

struct BoxAnswer {
    HWND owner;
    int button;
    std::wstring title, text;
    bool hasCancel = false, hasNo = false, found = false, showsIcon = false;
};

BOOL CALLBACK FindShownIcon(HWND child, LPARAM param)
{
    wchar_t cls[32] = {};
    ::GetClassNameW(child, cls, 32);
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    if (std::wstring(cls) == L"Static" && (style & SS_TYPEMASK) == SS_ICON && ::IsWindowVisible(child) &&
        ::SendMessageW(child, STM_GETICON, 0, 0) != 0)
        *reinterpret_cast<bool*>(param) = true;
    return TRUE;
}

// True when the message box shows an icon: its icon control (id 20 on
// Windows) is there, visible and holds one.
bool BoxShowsIcon(HWND box)
{
    bool shown = false;
    ::EnumChildWindows(box, FindShownIcon, reinterpret_cast<LPARAM>(&shown));
    return shown;
}

BOOL CALLBACK FindStaticText(HWND child, LPARAM param)
{
    auto* answer = reinterpret_cast<BoxAnswer*>(param);
    wchar_t cls[32] = {};
    ::GetClassNameW(child, cls, 32);
    if (std::wstring(cls) == L"Static" && ::GetWindowTextLengthW(child) > 0) answer->text = TextOf(child);
    return TRUE;
}

// Waits for the message box of the window, reads it and presses a button.
DWORD WINAPI AnswerBox(void* param)
{
    auto* answer = static_cast<BoxAnswer*>(param);
    for (int i = 0; i < 500 && !answer->found; ++i) {
        ::Sleep(10);
        HWND box = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr);
        for (; box; box = ::FindWindowExW(nullptr, box, L"#32770", nullptr)) {
            if (::GetWindow(box, GW_OWNER) != answer->owner || !::IsWindowVisible(box)) continue;
            answer->found = true;
            answer->title = TextOf(box);
            answer->hasCancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
            answer->hasNo = ::GetDlgItem(box, IDNO) != nullptr;
            answer->showsIcon = BoxShowsIcon(box);
            ::EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(answer));
            ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer->button, BN_CLICKED), 0);
            break;
        }
    }
    return 0;
}

struct BoxAnswerer {
    BoxAnswer answer;
    HANDLE thread;
    BoxAnswerer(HWND owner, int button) : answer{owner, button, {}, {}}
    {
        thread = ::CreateThread(nullptr, 0, AnswerBox, &answer, 0, nullptr);
    }
    ~BoxAnswerer()
    {
        ::WaitForSingleObject(thread, 10000);
        ::CloseHandle(thread);
    }
};

}  // namespace

TEST_CASE("message boxes belong to the window, carry the title, and only Yes is yes")
{
    OpenWindow w;
    struct Case {
        int button;
        bool result;
    };
    for (const Case& c : {Case{IDYES, true}, Case{IDNO, false}}) {
        CAPTURE(c.button);
        bool result;
        BoxAnswer seen{};
        {
            BoxAnswerer answerer(w.hwnd, c.button);
            result = AskYesNo("确定结束安装吗？");
            ::WaitForSingleObject(answerer.thread, 10000);
            REQUIRE(answerer.answer.found);
            seen = answerer.answer;
        }
        CHECK(result == c.result);
        CHECK(seen.title == L"Corvane·Stackhold");
        CHECK(seen.text == L"确定结束安装吗？");
        CHECK(seen.showsIcon);  // the question icon
    }

    // The OK-only box: one button, no icon.
    BoxAnswerer answerer(w.hwnd, IDOK);
    ShowMessage("数据库正在安装，无法结束。");
    ::WaitForSingleObject(answerer.thread, 10000);
    REQUIRE(answerer.answer.found);
    CHECK(answerer.answer.title == L"Corvane·Stackhold");
    CHECK(answerer.answer.text == L"数据库正在安装，无法结束。");
    CHECK_FALSE(answerer.answer.hasNo);
    CHECK_FALSE(answerer.answer.hasCancel);
    CHECK_FALSE(answerer.answer.showsIcon);
}

namespace {

// The start as the program makes it, in a child process (window_start_probe.exe
// beside this test), watched from outside.
struct StartRun {
    bool boxShown = false;
    std::wstring boxText;
    bool boxShowsIcon = true;
    bool windowShownUnderBox = true;
    std::wstring counterUnderBox;  // Label3 while the box was up
    DWORD exitCode = 0;
    std::string report;            // the handlers that ran, a line each
};

struct ProcessWindows {
    DWORD pid;
    HWND box = nullptr, main = nullptr;
};

BOOL CALLBACK FindProcessWindows(HWND hwnd, LPARAM param)
{
    auto* found = reinterpret_cast<ProcessWindows*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid != found->pid) return TRUE;
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd)) found->box = hwnd;
    if (std::wstring(cls) == kMainWindowClass) found->main = hwnd;
    return TRUE;
}

std::wstring SentText(HWND hwnd)
{
    wchar_t buffer[256] = {};
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                          &ignored);
    return buffer;
}

std::wstring BesideThisTest(const wchar_t* name)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::string ReadReport(const std::wstring& path)
{
    std::string lines;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) lines += line;
        std::fclose(f);
    }
    return lines;
}

// Runs the probe in mode; when a message box comes up, holds it open for
// holdMs (long enough for Timer1 and Timer3 to fire, were they armed) and
// presses OK. A probe that runs on (mode "page") is ended once its report
// holds runsUntil.
StartRun RunStart(const wchar_t* mode, int holdMs, const char* runsUntil = nullptr)
{
    StartRun run;
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    // Named for this run too: the window tests run at once in several
    // prefixes that share drive C:, and so its temporary folder (and Wine
    // numbers the processes of each prefix alike).
    const std::wstring report = std::wstring(temp) + L"window_start_" + mode + L"_" +
                                std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                std::to_wstring(::GetTickCount64()) + L".txt";
    ::DeleteFileW(report.c_str());
    std::wstring command = L"\"" + BesideThisTest(L"window_start_probe.exe") + L"\" " + mode + L" \"" + report + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    REQUIRE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ::CloseHandle(pi.hThread);
    for (int i = 0; i < 1500 && ::WaitForSingleObject(pi.hProcess, 10) == WAIT_TIMEOUT; ++i) {
        if (runsUntil && ReadReport(report).find(runsUntil) != std::string::npos) {
            ::TerminateProcess(pi.hProcess, 0);
            break;
        }
        ProcessWindows found{pi.dwProcessId};
        ::EnumWindows(FindProcessWindows, reinterpret_cast<LPARAM>(&found));
        if (!found.box) continue;
        ::Sleep(static_cast<DWORD>(holdMs));
        run.boxShown = true;
        BoxAnswer read{};
        ::EnumChildWindows(found.box, FindStaticText, reinterpret_cast<LPARAM>(&read));
        run.boxText = read.text;
        run.boxShowsIcon = BoxShowsIcon(found.box);
        run.windowShownUnderBox = found.main && ::IsWindowVisible(found.main);
        if (found.main) run.counterUnderBox = SentText(::GetDlgItem(found.main, kIdLabel3));
        ::PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        break;
    }
    if (::WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 99);
    ::GetExitCodeProcess(pi.hProcess, &run.exitCode);
    ::CloseHandle(pi.hProcess);
    run.report = ReadReport(report);
    ::DeleteFileW(report.c_str());
    return run;
}

}  // namespace

TEST_CASE("the start: timers armed only once the window is shown; a failing load handler ends before step 1")
{
    // Step 1 starts on a window that is on screen.
    const StartRun works = RunStart(L"works", 0);
    CHECK_FALSE(works.boxShown);
    CHECK(works.exitCode == 7);
    CHECK(works.report == "CheckEnvironMental shown\n");

    // Held open for 1.3 s: Timer1 (10 ms) and Timer3 (1 s) would both have
    // fired inside the box's own loop had they been armed at creation.
    struct Case {
        const wchar_t* mode;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"no-password", L"非常抱歉，无法生成安全的随机密码，请重新运行。"},
        {L"load-throws", L"程序启动失败，请重新运行。"},
    };
    for (const Case& c : cases) {
        CAPTURE(WideToUtf8(c.mode));
        const StartRun run = RunStart(c.mode, 1300);
        REQUIRE(run.boxShown);
        CHECK(run.boxText == c.message);
        CHECK_FALSE(run.boxShowsIcon);
        CHECK_FALSE(run.windowShownUnderBox);
        CHECK(run.counterUnderBox == L"0s");
        CHECK(run.report.empty());  // no handler ran: no step 1, no tick
        CHECK(run.exitCode == 1);
    }
}

TEST_CASE("with a visual style on, the edition box is drawn without it, white; the directory box keeps it")
{
    // The probe has the program's manifest (Common Controls 6); the test's
    // session switches Wine's light style on. It runs on with the page up.
    const StartRun run = RunStart(L"page", 0, "theme");
    CHECK(run.report == "CheckEnvironMental shown\ntheme on, edition box unthemed, directory box themed, field FFFFFF\n");
}

TEST_CASE("a fault escaping the step chain after the download began ends the program with a message")
{
    // In step 3, 4 or an unverified 5: the message, then the end.
    for (const wchar_t* mode : {L"submit-fault-3", L"submit-fault-4", L"submit-fault-5"}) {
        CAPTURE(WideToUtf8(mode));
        const StartRun run = RunStart(mode, 0);
        REQUIRE(run.boxShown);
        CHECK(run.boxText == L"非常抱歉，安装过程出现错误，请重新运行。");
        CHECK_FALSE(run.boxShowsIcon);
        CHECK(run.exitCode == 1);
        CHECK(run.report == "CheckEnvironMental shown\nStep2_Submit_Click\n");
    }
    // Still on the page (step 2), or past a verified installation whose
    // window shows the password: the failing statement is skipped, the
    // window goes on and its next tick runs.
    for (const wchar_t* mode : {L"submit-fault-2", L"submit-fault-5-verified"}) {
        CAPTURE(WideToUtf8(mode));
        const StartRun run = RunStart(mode, 0);
        CHECK_FALSE(run.boxShown);
        CHECK(run.exitCode == 7);
        CHECK(run.report == "CheckEnvironMental shown\nStep2_Submit_Click\nTimer2_Timer\n");
    }
}
