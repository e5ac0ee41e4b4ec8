#!/usr/bin/env python3
"""Runs a test program in a throw-away Wine prefix of its own.

usage: kill_prefix.py EMULATOR PROGRAM [ARGS...]

The process-killer test stops every "wget.exe" of its prefix: in the shared
prefix that would hit the download tool of whatever other test runs there at
the same time. A prefix of its own has its own wineserver, so its own list of
processes. Bounded in time; the prefix and everything in it are removed after.
"""

import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from private_prefix import clean_up_on_termination, private_prefix, run  # noqa: E402


def main():
    clean_up_on_termination()
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    emulator, program = sys.argv[1], sys.argv[2:]
    with private_prefix(emulator) as (_, env):
        return run([emulator] + program, env, timeout=100)


if __name__ == "__main__":
    sys.exit(main())
