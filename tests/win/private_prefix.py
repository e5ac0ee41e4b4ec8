#!/usr/bin/env python3
"""Runs Windows test programs in a throw-away Wine prefix of their own.

usage: private_prefix.py [--screen] [--small-drive] [--each-version]
                         [--timeout S] EMULATOR PROGRAM [ARGS...]

The prefix holds copies of the shared test prefix's registry, so a test can
switch the reported Windows version or add a drive letter without disturbing
other tests that run in the shared prefix at the same time; it has its own
wineserver, so its own list of processes (the process-killer test stops
every "wget.exe" of its prefix, which in the shared one would hit the
download tool of another test). Drive C: is the shared prefix's own drive_c
(linked, not copied: it is large and such tests do not change it). The
prefix, its wineserver and every program left in it are removed afterwards;
every run is bounded in time.

  (no option)     the program, once
  --screen        on an Xvfb screen of its own: Wine draws every window of a
                  prefix through the desktop process that the prefix's first
                  window-using program started; when that happened without
                  an X display, as it does for the shared prefix, no later
                  program there can show a window at all (Notepad)
  --small-drive   with a 16 MiB tmpfs as drive S: (STACKHOLD_SMALL_DRIVE=S:);
                  mounting needs root, and where it is refused the test is
                  skipped (exit 77)
  --each-version  every PROGRAM (no arguments) once per Windows version Wine
                  can claim, switched with winecfg, told what it should see
                  (STACKHOLD_EXPECTED_WINDOWS_VERSION)
"""

import argparse
import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree

_COPIED = ("system.reg", "user.reg", "userdef.reg", ".update-timestamp", ".stackhold-ready")


def clean_up_on_termination():
    """Turns SIGTERM into a normal exit, so that the clean-up of the caller's
    `finally` blocks (unmount, prefix removal) still runs."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))


def shared_prefix(emulator):
    """Makes sure the shared prefix exists and returns its path."""
    scripts = os.path.dirname(os.path.abspath(emulator))
    done = subprocess.run([os.path.join(scripts, "wine-prefix.sh")], stdout=subprocess.PIPE,
                          text=True, timeout=300, check=True)
    return done.stdout.strip()


@contextlib.contextmanager
def private_prefix(emulator):
    """Yields (prefix path, environment for the emulator) and removes the
    prefix, with its wineserver and every program still in it, afterwards."""
    shared = shared_prefix(emulator)
    root = tempfile.mkdtemp(prefix="stackhold-prefix-")
    try:
        for name in _COPIED:
            shutil.copy2(os.path.join(shared, name), root)
        devices = os.path.join(root, "dosdevices")
        os.mkdir(devices)
        os.symlink(os.path.join(shared, "drive_c"), os.path.join(devices, "c:"))
        os.symlink("/", os.path.join(devices, "z:"))
        yield root, dict(os.environ, STACKHOLD_WINEPREFIX=root)
    finally:
        kill_env = dict(os.environ, WINEPREFIX=root)
        for command in (["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                subprocess.run(command, env=kill_env, timeout=30, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass  # the prefix goes all the same
        shutil.rmtree(root, ignore_errors=True)


def run(command, env, timeout):
    """Runs one step of a test, bounded in time; returns its exit status."""
    try:
        return subprocess.run(command, env=env, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        print(f"timed out after {timeout} s: {' '.join(command)}", flush=True)
        return 1


def run_on_screen(command, env, timeout):
    """Runs command under xvfb-run in a session of its own, so that a timeout
    ends Xvfb and Wine with it."""
    child = subprocess.Popen(["xvfb-run", "-a"] + command, env=env, start_new_session=True)
    try:
        return child.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        print(f"timed out after {timeout} s", flush=True)
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


SKIP = 77
SMALL_DRIVE_MIB = 16


@contextlib.contextmanager
def small_drive():
    """Yields the mount point of a 16 MiB tmpfs, or None where mounting is
    refused; never leaves it mounted."""
    mount_point = tempfile.mkdtemp(prefix="stackhold-smalldrive-")
    try:
        try:
            mounted = subprocess.run(
                ["mount", "-t", "tmpfs", "-o", f"size={SMALL_DRIVE_MIB}m,mode=0777", "tmpfs", mount_point],
                timeout=20, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            refused = mounted.stdout.strip() if mounted.returncode != 0 else None
        except (OSError, subprocess.TimeoutExpired) as e:
            refused = str(e)
        if refused is not None:
            print(f"SKIP: cannot mount a tmpfs for the small drive ({refused})", flush=True)
            yield None
            return
        try:
            yield mount_point
        finally:
            # Lazily when something still holds it.
            if subprocess.run(["umount", mount_point], timeout=20).returncode != 0:
                subprocess.run(["umount", "-l", mount_point], timeout=20)
    finally:
        try:
            os.rmdir(mount_point)
        except OSError as e:
            print(f"could not remove {mount_point}: {e}", flush=True)


VERSIONS = (("vista", "6.0"), ("win8", "6.2"), ("win81", "6.3"), ("win10", "10.0"), ("win7", "6.1"))


def each_version(emulator, programs, env, timeout):
    for name, expected in VERSIONS:
        print(f"--- winecfg /v {name}: expecting {expected}", flush=True)
        if run([emulator, "winecfg", "/v", name], env, timeout=40) != 0:
            print(f"winecfg /v {name} failed", flush=True)
            return 1
        env["STACKHOLD_EXPECTED_WINDOWS_VERSION"] = expected
        for program in programs:
            print(f"--- {program}", flush=True)
            status = run([emulator, program], env, timeout=timeout)
            if status != 0:
                return status
    return 0


def main():
    clean_up_on_termination()
    p = argparse.ArgumentParser(usage=__doc__.split("\n\n")[1].replace("usage: ", "", 1))
    mode = p.add_mutually_exclusive_group()
    mode.add_argument("--screen", action="store_true")
    mode.add_argument("--small-drive", action="store_true")
    mode.add_argument("--each-version", action="store_true")
    p.add_argument("--timeout", type=int, help="seconds for each run of a program")
    p.add_argument("emulator")
    p.add_argument("program", nargs=argparse.REMAINDER)
    args = p.parse_args()
    if not args.program:
        p.error("no program")
    emulator, program = args.emulator, args.program
    if args.small_drive:
        with small_drive() as mount_point:
            if mount_point is None:
                return SKIP
            with private_prefix(emulator) as (prefix, env):
                os.symlink(mount_point, os.path.join(prefix, "dosdevices", "s:"))
                env["STACKHOLD_SMALL_DRIVE"] = "S:"
                return run([emulator] + program, env, timeout=args.timeout or 90)
    with private_prefix(emulator) as (_, env):
        if args.each_version:
            return each_version(emulator, program, env, args.timeout or 40)
        if args.screen:
            return run_on_screen([emulator] + program, env, args.timeout or 150)
        return run([emulator] + program, env, timeout=args.timeout or 100)


if __name__ == "__main__":
    sys.exit(main())
