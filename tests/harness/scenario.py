"""One run of Stackhold.exe under Xvfb and Wine, ready to be driven.

    with Scenario(build, "startup") as s:
        s.launch()                       # window up, driver attached
        t = s.driver.texts()
        img = s.window_image("start")    # screenshot saved, client area as Image
        code = s.wait_exit(10)           # the installer's end, None if it runs on

A scenario gets its own prefix (a clone of the build's end-to-end template,
see prefix.py), its own program directory in it (C:\\Stackhold by default,
holding Stackhold.exe and wget.exe), its own X display, and a work folder
<build>/e2e/runs/<name>/ with the logs. Screenshots go to <build>/screenshots/.
Everything is stopped at the end whatever happens; the prefix clone is
deleted unless keep=True.
"""

import os
import shutil
import time

from . import prefix as px
from .driver import Driver
from .screen import Image
from .util import HarnessError, Process, file_lock, forget, log, on_cleanup, run
from .xvfb import Xvfb

kTwipsPerInch = 1440


def px_of(twips, dpi=96):
    """Pixels of a length in twips, rounded half up as the window rounds."""
    return (twips * dpi + kTwipsPerInch // 2) // kTwipsPerInch


def px_rect(left, top, width, height, dpi=96):
    """(left, top, right, bottom) pixels of a place in twips."""
    l, t = px_of(left, dpi), px_of(top, dpi)
    return (l, t, px_of(left + width, dpi), px_of(top + height, dpi))


class ExistingDisplay:
    """An X display the harness did not start (and leaves running)."""

    def __init__(self, display):
        self.display = display

    def screenshot(self, path, timeout=30):
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        run(["import", "-display", self.display, "-window", "root", path], timeout=timeout)
        return path

    def stop(self):
        pass


class Scenario:
    """See the module note. Options:

    dpi          system DPI of the prefix (LogPixels) when not 96
    program_dir  Windows folder that gets Stackhold.exe and wget.exe (on C:,
                 or on a drive given in `drives`)
    drives       {"d:": Linux folder}: extra drive letters of the prefix
    with_wget    False leaves wget.exe out (the step-1 gate then fails)
    windows_version  "vista", "win7", "win10" ... for the prefix
    env          extra environment of the installer (and of what it starts)
    shared_prefix  run in the shared base prefix instead of a clone (only for
                   scenarios that change nothing; `wineserver -k` is then
                   not used, only the scenario's own processes are stopped)
    display      an X display to use (e.g. the operator's ":0") instead of a
                 private Xvfb
    """

    def __init__(self, build, name, dpi=None, program_dir="C:\\Stackhold", with_wget=True,
                 windows_version=None, env=None, shared_prefix=False, keep=False, lang="zh_CN.UTF-8",
                 display=None, screenshots=None, drives=None):
        self.build = build
        self.name = name
        self.dpi = dpi
        self.program_dir = program_dir
        self.with_wget = with_wget
        self.windows_version = windows_version
        self.drives = dict(drives or {})
        self.env = dict(env or {})
        self.shared_prefix = shared_prefix
        self.keep = keep
        self.lang = lang
        self.display = display
        self.workdir = os.path.join(build.artefact("e2e"), "runs", name)
        self.screenshots = screenshots or build.artefact("screenshots")
        self.prefix = None
        self.xvfb = None
        self.driver = None
        self.installer = None
        self._token = None
        self._lock = None
        self._shots = 0

    # -------------------------------------------------------------- set-up

    def __enter__(self):
        try:
            self.prepare()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def prepare(self):
        """Prefix, program directory and X display; nothing runs yet."""
        self._token = on_cleanup("scenario %s" % self.name, self.close)
        # Two runs of the same scenario in one build folder (two test runs
        # at once) would share the work folder and kill each other's prefix:
        # the second waits for the first.
        self._lock = file_lock(self.workdir + ".lock", timeout=90)
        self._lock.__enter__()
        old_prefix = os.path.join(self.workdir, "prefix")
        px.remove_prefix(old_prefix)  # left by an earlier run that was killed
        shutil.rmtree(self.workdir, ignore_errors=True)
        os.makedirs(self.workdir)
        started = time.monotonic()
        if self.shared_prefix:
            self.prefix = px.ensure_base_prefix()
        else:
            self.prefix = px.ensure_template(self.build, clone_to=old_prefix)
        if self.dpi and self.dpi != 96:
            px.set_logpixels(self.prefix, self.dpi)
        if self.windows_version:
            px.set_windows_version(self.prefix, self.windows_version)
        if self.drives and self.shared_prefix:
            raise HarnessError("extra drives need a prefix of the scenario's own")
        for letter, folder in self.drives.items():
            px.map_drive(self.prefix, letter, folder)
        self.program_path = px.unix_path(self.prefix, self.program_dir)
        os.makedirs(self.program_path, exist_ok=True)
        self.build.require(self.build.driver)
        if self.with_wget:
            self.build.require(self.build.wget)
            shutil.copy2(self.build.wget, os.path.join(self.program_path, "wget.exe"))
        self.xvfb = ExistingDisplay(self.display) if self.display else Xvfb()
        log("scenario %s: prefix %s ready in %.1f s, display %s" % (
            self.name, self.prefix, time.monotonic() - started, self.xvfb.display))

    def c_path(self, windows_path):
        """The Linux path of a C:\\ path (or one on a drive of `drives`) in
        the scenario's prefix."""
        return px.unix_path(self.prefix, windows_path)

    def desktop(self):
        """The Linux path of the Wine user's desktop folder in the prefix
        (the user is named after the Linux account running Wine)."""
        users = os.path.join(self.prefix, "drive_c", "users")
        for name in sorted(os.listdir(users)):
            path = os.path.join(users, name, "Desktop")
            if name != "Public" and os.path.isdir(path):
                return path
        raise HarnessError("no user desktop folder in %s" % users)

    # -------------------------------------------------------------- running

    def launch(self, window_timeout=40, program=None):
        """Copies the installer (or `program`, another Windows program) into
        the program directory and starts it and the driver; returns when the main
        window is visible (its facts as the driver saw them)."""
        program = program or self.build.stackhold
        self.build.require(program)
        exe = os.path.join(self.program_path, os.path.basename(program))
        shutil.copy2(program, exe)
        env = px.wine_env(self.prefix, self.xvfb.display, self.lang, self.env)
        self.installer = Process(["wine", exe], name=os.path.basename(exe), env=env, cwd=self.program_path,
                                 stdout=open(os.path.join(self.workdir, "stackhold.out"), "wb"),
                                 stderr=open(os.path.join(self.workdir, "stackhold.err"), "wb"))
        self.driver = Driver(self.build.driver, self.prefix, self.xvfb.display,
                             os.path.join(self.workdir, "driver.err"), self.env)
        try:
            return self.driver.wait_window(window_timeout)
        except HarnessError:
            code = self.installer.wait(0)
            if code is not None:
                raise HarnessError("Stackhold.exe ended (exit %d) before its window showed" % code) from None
            raise

    def running(self):
        return self.installer is not None and self.installer.alive()

    def wait_exit(self, timeout):
        """The installer's exit status, or None if it still runs after `timeout` s."""
        return self.installer.wait(timeout)

    def wine_pids(self, exe):
        """Linux ids of the processes of this scenario's prefix that run the
        Windows program `exe` (Wine shows its Windows path as the command;
        names match without regard to case, as Windows names images)."""
        prefix = os.path.realpath(self.prefix).encode()
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    env = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    args = f.read().split(b"\0")
            except OSError:
                continue
            if not any(e.startswith(b"WINEPREFIX=") and os.path.realpath(e[11:]) == prefix for e in env):
                continue
            names = [a.replace(b"\\", b"/").rsplit(b"/", 1)[-1].lower() for a in args[:2]]
            if exe.lower().encode() in names:
                found.append(int(pid))
        return found

    def kill_program(self, exe):
        """SIGKILLs, from the Linux side, every process of this scenario's
        prefix that runs `exe`; how many there were."""
        killed = 0
        for pid in self.wine_pids(exe):
            try:
                os.kill(pid, 9)
                killed += 1
            except ProcessLookupError:
                pass
        return killed

    # -------------------------------------------------------------- pictures

    def screenshot(self, label):
        """Saves the whole screen as <build>/screenshots/<scenario>-NN-<label>.png."""
        self._shots += 1
        path = os.path.join(self.screenshots, "%s-%02d-%s.png" % (self.name, self._shots, label))
        return self.xvfb.screenshot(path)

    def window_image(self, label, texts=None):
        """Screenshot now; returns (the client area as an Image, the texts
        read just before it)."""
        texts = texts or self.driver.texts()
        path = self.screenshot(label)
        ox, oy = texts["client_origin"]
        w, h = texts["client"]
        img = Image.load(path).crop(ox, oy, ox + w, oy + h)
        if (img.width, img.height) != (w, h):
            raise HarnessError("the window (%d×%d at %d,%d) is not wholly on the screen" % (w, h, ox, oy))
        return img, texts

    # -------------------------------------------------------------- the end

    def close(self):
        if self._token is not None:
            forget(self._token)
            self._token = None
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception as e:
                log("driver quit: %s" % e)
            self.driver = None
        if self.installer is not None:
            self.installer.stop()
        if self.prefix and not self.shared_prefix:
            # Whatever the installer started (wget, setup, DISM, Notepad) ends here.
            px.wineserver_kill(self.prefix)
            if not self.keep:
                px.remove_prefix(self.prefix)
        if self.xvfb is not None:
            self.xvfb.stop()
            self.xvfb = None
        if self._lock is not None:
            self._lock.__exit__(None, None, None)
            self._lock = None
