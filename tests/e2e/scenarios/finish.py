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
import shutil

from checks import (ASK_CLOSE, FAILED_BOX, IDNO, IDYES, INSTALLING, NOTES, PACKAGE, PACKAGE_DIR, PACKAGE_KEY,
                    PACKAGE_URI, PACKAGE_WRONG, check_bars, expect_box, expect_success, make_package, record,
                    submit_defaults)
from harness import File, HttpServer, InstallRig, Nginx, ensure_pki, wait_until
from harness.prefix import run_wine
from layout import APP_TITLE, BAR_BLUE, place

BATCH = "C:\\Stackhold\\fx35.bat"
MiB = 1 << 20

FAILED = "数据库安装失败"
FAILED_LINE = "非常抱歉，数据库安装失败，请重试"
NO_CLOSE = "数据库正在安装，无法结束。"
SITE_URL = "http://www.corvane.com/"  # the build's setting for the maker's site

DISM_61 = ("c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET /FeatureName:NetFx3"
           " /FeatureName:IIS-NetFxExtensibility /FeatureName:IIS-ApplicationDevelopment")
DISM_LATER = ("c:\\windows\\system32\\dism.exe  /Online /Enable-Feature /FeatureName:IIS-ASPNET"
              " /FeatureName:NetFx3 /FeatureName:NetFx3ServerFeatures /FeatureName:IIS-NetFxExtensibility"
              " /FeatureName:IIS-ApplicationDevelopment")



# ---------------------------------------------------------------- helpers


def size_of(s, windows_path):
    path = s.c_path(windows_path)
    return os.path.getsize(path) if os.path.exists(path) else -1


def notes_exist(s):
    return os.path.exists(os.path.join(s.desktop(), NOTES))


def press_ok_and_expect_end(s):
    s.driver.press("ok")
    code = s.wait_exit(10)
    assert code is not None, "the program runs on after its failure message"
    return code


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
    """Pixels of RGB(255,0,0) text in `rect`. About1 lies on the blue
    rounded box, and white (success) or black text has no such pixels; the
    glyphs' edges blend into purple and are not counted."""
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
        expect_box(s, FAILED_BOX + "\n\n", timeout=45, prefix=True)

        t = s.driver.texts()
        assert t.text("About1") == FAILED, t.control("About1")
        assert t.text("About2") == FAILED_LINE, t.control("About2")
        assert not t["topmost"], "the window was made topmost after a failed verification"
        # The box, with the failure's cause, covers the status line: move it
        # below the window before the picture is taken.
        ox, oy = t["client_origin"]
        s.driver.move_box(ox, oy + t["client"][1] + 40)
        img, t = s.window_image("failed", s.driver.texts())
        dpi = t["dpi"]
        about1 = t.rect("About1")
        red = red_ink(img, about1)
        assert red >= 30, "About1 is not drawn in RGB(255,0,0): %d red pixels" % red
        check_bars(img, dpi, started=4)
        dot = img.crop(*place("Step5_Img", dpi))
        assert dot.count(BAR_BLUE, 16) >= 4, "the step-5 dot is not blue"
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
        assert s.wait_exit(1) is None, "No ended the program"
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
            assert s.wait_exit(1) is None, "the program ended after refusal %d" % attempt
            assert d.texts().text("About1") == INSTALLING
            setup = record(s, "setup.txt")
            assert not any(l.startswith("result:") for l in setup), \
                "setup had ended before refusal %d: make it last longer (%r)" % (attempt, setup[-1])
        expect_success(s, timeout=40)
        assert record(s, "setup.txt")[-1] == "result: installed"
        close_at_step5(s)


