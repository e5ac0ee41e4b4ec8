"""Step 3, the download, against a real service (nginx, HTTPS) and a package
host whose answers each scenario chooses (tests/harness/httpserver.py), with
our wget.exe doing the transfer: a fresh download watched through the
progress texts, a package already complete, a partial one continued, a
package of the wrong size, a service answer without a usable address, and
the close mark answered No and then Yes while the tool runs.

The package is the stand-in setup program padded to a few MiB (so that the
transfer lasts long enough to be watched) and then signed by the test
publisher, since the installer runs only a package signed by it. Scenarios
that reach step 4 keep the stand-in setup waiting there
(STACKHOLD_SETUP_SECONDS), so the package can be compared while it is still
in place; the prefix and everything in it go at the end of the scenario."""

import os
import pwd
import random
import re
import shutil
import subprocess
import time

from checks import (ADDRESS_FAILED, ASK_CLOSE, EDITION, IDNO, IDYES, INSTALLING, PACKAGE, PACKAGE_DIR,
                    PACKAGE_URI, PACKAGE_WRONG, check_bars, expect_message, expect_nothing_fetched, make_package, read,
                    submit_defaults)
from harness import Body, Delayed, File, HttpServer, Nginx, Process, ensure_pki, log, wait_until, wine_env
from layout import APP_TITLE

MiB = 1 << 20

STEP4_ABOUT2 = "版本：%s，安装目录：C:\\Stackhold\\SQL Server" % EDITION
# Step 3 ends in step 4 or in a message: any of these in About1 is past the transfer.
PAST_TRANSFER = ("文件下载完成", INSTALLING, "数据库安装结束", "正在检测结果")

PERCENT = re.compile(r"已下载 (-?\d+(?:\.\d+)?)%")
SPEED_LINE = re.compile(r"版本：(.+)，文件大小：(-?\d+)M，下载速度：(-?\d+(?:\.\d+)?)(K|M)/S")

HOLD_SETUP = {"STACKHOLD_SETUP_SECONDS": "60"}  # the stand-in setup waits; step 4 stays on screen


# ---------------------------------------------------------------- the outside world


class Rig:
    """nginx as the download-address service on localhost:47443 and a python
    package host on a free port; `route` answers the package's address (a
    harness answer or a function of the request)."""

    def __init__(self, s, route, answer=None):
        self.host = HttpServer({PACKAGE_URI: route})
        self.url = self.host.url(PACKAGE_URI)
        body = answer if answer is not None else "[%s]" % self.url
        try:
            self.service = Nginx(ensure_pki(), service_answers={"default": body},
                                 workdir=os.path.join(s.workdir, "nginx"))
        except BaseException:
            self.host.stop()
            raise

    def package_requests(self):
        return self.host.requests_for(PACKAGE_URI)

    def service_requests(self):
        return [r for r in self.service.requests() if r["uri"].startswith("/api/")]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.service.stop()
        self.host.stop()


def file_size(path):
    return os.path.getsize(path) if os.path.exists(path) else -1


# ---------------------------------------------------------------- the window


def expect_step4(s):
    """Step 3 handed over to step 4: its texts are up, no message is shown."""
    d = s.driver
    got = d.wait_text("About1", INSTALLING, timeout=30, check=False)
    if not got["ok"]:
        box = d.msgbox(timeout=0, check=False)
        raise AssertionError("step 4 not reached: About1 %r, message %r" % (got.get("text"), box.get("text")))
    t = d.texts()
    assert t.text("About2") == STEP4_ABOUT2, t.text("About2")
    return t


