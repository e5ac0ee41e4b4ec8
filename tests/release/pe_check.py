#!/usr/bin/env python3
"""Checks the shipped files of a release folder:

- both programs are i686 PE files of at most 1 MiB, with no timestamp in the
  PE header nor in any resource directory;
- they import only DLLs that every Windows 7 has (read with objdump);
- both carry a version resource whose file version is the project's;
- the installer's icon holds 48, 32, 24 and 16 pixel images;
- the installer's manifest asks for administrator rights, DPI awareness,
  Common Controls 6 and names Windows 7 among the supported systems;
- neither holds a path of the machine that built it;
- the readme is UTF-8 with a byte-order mark and CR LF line ends only.

Usage: pe_check.py <version> <release folder> [forbidden text ...]
Prints one line per failed check and exits 1 when any failed.
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

kMaxSize = 1024 * 1024
kMachineI386 = 0x14C
kRtIcon = 3
kRtGroupIcon = 14
kRtVersion = 16
kIconSides = {48, 32, 24, 16}
kRtManifest = 24
kSystemDlls = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll",
    "gdi32.dll", "iphlpapi.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
    "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll",
    "version.dll", "winhttp.dll", "wintrust.dll", "ws2_32.dll", "wsock32.dll",
}
kWindows7Id = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"

failures = []


def Fail(text: str) -> None:
    failures.append(text)
    print(f"FAIL: {text}")


class PeFile:
    """Just enough of the PE format to read the header and the resources."""

    def __init__(self, path: Path):
        self.path = path
        self.data = path.read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.timestamp, _, _, optionalSize,
         _) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", d, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resourceRva = struct.unpack_from("<I", d, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optionalSize
        for i in range(sections):
            virtualSize, rva, rawSize, rawPointer = struct.unpack_from("<IIII", d, table + i * 40 + 8)
            self.sections.append((rva, max(virtualSize, rawSize), rawPointer))

    def Offset(self, rva: int) -> int:
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def ResourceDirectoryStamps(self):
        """TimeDateStamp of every resource directory table."""
        if not self.resourceRva:
            return []
        base = self.Offset(self.resourceRva)
        stamps = []

        def Walk(offset: int) -> None:
            _, stamp, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + offset)
            stamps.append(stamp)
            for i in range(named + ids):
                _, target = struct.unpack_from("<II", self.data, base + offset + 16 + i * 8)
                if target & 0x80000000:
                    Walk(target & 0x7FFFFFFF)

        Walk(0)
        return stamps

    def Resources(self, typeId: int):
        """The data of every resource of one numeric type, all names and languages."""
        if not self.resourceRva:
            return []
        base = self.Offset(self.resourceRva)
        found = []

        def Entries(offset: int):
            _, _, _, _, named, ids = struct.unpack_from("<IIHHHH", self.data, base + offset)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, base + offset + 16 + i * 8)

        def Leaves(offset: int):
            for _, target in Entries(offset):
                if target & 0x80000000:
                    yield from Leaves(target & 0x7FFFFFFF)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.Offset(rva)
                    yield self.data[start:start + size]

        for name, target in Entries(0):
            if name == typeId and target & 0x80000000:
                found.extend(Leaves(target & 0x7FFFFFFF))
        return found


def Imports(path: Path):
    result = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(path)], capture_output=True,
                            text=True, timeout=60, check=True)
    return [m.group(1) for m in re.finditer(r"DLL Name: (\S+)", result.stdout)]


def FileVersion(resource: bytes):
    at = resource.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", resource, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def LocalName(tag: str) -> str:
    return tag.rsplit("}", 1)[-1]


def CheckManifest(name: str, pe: PeFile) -> None:
    manifests = pe.Resources(kRtManifest)
    if len(manifests) != 1:
        Fail(f"{name}: {len(manifests)} manifests, wanted one")
        return
    try:
        root = ElementTree.fromstring(manifests[0])
    except ElementTree.ParseError as error:
        Fail(f"{name}: the manifest is no XML ({error})")
        return
    elements = list(root.iter())

    levels = [e.get("level") for e in elements if LocalName(e.tag) == "requestedExecutionLevel"]
    if levels != ["requireAdministrator"]:
        Fail(f"{name}: requested execution level {levels}, wanted requireAdministrator")

    aware = [(e.text or "").strip().lower() for e in elements if LocalName(e.tag) == "dpiAware"]
    awareness = [(e.text or "").strip().lower() for e in elements
                 if LocalName(e.tag) == "dpiAwareness"]
    if not any(a in ("true", "true/pm", "per monitor") for a in aware) and not any(
            "permonitor" in a or "system" in a for a in awareness):
        Fail(f"{name}: the manifest declares no DPI awareness")

    commonControls = [e for e in elements if LocalName(e.tag) == "assemblyIdentity"
                      and e.get("name") == "Microsoft.Windows.Common-Controls"
                      and (e.get("version") or "").startswith("6.")]
    if not commonControls:
        Fail(f"{name}: the manifest does not ask for Common Controls 6")

    systems = [(e.get("Id") or "").lower() for e in elements if LocalName(e.tag) == "supportedOS"]
    if kWindows7Id not in systems:
        Fail(f"{name}: the manifest does not name Windows 7 as supported")


def IconImageSide(image: bytes):
    """(width, height) of one icon image: a PNG or a DIB whose height counts
    the mask too."""
    if image[:8] == b"\x89PNG\r\n\x1a\n":
        return struct.unpack_from(">II", image, 16)
    _, width, height = struct.unpack_from("<Iii", image, 0)
    return (width, height // 2)


def CheckIcon(name: str, pe: PeFile) -> None:
    groups = pe.Resources(kRtGroupIcon)
    if len(groups) != 1:
        Fail(f"{name}: {len(groups)} icon groups, wanted 1")
        return
    group = groups[0]
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    listed = set()
    for i in range(count):
        width, height = struct.unpack_from("<BB", group, 6 + i * 14)
        listed.add((width or 256, height or 256))
    images = {IconImageSide(image) for image in pe.Resources(kRtIcon)}
    wanted = {(side, side) for side in kIconSides}
    if kind != 1 or not wanted <= listed:
        Fail(f"{name}: the icon lists the sizes {sorted(listed)}, wanted {sorted(wanted)}")
    if not wanted <= images:
        Fail(f"{name}: the icon's images are {sorted(images)}, wanted {sorted(wanted)}")


def CheckProgram(name: str, path: Path, version: tuple, forbidden):
    size = path.stat().st_size
    if size > kMaxSize:
        Fail(f"{name}: {size} bytes, more than {kMaxSize}")
    try:
        pe = PeFile(path)
    except (ValueError, struct.error) as error:
        Fail(f"{name}: not a readable PE file ({error})")
        return None
    if pe.machine != kMachineI386:
        Fail(f"{name}: machine {pe.machine:#x}, wanted i386")
    if pe.timestamp != 0:
        Fail(f"{name}: PE header timestamp {pe.timestamp}, wanted 0")
    stamps = [s for s in pe.ResourceDirectoryStamps() if s != 0]
    if stamps:
        Fail(f"{name}: resource directories carry timestamps {stamps}")

    strange = [dll for dll in Imports(path) if dll.lower() not in kSystemDlls]
    if strange:
        Fail(f"{name}: imports DLLs that are not Windows' own: {strange}")

    versions = [FileVersion(r) for r in pe.Resources(kRtVersion)]
    if versions != [version]:
        Fail(f"{name}: file versions {versions}, wanted {version}")

    for text in forbidden:
        for encoded in (text.encode("utf-8"), text.encode("utf-16-le")):
            if encoded in pe.data:
                Fail(f"{name}: holds the build machine's path {text}")
                break
    return pe


def CheckReadme(path: Path) -> None:
    data = path.read_bytes()
    if not data.startswith(b"\xef\xbb\xbf"):
        Fail("readme: no UTF-8 byte-order mark")
    if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\r\n"):
        Fail("readme: line ends other than CR LF")
    try:
        data.decode("utf-8")
    except UnicodeDecodeError as error:
        Fail(f"readme: not UTF-8 ({error})")


def main() -> int:
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    parts = [int(p) for p in sys.argv[1].split(".")]
    version = tuple((parts + [0, 0, 0, 0])[:4])
    folder = Path(sys.argv[2])
    forbidden = sys.argv[3:]

    for exe in ("Stackhold.exe", "wget.exe"):
        path = folder / exe
        if not path.is_file():
            Fail(f"{exe}: missing")
            continue
        pe = CheckProgram(exe, path, version, forbidden)
        if pe and exe == "Stackhold.exe":
            CheckManifest(exe, pe)
            CheckIcon(exe, pe)
    readme = folder / "使用说明.txt"
    if readme.is_file():
        CheckReadme(readme)
    else:
        Fail("readme: missing")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
