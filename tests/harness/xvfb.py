"""A private X server (Xvfb) on a display number it picks itself."""

import os
import select

from .util import HarnessError, Process, run


class Xvfb:
    """Starts Xvfb on a free display; `display` is then e.g. ":7".

    Use as a context manager or call stop(); it is stopped at clean-up anyway.
    There is no window manager on it: windows have no title bars and sit where
    the program puts them."""

    def __init__(self, width=1280, height=1024, depth=24, timeout=15):
        r, w = os.pipe()
        try:
            self.process = Process(
                ["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx%d" % (width, height, depth),
                 "-nolisten", "tcp", "-noreset"],
                name="Xvfb", stdout=open(os.devnull, "wb"), stderr=open(os.devnull, "wb"), pass_fds=(w,))
            os.close(w)
            w = None
            number = b""
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([r], [], [], timeout)
                if not ready:
                    raise HarnessError("Xvfb gave no display number within %d s" % timeout)
                chunk = os.read(r, 16)
                if not chunk:
                    raise HarnessError("Xvfb ended before it was ready")
                number += chunk
        except BaseException:
            if hasattr(self, "process"):
                self.process.stop()
            raise
        finally:
            os.close(r)
            if w is not None:
                os.close(w)
        self.display = ":" + number.decode().strip()
        self.size = (width, height)

    def screenshot(self, path, timeout=30):
        """Saves the whole screen as a PNG file."""
        os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
        run(["import", "-display", self.display, "-window", "root", path], timeout=timeout)
        return path

    def stop(self):
        self.process.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
