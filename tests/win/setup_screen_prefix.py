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
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from private_prefix import clean_up_on_termination, private_prefix  # noqa: E402

TIMEOUT = 150


def main():
    clean_up_on_termination()
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    emulator, program = sys.argv[1], sys.argv[2:]
    with private_prefix(emulator) as (_, env):
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


if __name__ == "__main__":
    sys.exit(main())
