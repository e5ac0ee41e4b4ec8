"""Steps 4 and 5 as they end, and what a later run makes of it.

- a setup that fails, or one that never registers the MSSQLSERVER service:
  the failure texts (About1 in red), the message box, the program's end, the
  package kept and no notes file; DISM was given its line through fx35.bat,
  which is gone afterwards, also when DISM fails;
- the close mark on the settings page (question; No keeps the page, Yes
  ends) and while setup runs (refused, twice, and the installation goes on);
- a second run in the same program folder: after a failed setup it reuses
  the package (only its size is asked), after a download stopped from outside
  it continues the partial file;
- packages whose signature is missing, by another publisher, or broken by a
  change after signing: refused before setup, and deleted.
"""

import os
import random
import shutil

from checks import check_bars
from harness import File, HttpServer, InstallRig, Nginx, ensure_pki, log, wait_until
from layout import APP_TITLE, STEP_DONE, place

PACKAGE_DIR = "C:\\Stackhold\\packages"
PACKAGE = PACKAGE_DIR + "\\SQLEXPR_x64_CHS.exe"
PACKAGE_KEY = ("2012", "1")  # the edition the settings page opens on
PACKAGE_URI = "/2012/SQLEXPR_x64_CHS.exe"
BATCH = "C:\\Stackhold\\fx35.bat"
NOTES = "SQL Server安装说明.txt"
MiB = 1 << 20

INSTALLING = "正在安装数据库"
SUCCESS = "数据库安装成功！"
FAILED = "数据库安装失败"
FAILED_LINE = "非常抱歉，数据库安装失败，请重试"
FAILED_BOX = "非常抱歉，数据库安装失败，请重试！"
PACKAGE_WRONG = "非常抱歉，安装包错误，请重新下载。"
ASK_CLOSE = "确定结束安装吗？"
NO_CLOSE = "数据库正在安装，无法结束。"

DISM_61 = ("c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET /FeatureName:NetFx3"
           " /FeatureName:IIS-NetFxExtensibility /FeatureName:IIS-ApplicationDevelopment")
DISM_LATER = ("c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET"
              " /FeatureName:NetFx3 /FeatureName:NetFx3ServerFeatures /FeatureName:IIS-NetFxExtensibility"
              " /FeatureName:IIS-ApplicationDevelopment")

IDOK, IDYES, IDNO = 1, 6, 7
RED = (255, 0, 0)


# ---------------------------------------------------------------- helpers


