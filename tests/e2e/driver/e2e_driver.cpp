// e2e_driver.exe: drives the installer's window from outside, in the same
// Wine session. Reads one command per line on stdin (UTF-8) and answers each
// with one line of JSON on stdout (UTF-8), written straight to the pipe so
// nothing waits in a runtime buffer.
//
//   wait_window <ms>              wait for the visible main window
//   texts                         main window facts and every child control
//   settext <id> <text>           WM_SETTEXT (the rest of the line is the text)
//   select <id> <index>           CB_SETCURSEL, then CBN_SELCHANGE to the parent
//   click <id>                    BM_CLICK (buttons) or STN_CLICKED (labels)
//   wait_text <id> <text> <ms>    until the control's text contains <text>
//   wait_visible <id> <0|1> <ms>  until the control is shown (1) or hidden (0)
//   msgbox <ms>                   a visible dialog of the installer's process
//   press <id|ok|yes|no|cancel|button text>   BM_CLICK on that dialog's button
//   movebox <x> <y>               moves that dialog's top-left corner to the
//                                 screen point (so a screenshot sees what it covered)
//   windows                       the installer's top-level windows
//   wow64                         whether the installer runs under WoW64
//   gdi                           whether drawing works for the driver itself
//                                 (a screen DPI and a memory DC)
//   alive | ping | quit
//
// Clicks are posted, never sent: the installer's handlers run long nested
// waits and open modal boxes, and the driver must stay free to look at them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wizard/control_ids.h"

namespace {

HWND g_main = nullptr;
DWORD g_pid = 0;
constexpr UINT kSendTimeoutMs = 3000;

// ------------------------------------------------------------ text

std::string Utf8(const std::wstring& w)
{
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s)
{
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Quote(const std::wstring& w) { return Quote(Utf8(w)); }
std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Num(long long v) { return std::to_string(v); }

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string.
std::string Rect(const RECT& r)
{
    std::string s = "[";
    s += Num(r.left);
    s += ",";
    s += Num(r.top);
    s += ",";
    s += Num(r.right);
    s += ",";
    s += Num(r.bottom);
    return s + "]";
}

void Answer(const std::string& json)
{
    std::string line = json + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void Fail(const std::string& error) { Answer("{\"ok\":false,\"error\":" + Quote(error) + "}"); }

// ------------------------------------------------------------ windows

std::wstring ClassOf(HWND w)
{
    wchar_t buf[128] = {};
    GetClassNameW(w, buf, 128);
    return buf;
}

// The text through WM_GETTEXT, with a time limit so a hung window fails the
// command instead of hanging the driver.
bool TextOf(HWND w, std::wstring& text)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return false;
    std::vector<wchar_t> buf(length + 2);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &copied))
        return false;
    text.assign(buf.data(), copied);
    return true;
}

bool Send(HWND w, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result = nullptr)
{
    DWORD_PTR r = 0;
    bool ok = SendMessageTimeoutW(w, msg, wp, lp, SMTO_ABORTIFHUNG, kSendTimeoutMs, &r) != 0;
    if (result) *result = r;
    return ok;
}

UINT WindowDpi(HWND w)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    auto fn = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (fn) {
        UINT dpi = fn(w);
        if (dpi) return dpi;
    }
    HDC dc = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(nullptr, dc);
    return dpi;
}

UINT SystemDpi()
{
    HDC dc = GetDC(nullptr);
    UINT dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(nullptr, dc);
    return dpi;
}

HWND Child(int id) { return g_main ? GetDlgItem(g_main, id) : nullptr; }

bool MainAlive() { return g_main && IsWindow(g_main); }

std::string ComboFacts(HWND w)
{
    DWORD_PTR count = 0, sel = 0;
    Send(w, CB_GETCOUNT, 0, 0, &count);
    Send(w, CB_GETCURSEL, 0, 0, &sel);
    std::string items = "[";
    for (DWORD_PTR i = 0; i < count && count != static_cast<DWORD_PTR>(CB_ERR); ++i) {
        DWORD_PTR length = 0;
        Send(w, CB_GETLBTEXTLEN, i, 0, &length);
        std::vector<wchar_t> buf(length + 2);
        Send(w, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf.data()));
        if (i) items += ",";
        items += Quote(std::wstring(buf.data()));
    }
    return ",\"items\":" + items + "],\"sel\":" + Num(static_cast<LONG_PTR>(sel));
}