def watch_transfer(s, timeout):
    """Reads the status lines until the transfer is over; returns the
    (About1, About2) pairs seen, each change once, in order."""
    seen = []
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        t = s.driver.texts()
        pair = (t.text("About1"), t.text("About2"))
        if not seen or seen[-1] != pair:
            seen.append(pair)
        # Step 4 begun, a message up, or the program gone: the transfer is over.
        if pair[0].startswith(PAST_TRANSFER) or s.driver.msgbox(timeout=0, check=False)["ok"] or not s.running():
            log("status lines seen: %s" % " | ".join("%s / %s" % p for p in seen))
            return seen
        time.sleep(0.2)
    raise AssertionError("the transfer did not end within %d s; last texts %r" % (timeout, seen[-1:]))


def check_entry_lines(seen):
    """Where the step's entry texts were caught before the first tick, they
    name the edition chosen."""
    for a1, a2 in seen:
        if a1 == "正在下载文件":
            assert a2 == "数据库版本：" + EDITION, a2


def percents(seen):
    return [float(PERCENT.fullmatch(a1).group(1)) for a1, _ in seen if PERCENT.fullmatch(a1)]


def check_speed_lines(seen, size):
    """Every progress line of About2 (shown with a percentage) names the edition, the size in whole MiB
    and a speed in K/S (at most 1024) or M/S (above 1); returns the speeds in KB/s."""
    speeds = []
    for a1, a2 in seen:
        if not PERCENT.fullmatch(a1):
            continue  # before the first tick or after the transfer
        m = SPEED_LINE.fullmatch(a2)
        assert m, "About2 during the download: %r" % a2
        assert m.group(1) == EDITION, a2
        assert int(m.group(2)) == round(size / MiB), "size %sM for %d bytes" % (m.group(2), size)
        value = float(m.group(3))
        if m.group(4) == "K":
            assert value == int(value) and value <= 1024, a2
            speeds.append(value)
        else:
            assert value > 1, a2
            speeds.append(value * 1024)
    return speeds


# ---------------------------------------------------------------- scenarios


def scenario_download_fresh(ctx):
    """Nothing in the package folder: the tool fetches the package while the
    progress lines change once a second, then step 4 begins with it."""
    with ctx.scenario(env=HOLD_SETUP) as s:
        path, data = make_package(ctx.build, os.path.join(s.workdir, "pkg"), 5 * MiB + 300 * 1024, seed=1)
        with Rig(s, File(path, rate=720 * 1024)) as rig:
            s.launch()
            submit_defaults(s)
            d = s.driver
            d.wait_text("About1", "已下载", timeout=30)
            img, t = s.window_image("downloading")
            check_bars(img, t["dpi"], started=3)
            seen = watch_transfer(s, timeout=40)

            # The percentage went up in several steps, never down, and never
            # past the whole.
            values = percents(seen)
            assert len(set(values)) >= 3, "About1 during the download: %r" % [a for a, _ in seen]
            assert values == sorted(values) and 0 <= values[0] and values[-1] <= 100, values
            speeds = check_speed_lines(seen, len(data))
            check_entry_lines(seen)
            assert any(v > 0 for v in speeds), "no speed above 0 in %r" % [b for _, b in seen]

            expect_step4(s)
            assert read(s.c_path(PACKAGE)) == data, "the package on disk is not the one served"
            assert [r["uri"] for r in rig.service_requests()] == ["/api/sqlserver.asp?version=2012&x64=1"]
            asked = [(r.method, r.headers.get("Range")) for r in rig.package_requests()]
            assert asked == [("HEAD", None), ("GET", None)], asked


def scenario_download_complete(ctx):
    """A package of exactly the announced size is already there: the host is
    asked for the size only, no tool runs, step 4 begins with that file."""
    with ctx.scenario(env=HOLD_SETUP) as s:
        path, data = make_package(ctx.build, os.path.join(s.workdir, "pkg"), 2 * MiB, seed=2)
        os.makedirs(s.c_path(PACKAGE_DIR))
        with open(s.c_path(PACKAGE), "wb") as f:
            f.write(data)
        with Rig(s, File(path)) as rig:
            s.launch()
            submit_defaults(s)
            expect_step4(s)
            asked = [r.method for r in rig.package_requests()]
            assert asked == ["HEAD"], "the package host saw %s" % asked
            assert read(s.c_path(PACKAGE)) == data


