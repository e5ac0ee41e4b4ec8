"""What the scenarios share: checks on what the screen must show, the
program's messages and the helpers around its message boxes, and the signed
stand-in package."""

import os
import random

# Where Debian's wine32 cannot be installed, 32-bit programs run in wine64's
# experimental WoW64 mode (the i386 DLLs of libwine:i386 copied beside
# wine64), which runs them but not their drawing: the 32-bit gdi32 cannot use
# a device context (GetDeviceCaps answers 0, CreateCompatibleDC fails) and
# the EDIT control crashes in Uniscribe when its text is set. There the i686
# build runs only the scenarios marked with this decorator (run_scenario.py
# --list-for); with wine32 every scenario runs on both builds.


def without_32bit_drawing(fn):
    fn.without_32bit_drawing = True
    return fn


def drawing_works(driver):
    """Whether GDI works for programs of the driver's (= the build's)
    bitness: the driver's own screen DC reports a DPI and a memory DC can be
    made only then."""
    g = driver.gdi()
    return g["system_dpi"] > 0 and g["memory_dc"]

from harness import ensure_pki
from layout import (APP_TITLE, BANNER_BLUE, BAR_BLUE, BAR_GREY, LABEL3_COLOUR, inset, label1_glyphs, place)


def fraction_in(img, name, colour, dpi, tolerance=0, margin=1):
    return img.crop(*inset(place(name, dpi), margin)).fraction(colour, tolerance)


def check_banner(img, dpi):
    share = fraction_in(img, "Picture1", BANNER_BLUE, dpi, margin=0)
    # The logo and the title are white on it; the blue field is most of it.
    assert share >= 0.7, "banner blue covers %.0f%% of the header" % (share * 100)


def check_bars(img, dpi, started):
    """Bars 1..4 blue up to and including step `started`, grey after it."""
    for step in range(1, 5):
        name = "Step%d_Img" % step
        colour, word = (BAR_BLUE, "blue") if step <= started else (BAR_GREY, "grey")
        share = fraction_in(img, name, colour, dpi)
        assert share >= 0.9, "%s is not %s (%.0f%% of it)" % (name, word, share * 100)


def check_grey_dot(img, dpi):
    dot = img.crop(*place("Step5_Img", dpi))
    assert dot.count(BAR_BLUE, 16) == 0, "the step-5 dot is blue before step 5"
    assert dot.count(BAR_GREY, 8) >= dot.width * dot.height // 4, "no grey dot where step 5's is drawn"


def check_label3_colour(img, dpi):
    n = img.crop(*place("Label3", dpi)).count(LABEL3_COLOUR, 24)
    assert n >= 3, "no RGB(0,192,192) text in Label3 (%d pixels)" % n


def title_glyph_problem(img, dpi):
    """None when the title line "一键安装SQL Server数据库" is drawn with real
    glyphs, else why not. A missing glyph is drawn as the same box for every
    character; real glyphs differ, and the first one, "一", is a single
    horizontal stroke: a short run next to full-height ones."""
    glyphs = label1_glyphs(img, dpi)
    if len(glyphs) < 8:
        return "only %d ink runs in the title line" % len(glyphs)
    tallest = max(g["height"] for g in glyphs)
    first = glyphs[0]
    em = round(10.5 * dpi / 72)  # 10.5 pt in pixels
    if tallest < em * 0.7:
        return "title glyphs are %d px high, expected about %d" % (tallest, em)
    if first["height"] * 3 > tallest or first["width"] * 2 < tallest:
        return "the first character does not look like 一: %r (tallest %d)" % (first, tallest)
    return None


def check_title_glyphs(img, dpi):
    problem = title_glyph_problem(img, dpi)
    assert problem is None, problem


# ------------------------------------------------------------ the step chain

SUCCESS = "数据库安装成功！"


def submit_defaults(s):
    """Step 1 passes and the settings page opens; its defaults are submitted."""
    d = s.driver
    shown = d.wait_visible("Step2_Submit", True, timeout=30, check=False)
    if not shown["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no settings page: %s" % (box.get("text") if box["ok"] else shown))
    d.click("Step2_Submit")


def expect_success(s, timeout=60):
    """The run reaches the success text; otherwise says what it showed instead."""
    d = s.driver
    done = d.wait_text("About1", SUCCESS, timeout=timeout, check=False)
    if not done["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no success: About1 %r, message %r" % (done.get("text"), box.get("text")))