std::string ControlFacts(HWND w)
{
    std::wstring text;
    bool readable = TextOf(w, text);
    RECT r{};
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, g_main, reinterpret_cast<POINT*>(&r), 2);
    std::wstring cls = ClassOf(w);
    std::string json = "{\"id\":" + Num(GetDlgCtrlID(w)) + ",\"class\":" + Quote(cls) +
                       ",\"text\":" + (readable ? Quote(text) : "null") +
                       ",\"visible\":" + Bool(IsWindowVisible(w) != FALSE) +
                       ",\"enabled\":" + Bool(IsWindowEnabled(w) != FALSE) + ",\"rect\":" + Rect(r) +
                       ",\"style\":" + Num(static_cast<long long>(GetWindowLongW(w, GWL_STYLE) & 0xffffffffLL));
    if (lstrcmpiW(cls.c_str(), L"ComboBox") == 0) json += ComboFacts(w);
    return json + "}";
}

BOOL CALLBACK CollectChild(HWND w, LPARAM out)
{
    if (GetParent(w) == g_main) reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
    return TRUE;
}

// ------------------------------------------------------------ dialogs

struct DialogSearch {
    std::vector<HWND> found;
    bool dialogsOnly;
};

BOOL CALLBACK CollectTopLevel(HWND w, LPARAM p)
{
    auto* search = reinterpret_cast<DialogSearch*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != g_pid) return TRUE;
    if (search->dialogsOnly && (!IsWindowVisible(w) || ClassOf(w) != L"#32770")) return TRUE;
    search->found.push_back(w);
    return TRUE;
}

