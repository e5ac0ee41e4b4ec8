"""Runs a Windows program that shows windows: on its own Xvfb screen, in a
throw-away Wine prefix (so its wineserver and desktop are its own and can be
stopped afterwards), optionally at another DPI.

usage: gui_session.py [--dpi N] [--theme light] [--screenshot FILE] [--shot-after S]
                      [--stop-after S] [--timeout S] EMULATOR PROGRAM [ARGS...]

--theme light switches on Wine's own visual style (light.msstyles), so that
controls of Common Controls 6 are drawn themed as on Windows 7 and later.
--stop-after S ends a program that would run on (the installer itself) after
S seconds and counts that as success; --screenshot takes a picture of the
whole screen --shot-after seconds after the start. Exit status: the
program's, or 1 on a timeout."""

import argparse
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness.util import HarnessError  # noqa: E402
from harness.xvfb import Xvfb  # noqa: E402
from private_prefix import private_prefix  # noqa: E402


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)


def reg_add(emulator, env, key, name, kind, value):
    subprocess.run([emulator, "reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"],
                   env=env, timeout=60, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


kThemeKey = r"HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager"


def prepare_prefix(emulator, env, dpi, theme=None):
    """The screen's DPI, and no window left to a window manager: there is
    none on Xvfb, and Wine would wait two seconds for one whenever a window
    it considers managed goes away."""
    reg_add(emulator, env, r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
    if dpi != 96:
        reg_add(emulator, env, r"HKCU\Control Panel\Desktop", "LogPixels", "REG_DWORD", str(dpi))
    if theme:
        style = rf"C:\windows\resources\themes\{theme}\{theme}.msstyles"
        for name, value in (("DllName", style), ("ColorName", "Blue"), ("SizeName", "NormalSize"),
                            ("ThemeActive", "1")):
            reg_add(emulator, env, kThemeKey, name, "REG_SZ", value)
    # The new values count for programs started after wineserver has let go.
    subprocess.run(["wineserver", "-w"], env=dict(env, WINEPREFIX=env["STACKHOLD_WINEPREFIX"]), timeout=60)


def screenshot(xvfb, path):
    try:
        xvfb.screenshot(path)
    except HarnessError as e:
        print(f"gui_session: no screenshot: {e}", flush=True)


def run_program(command, env, args, xvfb):
    program = subprocess.Popen(command, env=env)
    started = time.monotonic()
    shot_taken = not args.screenshot
    try:
        while True:
            elapsed = time.monotonic() - started
            if not shot_taken and elapsed >= args.shot_after:
                screenshot(xvfb, args.screenshot)
                shot_taken = True
            status = program.poll()
            if status is not None:
                return status
            if args.stop_after is not None and elapsed >= args.stop_after:
                return 0
            if elapsed >= args.timeout:
                print(f"gui_session: timed out after {args.timeout} s", flush=True)
                return 1
            time.sleep(0.1)
    finally:
        stop(program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dpi", type=int, default=96)
    parser.add_argument("--theme")
    parser.add_argument("--screenshot")
    parser.add_argument("--shot-after", type=float, default=2.0)
    parser.add_argument("--stop-after", type=float)
    parser.add_argument("--timeout", type=float, default=100.0)
    parser.add_argument("emulator")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()

    with Xvfb() as xvfb, private_prefix(args.emulator) as (_, env):
        env = dict(env, DISPLAY=xvfb.display)
        prepare_prefix(args.emulator, env, args.dpi, args.theme)
        return run_program([args.emulator] + args.command, env, args, xvfb)


if __name__ == "__main__":
    sys.exit(main())
