"""Wine prefixes: the shared base, the end-to-end template built on it, and
the throw-away copy each scenario runs in.

    base      scripts/wine-prefix.sh (fonts, Windows 7, 96 dpi), shared by all tests
    template  <build>/e2e/prefix-template: base + the test CA trusted + the
              stand-ins installed for the build's architecture; made once
    clone     one per scenario, hard-linked from the template (under a second),
              so what a scenario leaves behind (a service, files on C:,
              registry values) never reaches the next one, and `wineserver -k`
              ends exactly the scenario's own processes

A clone hard-links the large program files (DLLs, EXEs, fonts, code-page
tables) and copies everything else: wineserver saves registry hives by
writing a new file and renaming it, so the hives could be shared too, but the
copies are cheap and remove any doubt. A scenario must not write in place
into a system DLL of its prefix (that would reach the template through the
shared inode); replacing a file by a new one is fine.
"""

import hashlib
import os
import shutil
import struct

from .util import REPO, HarnessError, file_lock, log, run

kTemplateLayout = "1"  # bump when what the template holds changes
kLinkExtensions = {
    ".dll", ".exe", ".drv", ".sys", ".nls", ".ttf", ".ttc", ".fon", ".tlb", ".ocx", ".cpl",
    ".acm", ".ax", ".mui", ".msstyles", ".com", ".vxd", ".dll16", ".exe16", ".drv16", ".mod",
    ".ds", ".tsp", ".msi", ".cab",
}


# ---------------------------------------------------------------- Wine plumbing


def base_prefix_path():
    return os.environ.get("STACKHOLD_WINEPREFIX") or os.path.join(REPO, "build", "wineprefix")


def ensure_base_prefix():
    """The shared base prefix (made once by scripts/wine-prefix.sh)."""
    cp = run(["bash", os.path.join(REPO, "scripts", "wine-prefix.sh")], timeout=620)
    path = cp.stdout.decode().strip().splitlines()[-1]
    if not os.path.isdir(os.path.join(path, "drive_c")):
        raise HarnessError("wine-prefix.sh gave no prefix: %r" % path)
    return path


def wine_env(prefix, display=None, lang="zh_CN.UTF-8", extra=None):
    """Environment for a Wine program in `prefix`: code page 936 and zh-CN by
    default, on `display` (an X display string such as ":5") or none."""
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": os.environ.get("STACKHOLD_WINEDEBUG", "-all"),
        "WINEDLLOVERRIDES": "mscoree,mshtml=,winemenubuilder.exe=d",
        "LANG": lang,
    })
    env.pop("LC_ALL", None)
    if display:
        env["DISPLAY"] = display
    if extra:
        env.update(extra)
    return env


def win_path(prefix, unix_path):
    """The Windows form of a Linux path: C:\\... inside the prefix's drive_c,
    Z:\\... elsewhere."""
    unix_path = os.path.abspath(unix_path)
    drive_c = os.path.join(os.path.realpath(prefix), "drive_c")
    real = os.path.realpath(unix_path)
    if real == drive_c or real.startswith(drive_c + os.sep):
        return "C:\\" + os.path.relpath(real, drive_c).replace("/", "\\").lstrip(".")
    return "Z:" + unix_path.replace("/", "\\")


def unix_path(prefix, windows_path):
    """The Linux path of a C:\\ path of the prefix, or of a path on a drive
    that map_drive gave the prefix."""
    drive = windows_path[:3].upper()
    rest = windows_path[3:].replace("\\", "/")
    if drive == "C:\\":
        return os.path.join(prefix, "drive_c", rest)
    if len(drive) == 3 and drive[0].isalpha() and drive[1:] == ":\\":
        link = os.path.join(prefix, "dosdevices", drive[0].lower() + ":")
        if drive[0] != "Z" and os.path.islink(link):
            return os.path.join(link, rest)
    raise HarnessError("only C:\\ and mapped drives map into the prefix: %r" % windows_path)


def map_drive(prefix, letter, folder):
    """Makes the Linux folder the drive `letter` ("d" or "d:") of the prefix,
    replacing whatever that letter named before."""
    letter = letter.rstrip(":").lower()
    if len(letter) != 1 or not letter.isalpha() or letter in ("c", "z"):
        raise HarnessError("drive %r cannot be remapped" % letter)
    link = os.path.join(prefix, "dosdevices", letter + ":")
    if os.path.islink(link) or os.path.exists(link):
        os.remove(link)
    os.symlink(os.path.abspath(folder), link)


