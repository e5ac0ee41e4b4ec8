#!/usr/bin/env python3
"""Runs a test program with a 16 MiB drive S: (a tmpfs) in a private prefix.

Usage: small_drive.py <emulator> <program> [args...]
Mounting needs root; where it is refused the test is skipped (exit 77)."""

import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
from private_prefix import clean_up_on_termination, private_prefix, run

SKIP = 77
SIZE_MIB = 16


def main():
    clean_up_on_termination()
    emulator, program = sys.argv[1], sys.argv[2:]
    mount_point = tempfile.mkdtemp(prefix="stackhold-smalldrive-")
    try:
        try:
            mounted = subprocess.run(
                ["mount", "-t", "tmpfs", "-o", f"size={SIZE_MIB}m,mode=0777", "tmpfs", mount_point],
                timeout=20, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        except (OSError, subprocess.TimeoutExpired) as e:
            print(f"SKIP: cannot mount a tmpfs for the small drive ({e})", flush=True)
            return SKIP
        if mounted.returncode != 0:
            print(f"SKIP: cannot mount a tmpfs for the small drive: {mounted.stdout.strip()}",
                  flush=True)
            return SKIP
        try:
            with private_prefix(emulator) as (prefix, env):
                os.symlink(mount_point, os.path.join(prefix, "dosdevices", "s:"))
                env["STACKHOLD_SMALL_DRIVE"] = "S:"
                return run([emulator] + program, env, timeout=90)
        finally:
            # Lazily when something still holds it: never leave it mounted.
            if subprocess.run(["umount", mount_point], timeout=20).returncode != 0:
                subprocess.run(["umount", "-l", mount_point], timeout=20)
    finally:
        try:
            os.rmdir(mount_point)
        except OSError as e:
            print(f"could not remove {mount_point}: {e}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
