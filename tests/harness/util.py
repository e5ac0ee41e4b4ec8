"""Process bookkeeping shared by every part of the harness.

Everything the harness starts is registered here and torn down in reverse
order, whatever happens: at the end of a `with` block, at interpreter exit,
and on SIGTERM/SIGINT/SIGHUP (ctest sends SIGTERM before it kills a test that
ran out of time). Every wait is bounded.
"""

import atexit
import contextlib
import errno
import os
import signal
import socket
import subprocess
import sys
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class HarnessError(Exception):
    """A failure of the test environment or of an expectation."""


def log(*parts):
    print("[harness %s]" % time.strftime("%H:%M:%S"), *parts, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- clean-up

_cleanups = []  # (label, callable), run last-in first-out
_cleanup_lock = threading.RLock()


def on_cleanup(label, fn):
    """Registers fn to run at clean-up; returns a token for forget()."""
    entry = (label, fn)
    with _cleanup_lock:
        _cleanups.append(entry)
    return entry


def forget(token):
    with _cleanup_lock:
        if token in _cleanups:
            _cleanups.remove(token)


def run_cleanups():
    while True:
        with _cleanup_lock:
            if not _cleanups:
                return
            label, fn = _cleanups.pop()
        try:
            fn()
        except Exception as e:  # clean-up goes on whatever one step does
            log("clean-up of %s failed: %s" % (label, e))


def _on_signal(signum, _frame):
    log("signal %d: cleaning up" % signum)
    run_cleanups()
    os._exit(128 + signum)


atexit.register(run_cleanups)
for _s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    with contextlib.suppress(ValueError):  # only possible on the main thread
        signal.signal(_s, _on_signal)


class Deadline(Exception):
    pass


class Skip(Exception):
    """A scenario that cannot run on this machine (a port taken, mounting
    refused): raised with the reason, reported as skipped, not as passed."""


def arm_deadline(seconds):
    """Raises Deadline in the main thread after `seconds`, so a scenario
    fails and cleans up on its own before ctest's harder timeout hits."""

    def fire(_signum, _frame):
        raise Deadline("scenario ran longer than %d s" % seconds)

    signal.signal(signal.SIGALRM, fire)
    signal.alarm(int(seconds))


# ---------------------------------------------------------------- processes


def run(args, timeout, env=None, check=True, input=None, cwd=None, quiet=False):
    """Runs a command to its end, bounded in time; returns CompletedProcess."""
    try:
        cp = subprocess.run(args, env=env, cwd=cwd, input=input, capture_output=True,
                            timeout=timeout, start_new_session=True)
    except subprocess.TimeoutExpired as e:
        raise HarnessError("%s did not finish within %s s" % (args[0], timeout)) from e
    if check and cp.returncode != 0:
        raise HarnessError("%s failed (%d): %s" % (" ".join(map(str, args)), cp.returncode,
                                                 (cp.stderr or b"").decode(errors="replace")[-2000:]))
    if not quiet and cp.returncode != 0:
        log("%s exited %d" % (args[0], cp.returncode))
    return cp


class Process:
    """A started child process, stopped at clean-up: SIGTERM, then SIGKILL.

    The child leads its own process group so that its helpers go with it."""

    def __init__(self, args, name=None, env=None, cwd=None, stdin=None, stdout=None,
                 stderr=None, pass_fds=()):
        self.name = name or os.path.basename(str(args[0]))
        self.popen = subprocess.Popen(args, env=env, cwd=cwd, stdin=stdin, stdout=stdout,
                                      stderr=stderr, pass_fds=pass_fds, start_new_session=True)
        self.pid = self.popen.pid
        self._token = on_cleanup(self.name, self.stop)

    def alive(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """Exit status, or None while it still runs after `timeout` s."""
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self, grace=3.0):
        forget(self._token)
        if self.popen.poll() is None:
            for sig, wait in ((signal.SIGTERM, grace), (signal.SIGKILL, 5.0)):
                with contextlib.suppress(ProcessLookupError, PermissionError):
                    os.killpg(self.pid, sig)
                if self.wait(wait) is not None:
                    break
        for f in (self.popen.stdin, self.popen.stdout, self.popen.stderr):
            if f:
                with contextlib.suppress(OSError):
                    f.close()
        return self.popen.poll()


# ---------------------------------------------------------------- network


def free_port():
    """A TCP port free on 127.0.0.1 right now (the OS picks it)."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def wait_port(port, timeout, host="127.0.0.1", alive=None):
    """Waits until something accepts on host:port; alive() -> False aborts."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if alive is not None and not alive():
            raise HarnessError("server died before it listened on %s:%d" % (host, port))
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
            s.settimeout(0.5)
            if s.connect_ex((host, port)) == 0:
                return
        time.sleep(0.05)
    raise HarnessError("nothing listens on %s:%d after %s s" % (host, port, timeout))


def wait_until(pred, timeout, step=0.1, what="condition"):
    """Polls pred() until it returns a true value; returns it."""
    end = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() >= end:
            raise HarnessError("timed out after %s s waiting for %s" % (timeout, what))
        time.sleep(step)


# ---------------------------------------------------------------- locks


@contextlib.contextmanager
def file_lock(path, timeout=600):
    """An exclusive flock on path, waited for at most `timeout` seconds."""
    import fcntl

    os.makedirs(os.path.dirname(path), exist_ok=True)
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o644)
    try:
        end = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except OSError as e:
                if e.errno not in (errno.EAGAIN, errno.EACCES):
                    raise
                if time.monotonic() >= end:
                    raise HarnessError("timed out waiting for the lock %s" % path)
                time.sleep(0.2)
        yield
    finally:
        os.close(fd)
