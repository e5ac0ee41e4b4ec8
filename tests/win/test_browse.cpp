// The folder chooser under Wine, operated from a second thread as a person
// would: it shows the title asked for, a cancel gives empty text, and a
// chosen folder comes back as its full path (drive roots and Chinese names
// included).
#include <doctest/doctest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "platform/text_win32.h"
#include "settings/browse.h"

namespace {

// As the program does before any window.
const bool kComReady = SUCCEEDED(::OleInitialize(nullptr));

constexpr char kTitle[] = "请选择文件夹";

struct Operator {
    std::wstring select;  // the folder to choose, or empty to cancel
    bool found = false;
    bool sawTitle = false;
};

BOOL CALLBACK LookForTitle(HWND child, LPARAM param)
{
    wchar_t text[256] = {};
    ::GetWindowTextW(child, text, 256);
    if (Utf8ToWide(kTitle) == text) reinterpret_cast<Operator*>(param)->sawTitle = true;
    return TRUE;
}

HWND FindChooser()
{
    for (HWND w = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = ::FindWindowExW(nullptr, w, L"#32770", nullptr)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(w, &pid);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(w)) return w;
    }
    return nullptr;
}

DWORD WINAPI Operate(void* param)
{
    auto* op = static_cast<Operator*>(param);
    HWND chooser = nullptr;
    for (int i = 0; i < 1000 && !chooser; ++i) {
        ::Sleep(10);
        chooser = FindChooser();
    }
    if (!chooser) return 0;
    op->found = true;
    ::Sleep(200);  // let it fill its folder tree
    ::EnumChildWindows(chooser, LookForTitle, reinterpret_cast<LPARAM>(op));
    if (op->select.empty()) {
        ::PostMessageW(chooser, WM_COMMAND, IDCANCEL, 0);
    } else {
        ::SendMessageW(chooser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(op->select.c_str()));
        ::PostMessageW(chooser, WM_COMMAND, IDOK, 0);
    }
    return 0;
}

std::string Choose(Operator& op)
{
    HANDLE thread = ::CreateThread(nullptr, 0, Operate, &op, 0, nullptr);
    REQUIRE(thread != nullptr);
    const std::string chosen = BrowseForFolder(kTitle);
    ::WaitForSingleObject(thread, 20000);
    ::CloseHandle(thread);
    return chosen;
}

bool SamePath(const std::string& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(Utf8ToWide(a).c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// A folder with a Chinese name at the root of drive C:, where the chooser's
// tree reaches it (one per test run; removed afterwards).
std::wstring ChineseFolder()
{
    std::wstring folder = L"C:\\浏览测试-" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

}  // namespace

TEST_CASE("the chooser shows the title; a cancel gives empty text")
{
    REQUIRE(kComReady);
    Operator op;
    CHECK(Choose(op).empty());
    CHECK(op.found);
    CHECK(op.sawTitle);
}

TEST_CASE("a chosen folder comes back as its full path")
{
    const std::wstring chinese = ChineseFolder();
    const std::wstring cases[] = {L"C:\\", L"C:\\windows", chinese};
    for (const std::wstring& folder : cases) {
        CAPTURE(WideToUtf8(folder));
        Operator op{folder};
        const std::string chosen = Choose(op);
        CAPTURE(chosen);
        REQUIRE(op.found);
        CHECK(SamePath(chosen, folder));
    }
    ::RemoveDirectoryW(chinese.c_str());
}