HWND FindDialog()
{
    DialogSearch search{{}, true};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

HWND WaitDialog(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (HWND d = FindDialog()) return d;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK CollectAnyChild(HWND w, LPARAM out)
{
    reinterpret_cast<std::vector<HWND>*>(out)->push_back(w);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> kids;
    EnumChildWindows(parent, CollectAnyChild, reinterpret_cast<LPARAM>(&kids));
    return kids;
}

bool IsButton(HWND w)
{
    if (lstrcmpiW(ClassOf(w).c_str(), L"Button") != 0) return false;
    LONG type = GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_OWNERDRAW;
}

std::string DialogFacts(HWND dlg)
{
    std::wstring title;
    TextOf(dlg, title);
    std::wstring message;
    std::string statics = "[", buttons = "[";
    bool firstStatic = true, firstButton = true;
    for (HWND w : ChildrenOf(dlg)) {
        std::wstring text;
        TextOf(w, text);
        if (IsButton(w)) {
            if (!IsWindowVisible(w)) continue;
            buttons += std::string(firstButton ? "" : ",") + "{\"id\":" + Num(GetDlgCtrlID(w)) +
                       ",\"text\":" + Quote(text) + "}";
            firstButton = false;
        } else if (lstrcmpiW(ClassOf(w).c_str(), L"Static") == 0 && !text.empty()) {
            // A message box names its text control 0xFFFF.
            if (GetDlgCtrlID(w) == 0xFFFF || message.empty()) message = text;
            statics += std::string(firstStatic ? "" : ",") + Quote(text);
            firstStatic = false;
        }
    }
    DWORD_PTR owner = reinterpret_cast<DWORD_PTR>(GetWindow(dlg, GW_OWNER));
    return "{\"ok\":true,\"hwnd\":" + Num(reinterpret_cast<DWORD_PTR>(dlg)) + ",\"owner\":" + Num(owner) +
           ",\"owned_by_main\":" + Bool(reinterpret_cast<HWND>(owner) == g_main) +
           ",\"title\":" + Quote(title) + ",\"text\":" + Quote(message) + ",\"statics\":" + statics +
           "],\"buttons\":" + buttons + "]}";
}

// Button wanted by the operator's word: a number is an id; ok/yes/no/cancel
// name the standard ids; anything else is the button's text, matched with
// and without its accelerator mark ("是(&Y)" is found by "是" or "是(Y)").
HWND FindButton(HWND dlg, const std::string& want)
{
    int id = 0;
    if (want == "ok") id = IDOK;
    else if (want == "yes") id = IDYES;
    else if (want == "no") id = IDNO;
    else if (want == "cancel") id = IDCANCEL;
    else if (!want.empty() && want.size() <= 6 && want.find_first_not_of("0123456789") == std::string::npos)
        id = std::atoi(want.c_str());
    std::wstring wanted = Wide(want);
    for (HWND w : ChildrenOf(dlg)) {
        if (!IsButton(w) || !IsWindowVisible(w)) continue;
        if (id) {
            if (GetDlgCtrlID(w) == id) return w;
            continue;
        }
        std::wstring text;
        TextOf(w, text);
        std::wstring plain;
        for (wchar_t c : text)
            if (c != L'&') plain += c;
        if (text == wanted || plain == wanted || plain.rfind(wanted, 0) == 0) return w;
    }
    return nullptr;
}

// ------------------------------------------------------------ commands

void CmdWaitWindow(DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND w = FindWindowW(kMainWindowClass, nullptr);
        if (w && IsWindowVisible(w)) {
            g_main = w;
            GetWindowThreadProcessId(w, &g_pid);
            std::wstring caption;
            TextOf(w, caption);
            Answer("{\"ok\":true,\"hwnd\":" + Num(reinterpret_cast<DWORD_PTR>(w)) + ",\"pid\":" + Num(g_pid) +
                   ",\"caption\":" + Quote(caption) + "}");
            return;
        }
        if (GetTickCount() - start >= timeoutMs) return Fail("no visible main window");
        Sleep(50);
    }
}

void CmdTexts()
{
    if (!MainAlive()) return Fail("gone");
    RECT client{};
    GetClientRect(g_main, &client);
    POINT origin{0, 0};
    ClientToScreen(g_main, &origin);
    RECT window{};
    GetWindowRect(g_main, &window);
    std::wstring caption;
    TextOf(g_main, caption);
    LONG ex = GetWindowLongW(g_main, GWL_EXSTYLE);
    std::vector<HWND> kids;
    EnumChildWindows(g_main, CollectChild, reinterpret_cast<LPARAM>(&kids));
    std::string controls = "[";
    for (size_t i = 0; i < kids.size(); ++i) {
        if (i) controls += ",";
        controls += ControlFacts(kids[i]);
    }
    Answer("{\"ok\":true,\"caption\":" + Quote(caption) + ",\"client\":[" + Num(client.right) + "," +
           Num(client.bottom) + "],\"client_origin\":[" + Num(origin.x) + "," + Num(origin.y) +
           "],\"window\":" + Rect(window) + ",\"topmost\":" + Bool((ex & WS_EX_TOPMOST) != 0) +
           ",\"visible\":" + Bool(IsWindowVisible(g_main) != FALSE) +
           ",\"iconic\":" + Bool(IsIconic(g_main) != FALSE) + ",\"dpi\":" + Num(WindowDpi(g_main)) +
           ",\"system_dpi\":" + Num(SystemDpi()) + ",\"controls\":" + controls + "]}");
}

void CmdSetText(int id, const std::string& text)
{
    HWND w = Child(id);
    if (!w) return Fail("no control " + std::to_string(id));
    std::wstring wide = Wide(text);
    if (!Send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()))) return Fail("WM_SETTEXT failed");
    Answer("{\"ok\":true}");
}

void CmdSelect(int id, int index)
{
    HWND w = Child(id);
    if (!w) return Fail("no control " + std::to_string(id));
    if (!IsWindowVisible(w)) return Fail("hidden");
    DWORD_PTR result = 0;
    if (!Send(w, CB_SETCURSEL, static_cast<WPARAM>(index), 0, &result) ||
        static_cast<LONG_PTR>(result) != index)
        return Fail("CB_SETCURSEL refused");
    // A program's own CB_SETCURSEL sends no notification; a user's choice does.
    PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(w));
    Answer("{\"ok\":true}");
}

