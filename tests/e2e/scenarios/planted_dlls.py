"""A whole installation started from a folder that also holds DLLs named like
system DLLs the installer uses, as a Downloads folder might: none of them is
loaded, and the installation goes through.

Each planted file is the planted.dll fixture, which leaves "<its path>.loaded"
beside itself when loaded. Wine prefers its own DLLs to a file beside the
program unless told otherwise: the run prefers them ("n,b"), as Windows
would. Not planted, because Wine's own DLLs pull them in by bare name from
beside the program whatever the program does (Windows takes them from the
system folder): version.dll (imported by Wine's user32), crypt32.dll (by
Wine's WinHTTP and WinTrust), bcrypt.dll (by Wine's crypt32, in the download
tool, which lies in the same folder). The installer's own loading of these
is covered by the Windows-side test win.hardening_dlls."""

import os
import shutil

from harness import InstallRig
from checks import expect_success, submit_defaults

PLANTED = ["winhttp.dll", "wintrust.dll", "iphlpapi.dll", "comctl32.dll"]
BASE_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"


def scenario_planted_dlls(ctx):
    overrides = "%s;%s=n,b" % (BASE_OVERRIDES, ",".join(name[:-4] for name in PLANTED))
    with ctx.scenario(env={"WINEDLLOVERRIDES": overrides}) as s, \
            InstallRig(ctx.build, os.path.join(s.workdir, "rig")) as rig:
        planted = ctx.build.fixture("planted.dll")
        ctx.build.require(planted)
        for name in PLANTED:
            shutil.copy2(planted, os.path.join(s.program_path, name))
        s.launch()
        d = s.driver
        submit_defaults(s)
        expect_success(s)
        # The whole chain ran: service request and package over WinHTTP,
        # the download tool, the signature check, setup, the verification.
        methods = [r["method"] for r in rig.requests()]
        assert methods == ["GET", "HEAD", "GET"], methods

        loaded = [n for n in PLANTED if os.path.exists(os.path.join(s.program_path, n + ".loaded"))]
        assert not loaded, "planted DLLs loaded from the program's folder: %s" % loaded


scenario_planted_dlls.without_32bit_drawing = True