def run_wine(prefix, args, timeout, display=None, lang="zh_CN.UTF-8", extra_env=None, check=True):
    """Runs a Windows program in the prefix to its end, bounded in time."""
    return run(["wine"] + list(args), timeout=timeout, check=check,
               env=wine_env(prefix, display, lang, extra_env))


def wineserver_wait(prefix, timeout=30):
    """Waits until the prefix's wineserver has saved everything and exited."""
    cp = run(["wineserver", "-w"], timeout=timeout + 5, check=False, env=wine_env(prefix), quiet=True)
    return cp.returncode == 0


def wineserver_kill(prefix):
    """Ends every process of the prefix and its wineserver."""
    run(["timeout", "-k", "3", "15", "wineserver", "-k"], timeout=25, check=False,
        env=wine_env(prefix), quiet=True)


def set_logpixels(prefix, dpi):
    """Makes `dpi` the system DPI of the prefix for the programs started next."""
    run_wine(prefix, ["reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                      "REG_DWORD", "/d", str(int(dpi)), "/f"], timeout=60)
    if not wineserver_wait(prefix, 30):
        raise HarnessError("wineserver of %s did not settle" % prefix)


def set_windows_version(prefix, version):
    """"vista", "win7", "win10" ... as `winecfg /v` knows them."""
    run_wine(prefix, ["winecfg", "/v", version], timeout=60)
    wineserver_wait(prefix, 30)


# ---------------------------------------------------------------- copies


def clone_prefix(src, dst, link=True):
    """Makes dst a private copy of the prefix src (see the module note);
    link=False copies every file, for a copy that outside tools will write
    into in place."""
    if os.path.exists(dst):
        remove_prefix(dst)
    src = os.path.realpath(src)
    for root, dirs, files in os.walk(src):
        rel = os.path.relpath(root, src)
        target_root = os.path.join(dst, rel) if rel != "." else dst
        os.makedirs(target_root, exist_ok=True)
        shutil.copystat(root, target_root)
        for name in list(dirs):
            p = os.path.join(root, name)
            if os.path.islink(p):
                os.symlink(os.readlink(p), os.path.join(target_root, name))
                dirs.remove(name)
        for name in files:
            p = os.path.join(root, name)
            t = os.path.join(target_root, name)
            if os.path.islink(p):
                os.symlink(os.readlink(p), t)
            elif link and os.path.splitext(name)[1].lower() in kLinkExtensions:
                os.link(p, t)
            else:
                shutil.copy2(p, t)
    return dst


def remove_prefix(path):
    """Stops whatever still runs in the prefix, then deletes it."""
    if os.path.isdir(path):
        wineserver_kill(path)
        shutil.rmtree(path, ignore_errors=True)


# ---------------------------------------------------------------- build trees


def pe_machine(path):
    """'i686' or 'x86_64' from a Windows program's PE header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ":
        raise HarnessError("%s is not a Windows program" % path)
    (pe,) = struct.unpack_from("<I", head, 0x3C)
    if head[pe:pe + 4] != b"PE\0\0":
        raise HarnessError("%s has no PE header" % path)
    (machine,) = struct.unpack_from("<H", head, pe + 4)
    return {0x14C: "i686", 0x8664: "x86_64"}.get(machine, "unknown")


class BuildTree:
    """What the harness needs of one Windows build folder."""

    def __init__(self, path):
        self.dir = os.path.abspath(path)
        self.bin = os.path.join(self.dir, "bin")
        self.fixtures = os.path.join(self.dir, "fixtures")
        self.stackhold = os.path.join(self.bin, "Stackhold.exe")
        self.wget = os.path.join(self.bin, "wget.exe")
        self.driver = os.path.join(self.fixtures, "e2e_driver.exe")
        self.certtool = os.path.join(self.fixtures, "certtool.exe")
        programs = [p for p in (self.stackhold, self.driver, self.certtool) if os.path.exists(p)]
        if not programs:
            raise HarnessError("no Windows programs in %s: build first" % self.dir)
        self.arch = pe_machine(programs[0])

    def fixture(self, name):
        """A stand-in program of the build's fixtures folder."""
        return os.path.join(self.fixtures, name)

    def require(self, *paths):
        for p in paths:
            if not os.path.exists(p):
                raise HarnessError("missing from the build: %s" % p)

    def artefact(self, sub):
        d = os.path.join(self.dir, sub)
        os.makedirs(d, exist_ok=True)
        return d


def companion_build(build):
    """For an i686 build, the x86_64 build tree whose stand-ins serve the
    64-bit side of the WoW64 prefix (a 32-bit installer that turns the file
    system redirection off reaches system32, the 64-bit folder). The
    STACKHOLD_E2E_COMPANION environment variable names it; else build/win64."""
    if build.arch != "i686":
        return None
    path = os.environ.get("STACKHOLD_E2E_COMPANION") or os.path.join(REPO, "build", "win64")
    if os.path.exists(os.path.join(path, "fixtures", "dism.exe")):
        return BuildTree(path)
    return None


def _standin_builds(build):
    return [b for b in (build, companion_build(build)) if b is not None]


def _standin_inputs(build):
    """Files whose change must refresh the template's stand-ins."""
    script = os.path.join(REPO, "tests", "fixtures", "install_standins.py")
    if not os.path.exists(script):
        return script, []
    found = [script]
    for b in _standin_builds(build):
        names = sorted(os.listdir(b.fixtures)) if os.path.isdir(b.fixtures) else []
        for name in names:
            if name.lower().endswith((".exe", ".dll")) and name not in ("e2e_driver.exe", "probe_window.exe"):
                found.append(os.path.join(b.fixtures, name))
    return script, found


def _stamp(base, pki, inputs):
    h = hashlib.sha1()
    h.update(kTemplateLayout.encode())
    with open(os.path.join(base, ".stackhold-ready"), "rb") as f:
        h.update(f.read())
    # The marker is written once per base build; the registry files change
    # with every program run in the base and must not count.
    st = os.stat(os.path.join(base, ".stackhold-ready"))
    h.update(("%d %d" % (st.st_ino, st.st_mtime_ns)).encode())
    h.update(pki.ca_fingerprint().encode())
    for p in inputs:
        st = os.stat(p)
        h.update(("%s %d %d" % (p, st.st_size, st.st_mtime_ns)).encode())
    return h.hexdigest()


def trust_test_ca(prefix, build, pki):
    """Puts the test CA into the prefix's LocalMachine Root store."""
    build.require(build.certtool)
    run_wine(prefix, [build.certtool, "add-root", win_path(prefix, pki.ca_der)], timeout=60)


def install_standins(prefix, build):
    """Installs the stand-in setup, DISM and OLE DB provider (when the tree
    has them) for the build's architecture, and for an i686 build those of
    its x86_64 companion too. False when there is nothing to install yet."""
    script, inputs = _standin_inputs(build)
    if not os.path.exists(script):
        log("no tests/fixtures/install_standins.py yet: template without stand-ins")
        return False
    env = wine_env(prefix)
    for b in _standin_builds(build):
        run(["python3", script, "--prefix", prefix, "--build", b.dir, "--arch", b.arch], timeout=240, env=env)
    return True


def ensure_template(build, clone_to=None):
    """The end-to-end template prefix of this build tree: made, or remade when
    the base, the CA or a stand-in changed. Returns its path, or with
    `clone_to` a fresh clone of it there (made under the template's lock, so
    that no rebuild removes the template halfway through the copy)."""
    from .pki import ensure_pki

    base = ensure_base_prefix()
    pki = ensure_pki()
    template = os.path.join(build.artefact("e2e"), "prefix-template")
    _, inputs = _standin_inputs(build)
    stamp = _stamp(base, pki, inputs)
    marker = os.path.join(template, ".stackhold-template")
    with file_lock(template + ".lock", timeout=600):
        if not (os.path.exists(marker) and open(marker).read() == stamp):
            _make_template(build, base, pki, template, stamp)
        if clone_to:
            return clone_prefix(template, clone_to)
        return template


def _make_template(build, base, pki, template, stamp):
    log("preparing the end-to-end prefix %s" % template)
    work = template + ".new"
    remove_prefix(work)
    with file_lock(base + ".lock", timeout=600):  # no rebuild of the base under us
        # A full copy: the stand-ins are copied over system files in place,
        # which must not reach the base through shared inodes.
        clone_prefix(base, work, link=False)
    try:
        trust_test_ca(work, build, pki)
        install_standins(work, build)
        if not wineserver_wait(work, 60):
            wineserver_kill(work)
        with open(os.path.join(work, ".stackhold-template"), "w") as f:
            f.write(stamp)
    except BaseException:
        remove_prefix(work)
        raise
    remove_prefix(template)
    os.rename(work, template)