def scenario_download_partial(ctx):
    """The first half of the package is left from an earlier run: the tool
    asks for the rest with a range and completes the same file."""
    with ctx.scenario(env=HOLD_SETUP) as s:
        path, data = make_package(ctx.build, os.path.join(s.workdir, "pkg"), 4 * MiB + 12345, seed=3)
        half = len(data) // 2
        os.makedirs(s.c_path(PACKAGE_DIR))
        with open(s.c_path(PACKAGE), "wb") as f:
            f.write(data[:half])
        with Rig(s, File(path, rate=1024 * 1024)) as rig:
            s.launch()
            submit_defaults(s)
            seen = watch_transfer(s, timeout=40)
            check_entry_lines(seen)
            check_speed_lines(seen, len(data))
            expect_step4(s)
            assert read(s.c_path(PACKAGE)) == data, "the continued package differs from the one served"
            asked = [(r.method, r.headers.get("Range")) for r in rig.package_requests()]
            assert asked == [("HEAD", None), ("GET", "bytes=%d-" % half)], asked
            # The file never fell back below the half it started from.
            values = percents(seen)
            assert all(v >= 50 for v in values), values


def expect_wrong_size(ctx, served, announced, stays, seed):
    """The host announces another size than the package has: the whole
    file arrives, its size differs, the message ends the program, setup
    never runs. A shorter file stays for the next run to continue; a longer
    one can never be completed and is removed."""
    with ctx.scenario(env=HOLD_SETUP) as s:
        path, data = make_package(ctx.build, os.path.join(s.workdir, "pkg"), served, seed=seed)
        head = Body(bytes(announced))  # a HEAD answer carries only the length

        def route(req):
            return head if req.method == "HEAD" else File(path)

        with Rig(s, route) as rig:
            s.launch()
            submit_defaults(s)
            expect_message(s, PACKAGE_WRONG)
            assert [r.method for r in rig.package_requests()] == ["HEAD", "GET"]
        if stays:
            assert read(s.c_path(PACKAGE)) == data, "the shorter package was not left as it arrived"
        else:
            assert not os.path.exists(s.c_path(PACKAGE)), "the package larger than announced was left"
        assert not os.path.exists(s.c_path("C:\\stackhold-record\\setup.txt")), "setup ran"


def scenario_download_wrong_size(ctx):
    """Fewer bytes announced than the package has: the longer file goes."""
    expect_wrong_size(ctx, MiB + 5000, MiB + 5000 - 4096, stays=False, seed=4)


def scenario_download_short_of_announced(ctx):
    """More bytes announced than the host serves: the shorter file stays."""
    expect_wrong_size(ctx, MiB + 5000, MiB + 5000 + 4096, stays=True, seed=5)


def expect_address_refused(ctx, answer):
    """The service's answer gives no usable address: the message, the end,
    and nothing fetched (the package folder, made safe before the address
    was asked for, stays empty)."""
    with ctx.scenario() as s, Rig(s, Body(b"never asked"), answer=answer) as rig:
        s.launch()
        submit_defaults(s)
        expect_message(s, ADDRESS_FAILED)
        assert len(rig.service_requests()) == 1, rig.service_requests()
        assert rig.package_requests() == [], rig.package_requests()
        expect_nothing_fetched(s, repr(answer))


def scenario_download_no_address(ctx):
    """An error page in the service's code page, with an address but no brackets."""
    expect_address_refused(ctx, "<html><body>服务暂停，请稍后 http://127.0.0.1/x/SQLEXPR_x64_CHS.exe</body></html>")


def scenario_download_address_without_colon(ctx):
    """Brackets around a text that cannot be an address (no ":")."""
    expect_address_refused(ctx, "[SQLEXPR_x64_CHS.exe]")