def scenario_window_during_dism(ctx):
    """While DISM runs (the 32-bit build starts it with the file-system
    redirection off), a click on the banner link opens the site through the
    shell and a click on the close mark gets its refusal: the installer stays
    alive, the DISM that ran is still the 64-bit one, and the installation
    goes on to its end."""
    with ctx.scenario(env={"STACKHOLD_DISM_SECONDS": "12"}) as s, \
            InstallRig(ctx.build, os.path.join(s.workdir, "rig")):
        # The prefix's browser is a script that notes the address it is given.
        opened = os.path.join(s.workdir, "opened.txt")
        browser = os.path.join(s.workdir, "browser.sh")
        with open(browser, "w") as f:
            f.write("#!/bin/sh\nprintf '%%s\\n' \"$@\" >> '%s'\n" % opened)
        os.chmod(browser, 0o755)
        run_wine(s.prefix, ["reg", "add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers", "/t", "REG_SZ",
                            "/d", browser, "/f"], timeout=60)
        s.launch()
        submit_defaults(s)
        d = s.driver
        wait_until(lambda: record(s, "dism.txt"), 60, what="DISM to start")
        assert d.texts().text("About1") == INSTALLING

        d.click("Label2")
        wait_until(lambda: os.path.exists(opened), 20, what="the banner link to open the site")
        assert s.wait_exit(1) is None, "the program ended after the banner link"
        d.click("Label_Close")
        expect_box(s, NO_CLOSE, timeout=10)
        d.press("ok")
        wait_until(lambda: not d.msgbox(timeout=0, check=False)["ok"], 10, what="the refusal to close")
        assert s.wait_exit(1) is None, "the program ended after the refusal"
        assert record(s, "dism-end.txt") is None, "DISM had ended before the clicks: make it last longer"
        assert record(s, "setup.txt") is None, "setup started while DISM ran"

        expect_success(s, timeout=60)
        with open(opened) as f:
            assert f.read().split() == [SITE_URL], "the banner link opened something else"
        check_dism(s, DISM_61)
        close_at_step5(s)


# ---------------------------------------------------------------- a second run


def scenario_rerun_after_failure(ctx):
    """Run 1's setup fails and the package stays; run 2 in the same folder
    finds it complete (the package host is only asked its size) and
    installs from it."""
    env = {"STACKHOLD_SETUP_MODE": "fail", "STACKHOLD_SETUP_SECONDS": "0.5"}
    with ctx.scenario(env=env) as s, InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        s.launch()
        submit_defaults(s)
        expect_box(s, FAILED_BOX + "\n\n", timeout=45, prefix=True)
        press_ok_and_expect_end(s)
        whole = os.path.getsize(rig.package_path(PACKAGE_KEY))
        assert size_of(s, PACKAGE) == whole, "run 1 did not leave the whole package"
        first = rig.requests()
        assert [r["method"] for r in first] == ["GET", "HEAD", "GET"], first

        del s.env["STACKHOLD_SETUP_MODE"]
        launch_again(s)
        submit_defaults(s)
        expect_success(s)
        second = [(r["method"], r["uri"]) for r in rig.requests()[len(first):]]
        assert second == [("GET", "/api/sqlserver.asp?version=2012&x64=1"), ("HEAD", PACKAGE_URI)], \
            "run 2 asked %r" % second
        setup = record(s, "setup.txt")
        assert setup[0].startswith('commandline: "%s" /Q ' % PACKAGE), setup[0]
        assert setup[-1] == "result: installed", setup[-1]
        assert size_of(s, PACKAGE) == -1, "the package was not deleted after the verified installation"
        assert notes_exist(s), "no notes file after run 2"
        close_at_step5(s)