void CmdClick(int id)
{
    HWND w = Child(id);
    if (!w) return Fail("no control " + std::to_string(id));
    // Only what an operator could click: a shown, enabled control.
    if (!IsWindowVisible(w)) return Fail("hidden");
    if (!IsWindowEnabled(w)) return Fail("disabled");
    std::wstring cls = ClassOf(w);
    if (lstrcmpiW(cls.c_str(), L"Button") == 0) {
        PostMessageW(w, BM_CLICK, 0, 0);
    } else if (lstrcmpiW(cls.c_str(), L"Static") == 0) {
        if (!(GetWindowLongW(w, GWL_STYLE) & SS_NOTIFY)) return Fail("label without SS_NOTIFY");
        PostMessageW(g_main, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(w));
    } else {
        return Fail("cannot click a " + Utf8(cls));
    }
    Answer("{\"ok\":true}");
}

void CmdWaitText(int id, const std::string& wanted, DWORD timeoutMs)
{
    std::wstring want = Wide(wanted);
    DWORD start = GetTickCount();
    std::wstring text;
    for (;;) {
        if (!MainAlive()) return Fail("gone");
        HWND w = Child(id);
        if (!w) return Fail("no control " + std::to_string(id));
        if (TextOf(w, text) && text.find(want) != std::wstring::npos) {
            Answer("{\"ok\":true,\"text\":" + Quote(text) + "}");
            return;
        }
        if (GetTickCount() - start >= timeoutMs) {
            Answer("{\"ok\":false,\"error\":\"timeout\",\"text\":" + Quote(text) + "}");
            return;
        }
        Sleep(50);
    }
}

void CmdWaitVisible(int id, bool visible, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!MainAlive()) return Fail("gone");
        HWND w = Child(id);
        if (!w) return Fail("no control " + std::to_string(id));
        if ((IsWindowVisible(w) != FALSE) == visible) return Answer("{\"ok\":true}");
        if (GetTickCount() - start >= timeoutMs) return Fail("timeout");
        Sleep(50);
    }
}

void CmdMsgBox(DWORD timeoutMs)
{
    if (!g_pid) return Fail("no main window seen yet");
    HWND dlg = WaitDialog(timeoutMs);
    if (!dlg) return Fail("none");
    Answer(DialogFacts(dlg));
}

void CmdPress(const std::string& which)
{
    if (!g_pid) return Fail("no main window seen yet");
    HWND dlg = WaitDialog(2000);
    if (!dlg) return Fail("none");
    HWND button = FindButton(dlg, which);
    if (!button) return Fail("no such button");
    int id = GetDlgCtrlID(button);
    PostMessageW(button, BM_CLICK, 0, 0);
    Answer("{\"ok\":true,\"id\":" + Num(id) + "}");
}

