"""Drives with a chosen amount of free space, for the free-space rules.

    with Mounts(build, "settings_drive") as m:
        d = m.tmpfs("d", free_mib=5119)      # a Linux folder with 5119 MiB free
        ...                                   # link it as a drive of the prefix
        c = m.overlay("c", lower=drive_c, free_mib=5120)

A tmpfs of N MiB reports exactly N MiB free until files are written into it
(folders take no room on a tmpfs), and costs no memory until then. An overlay
shows a whole folder (the prefix's drive_c) unchanged while its free space
is that of the tmpfs that takes its writes: the kernel reports the upper
layer's figures for an overlay.

Mounting needs root (or CAP_SYS_ADMIN): where it is refused the scenario is
skipped with the reason (Skip). The mount points lie under
<build>/e2e/mounts/<name>/, outside the scenario's work folder, which is
wiped at every start; mounts left behind by a run that was killed are taken
down by the next run of the same name. Leaving the block unmounts everything,
lazily where a Wine process still holds a file.
"""

import os
import shutil

from .util import HarnessError, Skip, forget, log, on_cleanup, run

kPage = 4096


def _pages(size):
    """Bytes a tmpfs takes for `size` bytes of file data: whole pages."""
    return (size + kPage - 1) // kPage * kPage


def _mount_points_under(folder):
    """Mount points at or below `folder`, the latest mounted first (an
    overlay before the tmpfs that takes its writes)."""
    folder = os.path.realpath(folder)
    found = []
    with open("/proc/self/mountinfo") as f:
        for line in f:
            point = line.split()[4].encode().decode("unicode_escape")  # \040 for a blank
            if point == folder or point.startswith(folder + os.sep):
                found.append(point)
    return found[::-1]


def _umount(point):
    if run(["umount", point], timeout=30, check=False, quiet=True).returncode != 0:
        run(["umount", "-l", point], timeout=30, check=False, quiet=True)


class Mounts:
    def __init__(self, build, name):
        self.base = os.path.join(build.artefact("e2e"), "mounts", name)
        self._token = None

    def __enter__(self):
        self._token = on_cleanup("mounts %s" % self.base, self.close)
        self._clear()
        os.makedirs(self.base)
        return self

    def __exit__(self, *exc):
        self.close()

    def _clear(self):
        if os.path.isdir(self.base):
            for point in _mount_points_under(self.base):
                _umount(point)
            if _mount_points_under(self.base):
                raise HarnessError("cannot take down the mounts under %s" % self.base)
            shutil.rmtree(self.base)

    def _mount(self, args, what):
        cp = run(["mount"] + args, timeout=30, check=False, quiet=True)
        if cp.returncode != 0:
            raise Skip("mounting %s was refused here (%s)" % (what, cp.stderr.decode(errors="replace").strip()))

    def tmpfs(self, label, free_mib=None, free_bytes=None, reserve=0):
        """A new tmpfs with exactly that much free space (rounded up to whole
        pages) once files of the sizes `reserve` (bytes, a number or a list)
        are written into it; returns its Linux folder."""
        size = free_bytes if free_bytes is not None else free_mib * 1024 * 1024
        reserve = reserve if isinstance(reserve, (list, tuple)) else [reserve]
        size = _pages(size) + sum(_pages(r) for r in reserve)
        point = os.path.join(self.base, label)
        os.makedirs(point)
        self._mount(["-t", "tmpfs", "-o", "size=%d,mode=0755" % size, "stackhold-e2e", point],
                    "a tmpfs of %d bytes" % size)
        return point

    def overlay(self, label, lower, free_mib, reserve=0):
        """`lower` seen through an overlay whose writes go to a tmpfs with
        `free_mib` MiB free once files of the sizes `reserve` are written;
        returns the Linux folder of the merged view."""
        room = self.tmpfs(label + "-writes", free_mib=free_mib, reserve=reserve)
        upper, work = os.path.join(room, "upper"), os.path.join(room, "work")
        os.makedirs(upper)
        os.makedirs(work)
        point = os.path.join(self.base, label)
        os.makedirs(point)
        options = "lowerdir=%s,upperdir=%s,workdir=%s" % (os.path.realpath(lower), upper, work)
        self._mount(["-t", "overlay", "-o", options, "stackhold-e2e", point], "an overlay of %s" % lower)
        return point

    def close(self):
        if self._token is not None:
            forget(self._token)
            self._token = None
            try:
                self._clear()
            except HarnessError as e:
                log(str(e))


def free_bytes(folder):
    """Free bytes of the file system that holds `folder`, as Windows will
    be told."""
    st = os.statvfs(folder)
    return st.f_bavail * st.f_frsize
