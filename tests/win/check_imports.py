#!/usr/bin/env python3
"""Fails when a shipped program imports, the ordinary way, a DLL that a file
planted beside it could replace.

The loader resolves ordinary imports before the program's first line runs,
looking in the program's own folder first; only the system's "known DLLs"
are exempt. comctl32 is allowed only where the program's manifest asks for
Common Controls 6, which then comes from the side-by-side store. Everything
else must be delay-loaded or loaded by full path.

With --nm and --delay-defs it also fails when a delay-loaded function was
linked without its thunk: GNU ld drops the thunk of a function called only
through its import slot (dllimport), leaving the slot zero, and the first
call then jumps to address 0.

usage: check_imports.py --objdump OBJDUMP [--nm NM --delay-defs DIR]
                        [--control EXE] EXE...
  --control EXE  a program that must be refused (proves the check can fail)
"""
import argparse
import glob
import os
import re
import subprocess
import sys

ALLOWED = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
    "ole32.dll", "oleaut32.dll", "ws2_32.dll", "msvcrt.dll",
}
SXS_COMCTL = b"Microsoft.Windows.Common-Controls"


def imported_dlls(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True,
                         timeout=60, check=True).stdout
    return [m.group(1).lower() for m in re.finditer(r"^\s*DLL Name:\s*(\S+)\s*$", out, re.M)]


def refused_imports(objdump, exe):
    """The names that break the rule; None when no import table was found."""
    names = imported_dlls(objdump, exe)
    if "kernel32.dll" not in names:
        return None
    with open(exe, "rb") as f:
        has_sxs_comctl = SXS_COMCTL in f.read()
    allowed = ALLOWED | ({"comctl32.dll"} if has_sxs_comctl else set())
    return sorted(set(names) - allowed)


def delay_loaded_names(folder):
    """Function names of the delay libraries' .def files (i686: Name@N)."""
    names = set()
    for path in glob.glob(os.path.join(folder, "*.def")):
        with open(path) as f:
            lines = [line.strip() for line in f]
        names.update(line for line in lines[2:] if line)
    return names


def unbound_thunks(nm, exe, delay_names):
    """Delay-loaded functions whose thunk the linker dropped (absolute 0)."""
    out = subprocess.run([nm, exe], capture_output=True, text=True, timeout=60,
                         check=True).stdout
    unbound = []
    for line in out.splitlines():
        parts = line.split()
        if len(parts) != 3 or parts[1] != "A" or int(parts[0], 16) != 0:
            continue
        name = parts[2]
        if name in delay_names or (name.startswith("_") and name[1:] in delay_names):
            unbound.append(name)
    return sorted(unbound)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--nm")
    parser.add_argument("--delay-defs")
    parser.add_argument("--control", action="append", default=[])
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()

    delay_names = delay_loaded_names(args.delay_defs) if args.delay_defs else set()
    if args.delay_defs and not delay_names:
        print(f"FAIL no delay library definitions in {args.delay_defs}")
        return 1

    failed = False
    for exe in args.control:
        refused = refused_imports(args.objdump, exe)
        if not refused:
            print(f"FAIL control {exe}: expected a refused import, got {refused}")
            failed = True
        else:
            print(f"ok   control {exe} refused for {', '.join(refused)}")
    for exe in args.programs:
        refused = refused_imports(args.objdump, exe)
        if refused is None:
            print(f"FAIL {exe}: no import table found")
            failed = True
        elif refused:
            print(f"FAIL {exe} imports {', '.join(refused)} the ordinary way")
            failed = True
        else:
            print(f"ok   {exe}: {', '.join(imported_dlls(args.objdump, exe))}")
        if args.nm and delay_names:
            unbound = unbound_thunks(args.nm, exe, delay_names)
            if unbound:
                print(f"FAIL {exe}: delay-loaded without thunk: {', '.join(unbound)}")
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
