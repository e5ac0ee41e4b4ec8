"""The outside world of a whole installation, on this machine.

    rig = InstallRig(build, folder)
      nginx on localhost:47443 (HTTPS, test CA) answers /api/sqlserver.asp
      with "[<package address>]" for each of the four editions, and nginx's
      package host serves the stand-in setup program, signed by the test
      publisher, under the edition's package name.

The stand-in setup records its command line, creates the data directory,
registers the MSSQLSERVER service and leaves the marker the stand-in OLE DB
provider looks for (tests/fixtures/setup_standin); the template prefix has
the stand-in DISM and provider installed (prefix.py).
"""

import os
import shutil

from .nginx import Nginx
from .pki import ensure_pki

# Package names by (version, x64) as the service's real packages are named;
# the folders keep the two 64-bit ones apart.
PACKAGES = {
    ("2008", "0"): "2008/SQLEXPR32_x86_CHS.exe",
    ("2008", "1"): "2008/SQLEXPR_x64_CHS.exe",
    ("2012", "0"): "2012/SQLEXPR_x86_CHS.exe",
    ("2012", "1"): "2012/SQLEXPR_x64_CHS.exe",
}
EDITION_KEYS = [("2008", "0"), ("2008", "1"), ("2012", "0"), ("2012", "1")]  # combo order


class InstallRig:
    """See the module note. `signer` "othersign" signs the packages with a
    publisher the installer must refuse; `answers` replaces the service's
    answers ({(version, x64): body} or {"default": body})."""

    def __init__(self, build, folder, signer="codesign", answers=None):
        self.pki = ensure_pki()
        os.makedirs(folder, exist_ok=True)
        self.root = os.path.join(folder, "packages")
        shutil.rmtree(self.root, ignore_errors=True)
        standin = build.fixture("setup_standin.exe")
        build.require(standin)
        signed = os.path.join(folder, "setup_standin.signed.exe")
        self.pki.sign(standin, signed, signer)
        for rel in PACKAGES.values():
            target = os.path.join(self.root, rel)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(signed, target)
        self.nginx = Nginx(self.pki, service_answers={}, package_root=self.root,
                           workdir=os.path.join(folder, "nginx"))
        self.nginx.set_service_answers(answers if answers is not None else self.default_answers())

    def package_url(self, key):
        return self.nginx.package_url(PACKAGES[key])

    def package_path(self, key):
        return os.path.join(self.root, PACKAGES[key])

    def default_answers(self):
        return {key: "[%s]" % self.package_url(key) for key in PACKAGES}

    def requests(self):
        return self.nginx.requests()

    def stop(self):
        self.nginx.stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
