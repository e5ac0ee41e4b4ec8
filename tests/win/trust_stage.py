#!/usr/bin/env python3
"""Runs a test program with folders and files staged from the Linux side,
where this Wine shows what a foreign or writable object does: a Unix owner
other than ours reads back as owner Anonymous (O:AN), mode o+w as Everyone
may write (0x1301ff;;;WD). Wine cannot make these from inside.

Usage: trust_stage.py <emulator> <program> [args...]
The stage is a folder under /tmp, reached through Wine's Z: drive; its
Windows path goes to the program in STACKHOLD_TRUST_STAGE."""

import os
import shutil
import subprocess
import sys
import tempfile

kNobody = 65534


def stage(root):
    def folder(name, mode=0o755, owner=None):
        path = os.path.join(root, name)
        os.makedirs(path)
        os.chmod(path, mode)
        if owner is not None:
            os.chown(path, owner, -1)
        return path

    def file(name, mode=0o755, owner=None):
        path = os.path.join(root, name)
        with open(path, "wb") as f:
            f.write(b"MZ staged")
        os.chmod(path, mode)
        if owner is not None:
            os.chown(path, owner, -1)

    # Levels of an installation directory.
    folder("foreign", owner=kNobody)
    folder("mine")
    folder("mine/foreign last", owner=kNobody)
    folder("mine/writable last", mode=0o777)
    # Program folders: one sound, the others each with one fault.
    for name in ("safe", "writable folder", "foreign folder", "writable wget", "foreign wget",
                 "writable program"):
        folder(name)
        file(name + "/Stackhold.exe")
        file(name + "/wget.exe")
    os.chmod(os.path.join(root, "writable folder"), 0o777)
    os.chown(os.path.join(root, "foreign folder"), kNobody, -1)
    os.chmod(os.path.join(root, "writable wget/wget.exe"), 0o666)
    os.chown(os.path.join(root, "foreign wget/wget.exe"), kNobody, -1)
    os.chmod(os.path.join(root, "writable program/Stackhold.exe"), 0o777)
    # A Unix symbolic link where a level is expected.
    os.symlink(os.path.join(root, "foreign"), os.path.join(root, "link to foreign"))


def main():
    emulator, program = sys.argv[1], sys.argv[2:]
    root = tempfile.mkdtemp(prefix="stackhold-trust-")
    try:
        os.chmod(root, 0o755)
        env = dict(os.environ)
        try:
            stage(root)
            env["STACKHOLD_TRUST_STAGE"] = "Z:" + root.replace("/", "\\")
        except PermissionError as e:
            # Giving a file to another owner needs root: the staged rows are
            # then reported as not shown, the others still run.
            print("cannot stage foreign objects here (%s)" % e, flush=True)
        try:
            return subprocess.run([emulator] + program, env=env, timeout=150).returncode
        except subprocess.TimeoutExpired:
            print("timed out", flush=True)
            return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
