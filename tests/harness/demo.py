#!/usr/bin/env python3
"""The main job: one whole installation by the real Stackhold.exe under Wine,
against the local stand-ins (see rig.py). Started by scripts/demo.sh.

    demo.py --build DIR --out DIR [--headless | --interactive]

--headless (the default without a DISPLAY) runs under a private Xvfb and
presses the buttons itself: the settings page is accepted as it opens (the
default edition and directory), then every step is followed to its end.
--interactive shows the window on $DISPLAY and leaves the clicks to the
operator, waiting until the installer ends (at most --wait seconds).

Saves a screenshot at every step, the notes file from the desktop and a
short report into --out. Exit status 0 when the installation was verified
(step 5 reports success), 1 otherwise.
"""

import argparse
import os
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness import BuildTree, HarnessError, InstallRig, Scenario, log  # noqa: E402
from harness.util import Deadline, arm_deadline, run_cleanups  # noqa: E402

kSuccess = "数据库安装成功！"
kNotes = "SQL Server安装说明.txt"
# Where the README tells operators to unpack: a folder only administrators can write.
kProgramDir = "C:\\Program Files\\Stackhold"


def follow(s, out, limit):
    """Watches the window until success, a message box or the installer's
    end; a screenshot whenever the status line changes. Returns the last
    texts and the message box seen (or None)."""
    d = s.driver
    last = None
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if not s.running():
            return last, None
        box = d.msgbox(timeout=0, check=False)
        if box["ok"]:
            s.screenshot("message")
            return last, box
        try:
            t = d.texts()
        except HarnessError:
            if not s.running():
                return last, None
            raise
        status = (t.text("About1"), t.text("About2"))
        if last is None or status != (last.text("About1"), last.text("About2")):
            log("About1: %s | About2: %s" % status)
            if last is None or t.text("About1") != last.text("About1"):
                s.screenshot("step-" + (t.text("About1") or "page"))
        last = t
        if t.text("About1") == kSuccess:
            return t, None
        time.sleep(0.3)
    raise HarnessError("the installation did not finish within %d s" % limit)


def run_demo(args):
    build = BuildTree(args.build)
    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    report = []
    with InstallRig(build, os.path.join(build.artefact("e2e"), "demo-rig")) as rig, \
            Scenario(build, "demo", display=args.display, screenshots=out,
                     program_dir=kProgramDir) as s:
        s.launch()
        d = s.driver
        if args.interactive:
            print("The installer's window is open on %s: click through it; this waits until it ends."
                  % args.display, flush=True)
            d.wait_visible("Step2_Submit", True, timeout=60, check=False)
            s.screenshot("settings-page")
            last, box = follow(s, out, args.wait)
        else:
            page = d.wait_visible("Step2_Submit", True, timeout=60, check=False)
            if not page["ok"]:
                box = d.msgbox(timeout=0, check=False)
                s.screenshot("no-settings-page")
                raise HarnessError("step 1 did not open the settings page: %s"
                                   % (box.get("text") if box["ok"] else page.get("error")))
            s.screenshot("settings-page")
            t = d.texts()
            report.append("edition: %s" % t.text("Step2_Version"))
            report.append("directory: %s" % t.text("Step2_Path"))
            d.click("Step2_Submit")
            last, box = follow(s, out, args.wait)
        if box is not None:
            report.append("message: %s" % box["text"])
        ok = last is not None and last.text("About1") == kSuccess
        if ok:
            s.screenshot("finished")
            report.append("result: %s" % last.text("About1"))
            report.append("status: %s" % last.text("About2"))
            report.append("window topmost: %s" % last["topmost"])
            desktop = s.desktop()
            if os.path.exists(os.path.join(desktop, kNotes)):
                shutil.copy2(os.path.join(desktop, kNotes), os.path.join(out, kNotes))
                report.append("notes file: %s" % os.path.join(out, kNotes))
            else:
                report.append("notes file: not found on the desktop")
                ok = False
            if not args.interactive:
                d.click("Label_Close")  # ends at once after step 5
                code = s.wait_exit(15)
                report.append("installer ended: %s" % ("yes" if code is not None else "no"))
        else:
            report.append("result: not verified (%s)" % (last.text("About1") if last else "no window"))
        requests = rig.requests()
        report.append("service and package requests: %s" % ", ".join(
            "%s %s %d" % (r["method"], r["uri"], r["status"]) for r in requests))
    with open(os.path.join(out, "report.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(report) + "\n")
    print("\n".join(report))
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--headless", action="store_true")
    mode.add_argument("--interactive", action="store_true")
    parser.add_argument("--wait", type=int, default=None, help="seconds to wait for the installation")
    args = parser.parse_args()
    args.display = os.environ.get("DISPLAY") if args.interactive else None
    if args.interactive and not args.display:
        parser.error("--interactive needs a DISPLAY")
    if args.wait is None:
        args.wait = 1800 if args.interactive else 240
    arm_deadline(args.wait + 180)
    try:
        ok = run_demo(args)
    except (HarnessError, Deadline, OSError) as e:
        print("demo failed: %s" % e, file=sys.stderr)
        ok = False
    finally:
        import signal

        signal.alarm(0)
        run_cleanups()
    print("screenshots and report: %s" % os.path.abspath(args.out))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
