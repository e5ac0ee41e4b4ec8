"""The test PKI (made once by tests/pki/make_pki.sh) and code signing."""

import hashlib
import os

from .util import REPO, HarnessError, run


class Pki:
    """Paths of the test CA, the localhost TLS certificate and the signers."""

    def __init__(self, folder):
        self.dir = folder
        self.ca_pem = os.path.join(folder, "ca.pem")
        self.ca_der = os.path.join(folder, "ca.der")
        self.server_cert = os.path.join(folder, "localhost.pem")
        self.server_key = os.path.join(folder, "localhost.key")
        self.codesign_cert = os.path.join(folder, "codesign.pem")
        self.codesign_key = os.path.join(folder, "codesign.key")
        self.othersign_cert = os.path.join(folder, "othersign.pem")
        self.othersign_key = os.path.join(folder, "othersign.key")

    def ca_fingerprint(self):
        with open(self.ca_der, "rb") as f:
            return hashlib.sha1(f.read()).hexdigest()

    def sign(self, src, dst, signer="codesign"):
        """Authenticode-signs the program src into dst with the test publisher
        ("codesign", CN "Corvane Stackhold Test Publisher") or another one
        ("othersign", CN "Another Publisher"); the chain ends at the test CA."""
        cert = self.codesign_cert if signer == "codesign" else self.othersign_cert
        key = self.codesign_key if signer == "codesign" else self.othersign_key
        chain = dst + ".chain.pem"
        with open(chain, "wb") as out:
            for p in (cert, self.ca_pem):
                with open(p, "rb") as f:
                    out.write(f.read())
        if os.path.exists(dst):
            os.remove(dst)
        try:
            run(["osslsigncode", "sign", "-certs", chain, "-key", key, "-h", "sha256",
                 "-n", "Stackhold test package", "-in", src, "-out", dst], timeout=60)
        finally:
            os.remove(chain)
        return dst


def ensure_pki(folder=None):
    """Makes (once) and returns the test PKI. The default folder lies beside
    the shared Wine prefix, so every build tree trusts the same CA."""
    if folder is None:
        from .prefix import base_prefix_path

        folder = os.path.join(os.path.dirname(base_prefix_path()), "pki")
    run(["bash", os.path.join(REPO, "tests", "pki", "make_pki.sh"), folder], timeout=120)
    pki = Pki(folder)
    if not os.path.exists(pki.ca_der):
        raise HarnessError("make_pki.sh left no ca.der in %s" % folder)
    return pki
