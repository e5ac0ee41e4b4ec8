"""A throw-away Wine prefix for tests that change prefix-wide state.

It holds copies of the shared test prefix's registry, so a test can switch
the reported Windows version or add a drive letter without disturbing other
tests that run in the shared prefix at the same time. Drive C: is the shared
prefix's own drive_c (linked, not copied: it is large and such tests do not
change it)."""

import contextlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

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
