#!/usr/bin/env python3
"""Runs one Windows test program on a screen of its own, in a Wine prefix of
its own.

Wine draws every window of a prefix through the desktop process (explorer)
that the prefix's first window-using program started; when that happened
without an X display, as it does for the shared test prefix, no later
program there can show a window at all. So a test that needs real windows
(Notepad) gets a private prefix: copies of the shared prefix's registry,
with the shared drive C: linked in, and its own Xvfb. The prefix, its
wineserver and every program left in it are removed afterwards.

Usage (as the WRAPPER of a test): setup_screen_prefix.py EMULATOR PROGRAM [ARGS]
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile

COPIED = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp", ".stackhold-ready")
TIMEOUT = 150


def shared_prefix(emulator):
    scripts = os.path.dirname(os.path.abspath(emulator))
    done = subprocess.run([os.path.join(scripts, "wine-prefix.sh")], stdout=subprocess.PIPE,
                          text=True, timeout=900, check=True)
    return done.stdout.strip()


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    emulator, program = sys.argv[1], sys.argv[2:]
    shared = shared_prefix(emulator)
    root = tempfile.mkdtemp(prefix="stackhold-screen-")
    env = dict(os.environ, STACKHOLD_WINEPREFIX=root)
    try:
        for name in COPIED:
            shutil.copy2(os.path.join(shared, name), root)
        devices = os.path.join(root, "dosdevices")
        os.mkdir(devices)
        os.symlink(os.path.join(shared, "drive_c"), os.path.join(devices, "c:"))
        os.symlink("/", os.path.join(devices, "z:"))
        # A session of its own, so that a timeout ends Xvfb and Wine with it.
        child = subprocess.Popen(["xvfb-run", "-a", emulator] + program, env=env,
                                 start_new_session=True)
        try:
            return child.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            print(f"timed out after {TIMEOUT} s", flush=True)
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(child.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    child.wait(timeout=5)
                    break
                except subprocess.TimeoutExpired:
                    pass
            return 1
    finally:
        kill_env = dict(os.environ, WINEPREFIX=root)
        for command in (["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                subprocess.run(command, env=kill_env, timeout=30, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