def record(s, name):
    """Lines of a stand-in's record file, or None when it never ran."""
    path = s.c_path("C:\\stackhold-record\\" + name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return [line for line in f.read().decode("utf-8").split("\r\n") if line]


def size_of(s, windows_path):
    path = s.c_path(windows_path)
    return os.path.getsize(path) if os.path.exists(path) else -1


def notes_exist(s):
    return os.path.exists(os.path.join(s.desktop(), NOTES))


def submit_defaults(s):
    """Step 1 passes and the settings page opens; its defaults are submitted."""
    d = s.driver
    shown = d.wait_visible("Step2_Submit", True, timeout=30, check=False)
    if not shown["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no settings page: %s" % (box.get("text") if box["ok"] else shown))
    d.click("Step2_Submit")


def expect_box(s, text, timeout=45):
    """The installer's OK-only message box with `text`, titled with the
    program's name; returns it unanswered."""
    d = s.driver
    box = d.msgbox(timeout=timeout, check=False)
    if not box["ok"]:
        raise AssertionError("no message box within %d s; About1 is %r" % (timeout, d.texts().text("About1")))
    assert box["text"] == text, "message %r, expected %r" % (box["text"], text)
    assert box["title"] == APP_TITLE, box
    assert [b["id"] for b in box["buttons"]] == [IDOK], box["buttons"]
    return box


def press_ok_and_expect_end(s):
    s.driver.press("ok")
    code = s.wait_exit(10)
    assert code is not None, "the program runs on after its failure message"
    return code


def expect_success(s, timeout=60):
    d = s.driver
    done = d.wait_text("About1", SUCCESS, timeout=timeout, check=False)
    if not done["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("no success: About1 %r, message %r" % (done.get("text"), box.get("text")))


def close_at_step5(s):
    """After a verified installation the close mark ends the program."""
    s.driver.click("Label_Close")
    assert s.wait_exit(10) is not None, "still running after Label_Close in step 5"


def launch_again(s):
    """A second run of the installer in the same prefix and program folder,
    after the first one has ended."""
    assert not s.running(), "the first run is still going"
    s.driver.quit()
    s.driver = None
    s.installer.stop()
    return s.launch()


def red_ink(img, rect):
    """Pixels of RGB(255,0,0) text in `rect` (the rounded box behind About1
    is white: blended edge pixels keep red high and green equal to blue)."""
    return sum(1 for r, g, b in img.crop(*rect).pixels() if r >= 200 and g <= 90 and b <= 90)


def blue_ink(img, rect):
    """Pixels of RGB(16,141,220) text or its blend with the light background."""
    return sum(1 for r, g, b in img.crop(*rect).pixels() if b - r > 50 and b > 150)


# ---------------------------------------------------------------- step 5 fails


def check_dism(s, line):
    """DISM ran once, with `line` as its whole command line, as the system's
    own DISM (a 32-bit installer switches the file-system redirection off,
    so the 64-bit system folder's program runs); fx35.bat is gone."""
    dism = record(s, "dism.txt")
    assert dism is not None, "DISM never ran"
    assert len(dism) == 1, dism
    fields = dism[0].split("\t")
    assert fields[0] == line, "DISM was given %r, expected %r" % (fields[0], line)
    assert fields[2:] == ["64", "system32"], "the DISM that ran: %r" % fields[1:]
    assert not os.path.exists(s.c_path(BATCH)), "fx35.bat is left in the program folder"


def fail_in_step5(ctx, env, windows_version=None, setup_result=None):
    """One run whose verification fails: the window's failure texts, About1
    in red, the message, the end; the package stays, no notes file."""
    with ctx.scenario(env=env, windows_version=windows_version) as s, \
            InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        # A batch file left by an earlier run is replaced, not added to: its
        # line would reach DISM first.
        with open(s.c_path(BATCH), "wb") as f:
            f.write(b"c:\\windows\\system32\\dism.exe /Left-Over\r\n")
        s.launch()
        submit_defaults(s)
        expect_box(s, FAILED_BOX)

        t = s.driver.texts()
        assert t.text("About1") == FAILED, t.control("About1")
        assert t.text("About2") == FAILED_LINE, t.control("About2")
        img, t = s.window_image("failed", t)
        dpi = t["dpi"]
        about1 = t.rect("About1")
        red = red_ink(img, about1)
        assert red >= 30, "About1 is not drawn in RGB(255,0,0): %d red pixels" % red
        check_bars(img, dpi, started=4)
        dot = img.crop(*place("Step5_Img", dpi))
        assert dot.count((34, 157, 235), 16) >= 4, "the step-5 dot is not blue"
        assert blue_ink(img, t.rect("Step5_Name")) == 0, "Step5_Name is coloured as finished after a failure"
        assert blue_ink(img, t.rect("Step4_Name")) >= 10, "Step4_Name is not coloured as finished"

        code = press_ok_and_expect_end(s)
        assert code != 0, "a failed installation ends with exit status 0"

        setup = record(s, "setup.txt")
        assert setup is not None, "setup never ran"
        if setup_result:
            assert setup[-1] == "result: " + setup_result, setup[-1]
        want = os.path.getsize(rig.package_path(PACKAGE_KEY))
        assert size_of(s, PACKAGE) == want, "the package is not kept whole after a failed installation"
        assert not notes_exist(s), "a notes file was written after a failed installation"
        check_dism(s, DISM_LATER if windows_version == "win10" else DISM_61)



def scenario_finish_setup_fails(ctx):
    fail_in_step5(ctx, {"STACKHOLD_SETUP_MODE": "fail", "STACKHOLD_SETUP_SECONDS": "0.5"},
                  setup_result="failed: STACKHOLD_SETUP_MODE=fail")


def scenario_finish_no_service(ctx):
    """Setup that never registers the service, on Windows 10 (DISM gets the
    line with NetFx3ServerFeatures) and a DISM that fails: the same failure."""
    fail_in_step5(ctx, {"STACKHOLD_SETUP_MODE": "noservice", "STACKHOLD_SETUP_SECONDS": "0.5",
                        "STACKHOLD_DISM_EXIT": "5"},
                  windows_version="win10", setup_result="installed without the service")


# ---------------------------------------------------------------- the close mark


def scenario_close_step2(ctx):
    """On the settings page the close mark asks first: No keeps the page as
    it was, Yes ends the program (nothing was fetched or created)."""
    with ctx.scenario() as s:
        s.launch()
        d = s.driver
        d.wait_visible("Step2_Submit", True, timeout=30)
        d.settext("Step2_Path", "C:\\Elsewhere\\SQL Server")
        d.select("Step2_Version", 1)
        before = d.texts()

        d.click("Label_Close")
        box = d.msgbox(timeout=10)
        assert box["title"] == APP_TITLE and box["text"] == ASK_CLOSE, box
        assert sorted(b["id"] for b in box["buttons"]) == [IDYES, IDNO], box["buttons"]
        d.press("no")
        wait_until(lambda: not d.msgbox(timeout=0, check=False)["ok"], 10, what="the question to close")
        assert s.running(), "No ended the program"
        after = d.texts()
        for name in ("Step2_Version", "Step2_Path", "Step2_Submit", "Step2_Select"):
            assert after.control(name)["visible"], "%s hidden after No" % name
        assert after.text("Step2_Path") == before.text("Step2_Path") == "C:\\Elsewhere\\SQL Server"
        assert after.control("Step2_Version")["sel"] == before.control("Step2_Version")["sel"] == 1
        assert not after.visible("About1"), "the status line came back after No"

        d.click("Label_Close")
        box = d.msgbox(timeout=10)
        assert box["text"] == ASK_CLOSE, box
        d.press("yes")
        assert s.wait_exit(10) is not None, "Yes did not end the program"
        assert not os.path.exists(s.c_path(PACKAGE_DIR)), "the package folder was made before the choice"
        assert not os.path.exists(s.c_path("C:\\Elsewhere")), "the chosen folder was made without the choice"


def scenario_close_step4(ctx):
    """While setup runs, the close mark only says it cannot end the
    installation, each time it is clicked; setup is not disturbed and the
    installation completes."""
    with ctx.scenario(env={"STACKHOLD_SETUP_SECONDS": "8"}) as s, \
            InstallRig(ctx.build, os.path.join(s.workdir, "rig")):
        s.launch()
        submit_defaults(s)
        d = s.driver
        d.wait_text("About1", INSTALLING, timeout=45)
        # The stand-in writes its record when it starts and adds the result
        # when it ends: setup is running in between.
        wait_until(lambda: record(s, "setup.txt"), 20, what="setup to start")
        for attempt in (1, 2):
            d.click("Label_Close")
            expect_box(s, NO_CLOSE, timeout=10)
            d.press("ok")
            wait_until(lambda: not d.msgbox(timeout=0, check=False)["ok"], 10, what="the refusal to close")
            assert s.running(), "the program ended after refusal %d" % attempt
            assert d.texts().text("About1") == INSTALLING
            setup = record(s, "setup.txt")
            assert not any(l.startswith("result:") for l in setup), \
                "setup had ended before refusal %d: make it last longer (%r)" % (attempt, setup[-1])
        expect_success(s, timeout=40)
        assert record(s, "setup.txt")[-1] == "result: installed"
        close_at_step5(s)