def start_foreign_wget(ctx, s):
    """A program named wget.exe in C:\\Others of the scenario's prefix that
    only waits (the command runner's test child, renamed), started beside
    the installer."""
    child = ctx.build.fixture("childprog.exe")
    ctx.build.require(child)
    folder = s.c_path("C:\\Others")
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "wget.exe")
    shutil.copy2(child, exe)
    env = wine_env(s.prefix, s.xvfb.display, s.lang, s.env)
    return Process(["wine", "C:\\Others\\wget.exe", "--sleep", "120000"], name="foreign wget.exe",
                   env=env, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def runs_from(pid, folder):
    """True when the Linux process `pid` runs a Windows program from a folder
    of that name (Wine shows the program's Windows path as its command)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            args = f.read().split(b"\0")
    except OSError:
        return False
    return any(("\\" + folder + "\\").lower().encode() in a.lower() for a in args[:2])


def scenario_close_download(ctx):
    """The close mark while the tool downloads: No lets the download go on,
    Yes stops the tool, removes the partial package and ends the program; a
    wget.exe of another folder running beside it is left alone."""
    with ctx.scenario() as s:
        path, data = make_package(ctx.build, os.path.join(s.workdir, "pkg"), 8 * MiB, seed=5)
        package = s.c_path(PACKAGE)
        with Rig(s, File(path, rate=320 * 1024)):
            s.launch()
            submit_defaults(s)
            d = s.driver
            wait_until(lambda: file_size(package) > 0, 30, what="the first bytes of the package on disk")
            d.wait_text("About1", "已下载", timeout=5)
            assert s.wine_pids("wget.exe"), "no wget.exe in the prefix during the download"

            d.click("Label_Close")
            box = d.msgbox(timeout=10)
            assert box["title"] == APP_TITLE and box["text"] == ASK_CLOSE, box
            assert sorted(b["id"] for b in box["buttons"]) == [IDYES, IDNO], box["buttons"]
            d.press("no")

            # The download goes on: the file grows and the percentage moves.
            before_size = file_size(package)
            before_text = d.texts().text("About1")
            wait_until(lambda: file_size(package) > before_size, 15, what="the package to grow after No")
            wait_until(lambda: d.texts().text("About1") != before_text, 5,
                       what="About1 to change after No (it shows %r)" % before_text)
            assert PERCENT.fullmatch(d.texts().text("About1")), d.texts().text("About1")
            assert s.running() and s.wine_pids("wget.exe"), "the download stopped after No"
            assert file_size(package) < len(data), "the download ended before the second close"

            # Someone else's wget.exe, from another folder, runs beside ours.
            foreign = start_foreign_wget(ctx, s)
            wait_until(lambda: len(s.wine_pids("wget.exe")) == 2, 15, what="the second wget.exe to run")
            ours = set(s.wine_pids("wget.exe")) - {p for p in s.wine_pids("wget.exe") if runs_from(p, "Others")}
            assert len(ours) == 1, "cannot tell our wget.exe from the other one"

            d.click("Label_Close")
            box = d.msgbox(timeout=10)
            assert box["text"] == ASK_CLOSE, box
            d.press("yes")
            assert s.wait_exit(15) is not None, "the program runs on after Yes"
            assert not os.path.exists(package), "the partial package was left (%d bytes)" % file_size(package)
            wait_until(lambda: not ours & set(s.wine_pids("wget.exe")), 5, what="our wget.exe to end")
            # Only our own tool was stopped: the other folder's wget.exe lives on.
            assert foreign.alive(), "the other folder's wget.exe was stopped too"
            left = s.wine_pids("wget.exe")
            assert len(left) == 1 and runs_from(left[0], "Others"), left
            foreign.stop()
            # Nothing comes back: the tool really stopped writing.
            time.sleep(1.5)
            assert not os.path.exists(package), "the package came back after the end"


def scenario_download_oversized(ctx):
    """The host announces 3 MiB to HEAD, and its GET sends 24 MiB: our tool
    is stopped near the announced size (the progress monitor sees the file
    grow past it), the run ends with the package message, and no file is
    left behind."""
    announced, served, rate = 3 * MiB, 24 * MiB, MiB
    with ctx.scenario(env=HOLD_SETUP) as s:
        data = random.Random(6).randbytes(served)
        head = Body(bytes(announced))  # a HEAD answer carries only the length

        def route(req):
            return head if req.method == "HEAD" else Body(data, rate=rate)

        package = s.c_path(PACKAGE)
        with Rig(s, route) as rig:
            s.launch()
            submit_defaults(s)
            # The largest the file grew, as seen from outside every tenth of a second.
            largest, started = -1, time.monotonic()
            while time.monotonic() - started < 40:
                largest = max(largest, file_size(package))
                if s.driver.msgbox(timeout=0, check=False)["ok"] or not s.running():
                    break
                time.sleep(0.1)
            log("the package grew to %d bytes at most (%d announced, %d served at %d bytes/s)"
                % (largest, announced, served, rate))
            expect_message(s, PACKAGE_WRONG)
            assert [r.method for r in rig.package_requests()] == ["HEAD", "GET"], rig.package_requests()
        # Stopped within a few ticks of the monitor, far from the 24 MiB sent.
        assert announced < largest <= announced + 4 * MiB, "the package grew to %d bytes" % largest
        assert not os.path.exists(package), "the oversized package was left (%d bytes)" % file_size(package)
        assert not s.wine_pids("wget.exe"), "wget.exe still runs"
        assert not os.path.exists(s.c_path("C:\\stackhold-record\\setup.txt")), "setup ran"


def scenario_close_during_size_request(ctx):
    """A package folder left by an earlier run, owned by another account
    (chown nobody) and holding a file named like the package: the close mark
    clicked while the size request waits deletes nothing of it. The folder
    was moved aside before the address was asked for, and the close mark
    deletes only inside the fresh folder the installer holds."""
    with ctx.scenario() as s:
        folder = s.c_path(PACKAGE_DIR)
        os.makedirs(folder)
        planted = b"MZ a file of another account"
        with open(os.path.join(folder, "SQLEXPR_x64_CHS.exe"), "wb") as f:
            f.write(planted)
        nobody = pwd.getpwnam("nobody")
        os.chown(os.path.join(folder, "SQLEXPR_x64_CHS.exe"), nobody.pw_uid, nobody.pw_gid)
        os.chown(folder, nobody.pw_uid, nobody.pw_gid)

        def route(req):
            return Delayed(30, Body(b"MZ never sent")) if req.method == "HEAD" else Body(b"MZ never asked")

        with Rig(s, route) as rig:
            s.launch()
            submit_defaults(s)
            wait_until(lambda: [r.method for r in rig.package_requests()] == ["HEAD"], 30,
                       what="the size request to wait at the package host")
            d = s.driver
            d.click("Label_Close")
            box = d.msgbox(timeout=10)
            assert box["text"] == ASK_CLOSE, box
            d.press("yes")
            assert s.wait_exit(15) is not None, "the program runs on after Yes"
            assert [r.method for r in rig.package_requests()] == ["HEAD"], rig.package_requests()
        parent = os.path.dirname(folder)
        aside = [n for n in os.listdir(parent) if n.startswith("packages.untrusted-")]
        assert len(aside) == 1, os.listdir(parent)
        kept = os.path.join(parent, aside[0], "SQLEXPR_x64_CHS.exe")
        assert read(kept) == planted, "the other account's file was changed or deleted"
        # The fresh folder, ours, holds nothing: nothing was fetched into it.
        assert os.path.isdir(folder) and os.listdir(folder) == [], os.listdir(folder)