# ------------------------------------------------------------ the program's words

ADDRESS_FAILED = "非常抱歉，下载地址获取错误，请重试。"
PACKAGE_WRONG = "非常抱歉，安装包错误，请重新下载。"
FAILED_BOX = "非常抱歉，数据库安装失败，请重试！"  # the failure box's first line
ASK_CLOSE = "确定结束安装吗？"
DOWNLOADING = "正在下载文件"
INSTALLING = "正在安装数据库"
EDITION = "SQL Server 2012 Express (64位)"  # the edition the settings page opens on
NOTES = "SQL Server安装说明.txt"
PACKAGE_URI = "/2012/SQLEXPR_x64_CHS.exe"  # its package's path on the package host
PACKAGE_DIR = "C:\\Stackhold\\packages"
PACKAGE = PACKAGE_DIR + "\\SQLEXPR_x64_CHS.exe"
PACKAGE_KEY = ("2012", "1")  # the install rig's key of that edition's package
IDOK, IDYES, IDNO = 1, 6, 7


# ------------------------------------------------------------ message boxes


def expect_box(s, text, timeout=30, prefix=False):
    """The installer's OK-only message box with `text` (or, with `prefix`, a
    text that begins with it), titled with the program's name; returns it
    unanswered."""
    d = s.driver
    box = d.msgbox(timeout=timeout, check=False)
    if not box["ok"]:
        code = s.wait_exit(1)
        if code is not None:
            raise AssertionError("the program ended (exit %d) instead of showing %r" % (code, text))
        t = d.texts()
        raise AssertionError("no message box within %d s (expected %r); About1 %r, About2 %r" % (
            timeout, text, t.text("About1"), t.text("About2")))
    if prefix:
        assert box["text"].startswith(text), "message %r, expected it to begin with %r" % (box["text"], text)
    else:
        assert box["text"] == text, "message %r, expected %r" % (box["text"], text)
    assert box["title"] == APP_TITLE, box["title"]
    assert [b["id"] for b in box["buttons"]] == [IDOK], "buttons other than OK: %r" % box["buttons"]
    return box


def expect_message(s, text, timeout=30):
    """The installer shows `text` in an OK-only box titled with its name and
    ends, with a failure's exit status, when it is confirmed. Returns the
    window's texts as they stood under the box."""
    d = s.driver
    expect_box(s, text, timeout)
    under = d.texts()
    assert s.running(), "the installer ended before the message was confirmed"
    d.press("ok")
    code = s.wait_exit(10)
    assert code is not None, "the installer still runs after its message was confirmed"
    assert code != 0, "the installer ended with success (0) after a failure"
    return under


# ------------------------------------------------------------ the package


def read(path):
    with open(path, "rb") as f:
        return f.read()


def expect_nothing_fetched(s, what):
    """Nothing was fetched: the packages folder, made safe before the address
    is asked for, may be there, but empty."""
    folder = s.c_path(PACKAGE_DIR)
    assert not os.path.exists(folder) or os.listdir(folder) == [], \
        "%s: something was fetched: %s" % (what, os.listdir(folder))


def record(s, name):
    """Lines of a stand-in's record file, or None when it never ran."""
    path = s.c_path("C:\\stackhold-record\\" + name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return [line for line in f.read().decode("utf-8").split("\r\n") if line]


def make_package(build, folder, size, seed=5, name="package.exe"):
    """The stand-in setup padded with pseudo-random bytes to `size`, then
    signed by the test publisher (the signature covers the padding, so it
    must come last), as `name` in `folder`. The download tool writes to disk
    in blocks of 1 MiB, so a partial file needs a package of several.
    Returns (path, bytes)."""
    standin = build.fixture("setup_standin.exe")
    build.require(standin)
    program = read(standin)
    os.makedirs(folder, exist_ok=True)
    unsigned = os.path.join(folder, "package.unsigned.exe")
    with open(unsigned, "wb") as f:
        f.write(program + random.Random(seed).randbytes(max(0, size - len(program))))
    signed = os.path.join(folder, name)
    ensure_pki().sign(unsigned, signed, "codesign")
    os.remove(unsigned)
    return signed, read(signed)