def scenario_rerun_partial_download(ctx):
    """Run 1's download is cut short by killing the download tool from
    outside: the size check fails and the partial file stays. Run 2 in the
    same folder continues it with a range request and installs; the package
    it ran passed the signature check, so the continued file is byte-exact."""
    with ctx.scenario(env={"STACKHOLD_SETUP_SECONDS": "0.5"}) as s:
        package, _ = make_package(ctx.build, os.path.join(s.workdir, "files"), 3 * MiB + 12345,
                                  name="SQLEXPR_x64_CHS.exe")
        whole = os.path.getsize(package)
        with HttpServer({PACKAGE_URI: File(package, rate=256 * 1024)}) as host, \
                Nginx(ensure_pki(), service_answers={"default": "[%s]" % host.url(PACKAGE_URI)},
                      workdir=os.path.join(s.workdir, "nginx")):
            s.launch()
            submit_defaults(s)
            wait_until(lambda: size_of(s, PACKAGE) >= MiB, 30, what="the first MiB on disk")
            assert s.kill_program("wget.exe") >= 1, "no wget.exe to stop"
            expect_box(s, PACKAGE_WRONG, timeout=45)
            press_ok_and_expect_end(s)
            partial = size_of(s, PACKAGE)
            assert 0 < partial < whole, "run 1 left %d of %d bytes" % (partial, whole)
            with open(package, "rb") as f, open(s.c_path(PACKAGE), "rb") as g:
                assert g.read() == f.read(partial), "the partial file is not the package's beginning"
            assert record(s, "setup.txt") is None, "setup ran on a partial package"
            first = len(host.requests)

            host.routes[PACKAGE_URI] = File(package)  # run 2 at full speed
            launch_again(s)
            submit_defaults(s)
            expect_success(s)
            second = [(r.method, r.headers.get("Range")) for r in host.requests[first:]]
            assert second == [("HEAD", None), ("GET", "bytes=%d-" % partial)], "run 2 asked %r" % second
            assert record(s, "setup.txt")[-1] == "result: installed"
            assert size_of(s, PACKAGE) == -1, "the package was not deleted after the verified installation"
            close_at_step5(s)


# ---------------------------------------------------------------- the package's signature


def unsigned(ctx, rig, path):
    shutil.copyfile(ctx.build.fixture("setup_standin.exe"), path)


def other_publisher(ctx, rig, path):
    pass  # the rig signs with the other publisher's certificate


def altered(ctx, rig, path):
    # One byte of the signed program's code changed, the size kept: the
    # size check passes, the signature's hash does not.
    with open(path, "r+b") as f:
        f.seek(0x1000)
        byte = f.read(1)
        f.seek(0x1000)
        f.write(bytes([byte[0] ^ 0xFF]))


# name: (signer of the rig, change to the served package, whether run 2 gets a good package)
SIGNATURE_CASES = {
    "unsigned": ("codesign", unsigned, False),
    "other_publisher": ("othersign", other_publisher, False),
    "altered": ("codesign", altered, True),
}


def refused_package(ctx, signer, spoil, then_repaired):
    """A package of the right size whose signature is missing, another
    publisher's, or broken: the message, the end, the package deleted, and
    neither DISM nor setup ran. With `then_repaired` the host then serves
    the good package: a second run fetches it whole (nothing of the refused
    one is reused) and installs."""
    with ctx.scenario(env={"STACKHOLD_SETUP_SECONDS": "0.5"}) as s, \
            InstallRig(ctx.build, os.path.join(s.workdir, "rig"), signer=signer) as rig:
        served = rig.package_path(PACKAGE_KEY)
        good = served + ".good"
        shutil.copyfile(served, good)
        spoil(ctx, rig, served)
        s.launch()
        submit_defaults(s)
        expect_box(s, PACKAGE_WRONG, timeout=45)
        assert s.driver.texts().text("About1") != "文件下载完成", "step 3 was marked done"
        press_ok_and_expect_end(s)
        assert [r["method"] for r in rig.requests()] == ["GET", "HEAD", "GET"], rig.requests()
        assert size_of(s, PACKAGE) == -1, "the refused package was not deleted"
        assert os.path.isdir(s.c_path(PACKAGE_DIR))
        assert record(s, "setup.txt") is None, "setup ran from a refused package"
        assert record(s, "dism.txt") is None, "step 4 began after a refused package"
        if not then_repaired:
            return
        first = len(rig.requests())
        os.replace(good, served)
        launch_again(s)
        submit_defaults(s)
        expect_success(s)
        second = [(r["method"], r["range"]) for r in rig.requests()[first:]]
        assert second == [("GET", None), ("HEAD", None), ("GET", None)], "run 2 asked %r" % second
        close_at_step5(s)


def _signature_scenario(name, case):
    def scenario(ctx):
        refused_package(ctx, *case)

    scenario.__name__ = "scenario_signature_" + name
    scenario.__doc__ = "The package is refused: %s." % name.replace("_", " ")
    return scenario


for _name, _case in SIGNATURE_CASES.items():
    globals()["scenario_signature_" + _name] = _signature_scenario(_name, _case)
