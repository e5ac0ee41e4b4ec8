#!/usr/bin/env python3
"""Writes the operator readme into the release folder, packs the folder into a
zip whose bytes depend only on its contents, and writes the zip's SHA-256.

The zip is built for the Windows 7 / Server 2008 R2 machines it is unpacked
on. Their built-in zip folders ignore the UTF-8 name flag and read member names
in the OEM code page, which is 936 on the Chinese systems served; so the
Chinese readme name is stored in code page 936 and its UTF-8 form rides along
in an Info-ZIP Unicode Path field (0x7075) for 7-Zip and unzip elsewhere.

Nothing in the archive depends on when or where it was built: members in a
fixed order, one fixed time for all of them, the same MS-DOS attributes,
no comment, deflate at a fixed level.
"""
import argparse
import hashlib
import struct
import sys
import time
import zipfile
import zlib
from pathlib import Path

kReadmeName = "使用说明.txt"
kMembers = ["Stackhold.exe", "wget.exe", kReadmeName]
kFolder = "Stackhold"
kDosEpoch = (1980, 1, 1, 0, 0, 0)


def ReadmeBytes(source: Path) -> bytes:
    """UTF-8 with a byte-order mark and CR LF: Notepad on Windows 7 shows it
    right on a system of any code page."""
    text = source.read_text(encoding="utf-8")
    text = text.lstrip("\ufeff").replace("\r\n", "\n").replace("\n", "\r\n")
    return b"\xef\xbb\xbf" + text.encode("utf-8")


def DosTime(epoch: int) -> tuple:
    stamp = time.gmtime(epoch)[:6]
    return max(stamp, kDosEpoch)


class Cp936Member(zipfile.ZipInfo):
    """A member whose name is stored in code page 936, without the UTF-8 flag."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp936"), self.flag_bits & ~0x800


def UnicodePathField(rawName: bytes, name: str) -> bytes:
    body = struct.pack("<BI", 1, zlib.crc32(rawName)) + name.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(body)) + body


def MakeMember(name: str, when: tuple) -> zipfile.ZipInfo:
    arcname = f"{kFolder}/{name}"
    if name.isascii():
        info = zipfile.ZipInfo(arcname, date_time=when)
    else:
        info = Cp936Member(arcname, date_time=when)
        info.extra = UnicodePathField(arcname.encode("cp936"), arcname)
    info.compress_type = zipfile.ZIP_DEFLATED
    # MS-DOS attributes with only the archive bit, as Windows itself packs a
    # plain file: no Unix mode bits of the build machine (zipfile would put
    # its own in place of 0).
    info.create_system = 0
    info.external_attr = 0x20
    return info


def WriteZip(stage: Path, target: Path, epoch: int) -> None:
    when = DosTime(epoch)
    with zipfile.ZipFile(target, "w") as archive:
        for name in kMembers:
            data = (stage / name).read_bytes()
            archive.writestr(MakeMember(name, when), data, compresslevel=9)


def CheckZip(stage: Path, target: Path) -> None:
    """Reads the archive back the way a Chinese Windows does."""
    with zipfile.ZipFile(target, metadata_encoding="cp936") as archive:
        names = archive.namelist()
        wanted = [f"{kFolder}/{n}" for n in kMembers]
        if names != wanted:
            sys.exit(f"release_pack: the zip holds {names}, not {wanted}")
        for name in kMembers:
            if archive.read(f"{kFolder}/{name}") != (stage / name).read_bytes():
                sys.exit(f"release_pack: {name} differs in the zip")


def WriteSum(target: Path) -> Path:
    digest = hashlib.sha256(target.read_bytes()).hexdigest()
    sumFile = target.with_name(target.name + ".sha256")
    # The layout of sha256sum, so `sha256sum -c` checks it.
    sumFile.write_bytes(f"{digest}  {target.name}\n".encode("ascii"))
    return sumFile


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--readme", type=Path, required=True)
    parser.add_argument("--stage", type=Path, required=True)
    parser.add_argument("--zip", type=Path, required=True)
    parser.add_argument("--epoch", type=int, default=0)
    args = parser.parse_args()

    (args.stage / kReadmeName).write_bytes(ReadmeBytes(args.readme))
    for name in kMembers:
        if not (args.stage / name).is_file():
            sys.exit(f"release_pack: {args.stage / name} is missing")
    WriteZip(args.stage, args.zip, args.epoch)
    CheckZip(args.stage, args.zip)
    WriteSum(args.zip)


if __name__ == "__main__":
    main()