void CmdMoveBox(int x, int y)
{
    if (!g_pid) return Fail("no main window seen yet");
    HWND dlg = WaitDialog(2000);
    if (!dlg) return Fail("none");
    if (!SetWindowPos(dlg, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
        return Fail("SetWindowPos failed");
    Answer("{\"ok\":true}");
}

void CmdWindows()
{
    if (!g_pid) return Fail("no main window seen yet");
    DialogSearch search{{}, false};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    std::string list = "[";
    for (size_t i = 0; i < search.found.size(); ++i) {
        HWND w = search.found[i];
        std::wstring title;
        TextOf(w, title);
        list += std::string(i ? "," : "") + "{\"hwnd\":" + Num(reinterpret_cast<DWORD_PTR>(w)) +
                ",\"class\":" + Quote(ClassOf(w)) + ",\"title\":" + Quote(title) +
                ",\"visible\":" + Bool(IsWindowVisible(w) != FALSE) + "}";
    }
    Answer("{\"ok\":true,\"windows\":" + list + "]}");
}

void CmdWow64()
{
    if (!g_pid) return Fail("no main window seen yet");
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, g_pid);
    if (!process) return Fail("OpenProcess failed: " + std::to_string(GetLastError()));
    BOOL target = FALSE, self = FALSE;
    BOOL ok = IsWow64Process(process, &target);
    CloseHandle(process);
    IsWow64Process(GetCurrentProcess(), &self);
    if (!ok) return Fail("IsWow64Process failed");
    Answer("{\"ok\":true,\"wow64\":" + Bool(target != FALSE) + ",\"self_wow64\":" + Bool(self != FALSE) +
           ",\"self_bits\":" + Num(sizeof(void*) * 8) + "}");
}

void CmdGdi()
{
    HDC memory = CreateCompatibleDC(nullptr);
    if (memory) DeleteDC(memory);
    Answer("{\"ok\":true,\"system_dpi\":" + Num(SystemDpi()) + ",\"memory_dc\":" + Bool(memory != nullptr) +
           ",\"self_bits\":" + Num(sizeof(void*) * 8) + "}");
}

// ------------------------------------------------------------ the loop

// Splits off the first blank-separated word of `rest`.
std::string Word(std::string& rest)
{
    size_t start = rest.find_first_not_of(' ');
    if (start == std::string::npos) {
        rest.clear();
        return {};
    }
    size_t end = rest.find(' ', start);
    std::string word = rest.substr(start, end == std::string::npos ? std::string::npos : end - start);
    rest = end == std::string::npos ? std::string() : rest.substr(end + 1);
    return word;
}

bool ToInt(const std::string& s, long long& value)
{
    if (s.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(s.c_str(), &end, 10);
    return end && *end == '\0';
}

// Runs one command; false ends the driver.
bool Dispatch(std::string line)
{
    std::string cmd = Word(line);
    long long a = 0, b = 0, c = 0;
    if (cmd.empty()) return true;
    if (cmd == "quit") {
        Answer("{\"ok\":true}");
        return false;
    }
    if (cmd == "ping") Answer("{\"ok\":true}");
    else if (cmd == "alive") Answer(std::string("{\"ok\":true,\"alive\":") + Bool(MainAlive()) + "}");
    else if (cmd == "wait_window" && ToInt(Word(line), a)) CmdWaitWindow(static_cast<DWORD>(a));
    else if (cmd == "texts") CmdTexts();
    else if (cmd == "settext" && ToInt(Word(line), a)) CmdSetText(static_cast<int>(a), line);
    else if (cmd == "select" && ToInt(Word(line), a) && ToInt(Word(line), b))
        CmdSelect(static_cast<int>(a), static_cast<int>(b));
    else if (cmd == "click" && ToInt(Word(line), a)) CmdClick(static_cast<int>(a));
    else if (cmd == "wait_text" && ToInt(Word(line), a)) {
        // The text may hold blanks: the time limit is the last word.
        size_t cut = line.find_last_of(' ');
        if (cut == std::string::npos || !ToInt(line.substr(cut + 1), c)) return Fail("usage"), true;
        CmdWaitText(static_cast<int>(a), line.substr(0, cut), static_cast<DWORD>(c));
    } else if (cmd == "wait_visible" && ToInt(Word(line), a) && ToInt(Word(line), b) && ToInt(Word(line), c))
        CmdWaitVisible(static_cast<int>(a), b != 0, static_cast<DWORD>(c));
    else if (cmd == "msgbox" && ToInt(Word(line), a)) CmdMsgBox(static_cast<DWORD>(a));
    else if (cmd == "movebox" && ToInt(Word(line), a) && ToInt(Word(line), b)) CmdMoveBox(static_cast<int>(a), static_cast<int>(b));
    else if (cmd == "press") CmdPress(line);
    else if (cmd == "windows") CmdWindows();
    else if (cmd == "wow64") CmdWow64();
    else if (cmd == "gdi") CmdGdi();
    else Fail("unknown or malformed command: " + cmd);
    return true;
}

}  // namespace

int wmain()
{
    // Coordinates in real pixels whatever the system DPI.
    SetProcessDPIAware();
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char buf[4096];
    for (;;) {
        size_t nl;
        while ((nl = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!Dispatch(line)) return 0;
        }
        DWORD got = 0;
        if (!ReadFile(in, buf, sizeof buf, &got, nullptr) || got == 0) return 0;
        pending.append(buf, got);
    }
}
