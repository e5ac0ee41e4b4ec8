"""The python side of e2e_driver.exe: one command out, one JSON line back.

Controls are named as the window names them ("Label3", "Step2_Submit",
"Label_Close"); the numbers come from src/wizard/control_ids.h."""

import json
import os
import queue
import re
import subprocess
import threading

from .prefix import wine_env
from .util import REPO, HarnessError, Process


def _key(name):
    return name.replace("_", "").lower()


def control_ids():
    """{normalised name: id} from the window's control-id header."""
    path = os.path.join(REPO, "src", "wizard", "control_ids.h")
    ids = {}
    with open(path, encoding="utf-8") as f:
        for m in re.finditer(r"\bkId(\w+)\s*=\s*(\d+)", f.read()):
            ids[_key(m.group(1))] = int(m.group(2))
    return ids


_IDS = None


def control_id(name):
    """The id of a control by its name; numbers pass through."""
    global _IDS
    if isinstance(name, int):
        return name
    if _IDS is None:
        _IDS = control_ids()
    try:
        return _IDS[_key(name)]
    except KeyError:
        raise HarnessError("no control named %r in control_ids.h" % name) from None


class Texts(dict):
    """The answer of `texts`: the main window's facts and its controls."""

    def control(self, name):
        cid = control_id(name)
        for c in self["controls"]:
            if c["id"] == cid:
                return c
        raise HarnessError("the window has no control %s (%d)" % (name, cid))

    def has(self, name):
        cid = control_id(name)
        return any(c["id"] == cid for c in self["controls"])

    def text(self, name):
        return self.control(name)["text"]

    def visible(self, name):
        return self.control(name)["visible"]

    def rect(self, name):
        """(left, top, right, bottom) in the main window's client pixels."""
        return tuple(self.control(name)["rect"])


class DriverError(HarnessError):
    pass


class Driver:
    """Runs e2e_driver.exe in the prefix on the display. Each method sends a
    command and returns the parsed answer; `ok` false raises DriverError
    unless the method is asked to return it (`check=False`)."""

    def __init__(self, exe, prefix, display, log_path, extra_env=None):
        self._log = open(log_path, "wb")
        self.process = Process(["wine", exe], name="e2e_driver", stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=self._log, env=wine_env(prefix, display, extra=extra_env))
        self._lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.cmd("ping", timeout=60)  # the first Wine start of a session is slow

    def _read(self):
        for raw in self.process.popen.stdout:
            self._lines.put(raw)
        self._lines.put(None)

    def cmd(self, line, timeout=30, check=True):
        """Sends one command; waits at most `timeout` s for its answer."""
        if not self.process.alive():
            raise DriverError("the driver is not running (command %r)" % line)
        try:
            self.process.popen.stdin.write(line.encode("utf-8") + b"\n")
            self.process.popen.stdin.flush()
        except OSError as e:
            raise DriverError("the driver stopped reading: %s" % e) from e
        try:
            raw = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise DriverError("no answer to %r within %s s" % (line, timeout)) from None
        if raw is None:
            raise DriverError("the driver ended while answering %r" % line)
        answer = json.loads(raw.decode("utf-8"))
        if check and not answer.get("ok"):
            raise DriverError("%r failed: %s" % (line, answer.get("error")))
        return answer

    # -------------------------------------------------------------- commands

    def wait_window(self, timeout=30):
        return self.cmd("wait_window %d" % (timeout * 1000), timeout=timeout + 10)

    def texts(self):
        return Texts(self.cmd("texts"))

    def settext(self, name, text):
        if "\n" in text or "\r" in text:
            raise HarnessError("a control text for settext cannot hold a line break")
        return self.cmd("settext %d %s" % (control_id(name), text))

    def select(self, name, index):
        return self.cmd("select %d %d" % (control_id(name), index))

    def click(self, name, check=True):
        return self.cmd("click %d" % control_id(name), check=check)

    def wait_text(self, name, part, timeout=10, check=True):
        """Waits until the control's text contains `part`; returns the answer
        (its "text" is the control's text at the end)."""
        return self.cmd("wait_text %d %s %d" % (control_id(name), part, timeout * 1000),
                        timeout=timeout + 10, check=check)

    def wait_visible(self, name, visible=True, timeout=10, check=True):
        return self.cmd("wait_visible %d %d %d" % (control_id(name), 1 if visible else 0, timeout * 1000),
                        timeout=timeout + 10, check=check)

    def msgbox(self, timeout=10, check=True):
        """The installer's visible dialog (title, text, buttons), waiting up
        to `timeout` s; with check=False an answer with ok false means none."""
        return self.cmd("msgbox %d" % int(timeout * 1000), timeout=timeout + 10, check=check)

    def press(self, which):
        """Presses a button of the installer's dialog: "ok", "yes", "no",
        "cancel", an id, or the button's text."""
        return self.cmd("press %s" % which)

    def move_box(self, x, y):
        """Moves the installer's dialog to the screen point (x, y), so that a
        screenshot shows what it covered."""
        return self.cmd("movebox %d %d" % (int(x), int(y)))

    def windows(self):
        return self.cmd("windows")["windows"]

    def wow64(self):
        return self.cmd("wow64")

    def gdi(self):
        """Whether drawing works for programs of the driver's bitness:
        {"system_dpi", "memory_dc", "self_bits"}."""
        return self.cmd("gdi")

    def alive(self):
        return self.cmd("alive")["alive"]

    def quit(self):
        if self.process.alive():
            try:
                self.cmd("quit", timeout=10, check=False)
            except HarnessError:
                pass
            self.process.wait(10)
        self.process.stop()
        self._log.close()
