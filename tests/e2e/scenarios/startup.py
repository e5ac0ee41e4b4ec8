"""Start-up: the window, its layout and pictures, the elapsed counter, the
DPI scaling, Chinese glyphs, and the 32-bit build under WoW64."""

import time

from checks import (check_banner, check_bars, check_grey_dot, check_label3_colour, check_title_glyphs,
                    drawing_works, without_32bit_drawing)
from harness import log, px_rect
from layout import APP_TITLE, EDITIONS, PLACES, SETTINGS_PAGE, START_TEXTS, elapsed, place


def count_blue_ink(img, rect):
    """Pixels of RGB(16,141,220) text or its blend with the light background."""
    return sum(1 for r, g, b in img.crop(*rect).pixels() if b - r > 50 and b > 150)


def wait_settings_page(d, timeout=20):
    """Step 1 passes in a clean prefix and opens the settings page; a gate
    that fails shows its message instead, which is reported as such."""
    shown = d.wait_visible("Step2_Submit", True, timeout=timeout, check=False)
    if not shown["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no settings page after step 1: %s" % (box.get("text") if box["ok"] else shown))


def scenario_startup(ctx):
    with ctx.scenario() as s:
        seen = s.launch()
        d = s.driver
        assert seen["caption"] == APP_TITLE, seen

        # Label3 counts the seconds: "1s" after the first tick, then on.
        label3 = d.texts().text("Label3")
        v0 = elapsed(label3)
        assert v0 is not None and v0 <= 2, "Label3 at start shows %r" % label3
        if v0 == 0:
            d.wait_text("Label3", "1s", timeout=3)
        a = elapsed(d.texts().text("Label3"))
        time.sleep(3)
        b = elapsed(d.texts().text("Label3"))
        assert 2 <= b - a <= 4, "Label3 went from %ds to %ds in 3 s" % (a, b)

        t = d.texts()
        for name, text in START_TEXTS.items():
            assert t.text(name) == text and t.visible(name), t.control(name)

        # The gates pass in a clean prefix: the settings page replaces the
        # status lines, set to the defaults.
        wait_settings_page(d)
        img, t = s.window_image("settings-page")
        assert tuple(t["client"]) == (537, 339) and t["dpi"] == 96, (t["client"], t["dpi"])
        assert not t["topmost"]
        for name, text in SETTINGS_PAGE.items():
            assert t.text(name) == text and t.visible(name), t.control(name)
        combo = t.control("Step2_Version")
        assert combo["visible"] and combo["items"] == EDITIONS and combo["sel"] == 3, combo
        assert t.text("Step2_Path") == "C:\\Stackhold\\SQL Server", t.text("Step2_Path")
        for hidden in ("About1", "About2"):
            assert not t.visible(hidden), t.control(hidden)
        none = d.msgbox(timeout=0, check=False)
        assert not none["ok"], none

        check_banner(img, 96)
        check_bars(img, 96, started=2)
        check_grey_dot(img, 96)
        check_label3_colour(img, 96)
        check_title_glyphs(img, 96)
        # The small step labels are mostly anti-aliased edge: judge the hue.
        done = count_blue_ink(img, t.rect("Step1_Name"))
        assert done >= 10, "Step1_Name is not RGB(16,141,220) after step 1 (%d blue pixels)" % done
        todo = count_blue_ink(img, t.rect("Step3_Name"))
        assert todo == 0, "Step3_Name is coloured as finished (%d blue pixels)" % todo


def scenario_dpi(ctx):
    dpi = 144
    with ctx.scenario(dpi=dpi) as s:
        s.launch()
        d = s.driver
        wait_settings_page(d)
        img, t = s.window_image("dpi144")
        assert t["dpi"] == dpi and t["system_dpi"] == dpi, (t["dpi"], t["system_dpi"])
        # 8055 × 5085 twips at 144 dpi, rounded half up.
        assert tuple(t["client"]) == (806, 509), t["client"]
        for name in ("Label1", "Label3", "Step1_Name", "Step2_Path", "Step2_Submit"):
            want = px_rect(*PLACES.get(name, ()), dpi=dpi) if name in PLACES else None
            if want:
                got = t.rect(name)
                assert all(abs(g - w) <= 1 for g, w in zip(got, want)), (name, got, want)
        # Controls scale with the window: the install button is 1095 × 375 twips.
        l, top, r, b = t.rect("Step2_Submit")
        assert abs((r - l) - 110) <= 1 and abs((b - top) - 38) <= 1, t.rect("Step2_Submit")
        check_banner(img, dpi)
        check_bars(img, dpi, started=2)
        check_grey_dot(img, dpi)
        # Fonts are made for the DPI, not the 96-dpi glyphs blown up: the
        # title's glyphs reach about 21 px (10.5 pt at 144 dpi), well above
        # the 14 px they have at 96, with the shapes intact.
        check_title_glyphs(img, dpi)
        assert place("Label1", dpi)[3] <= t["client"][1]


@without_32bit_drawing
def scenario_wow64(ctx):
    """The shipped build is i686: under wine64 it runs in WoW64 mode (and
    gets through step 1 there where 32-bit drawing works); the x86_64 build
    runs natively."""
    with ctx.scenario() as s:
        s.launch()
        w = s.driver.wow64()  # at once: a 32-bit window may not live long here
        is32 = ctx.build.arch == "i686"
        assert w["wow64"] == is32, "%s build, IsWow64Process says %s" % (ctx.build.arch, w["wow64"])
        assert w["self_bits"] == (32 if is32 else 64), w
        if drawing_works(s.driver):
            wait_settings_page(s.driver)
        else:
            log("32-bit drawing does not work in this Wine: the settings page is not checked")
