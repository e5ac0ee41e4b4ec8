#!/usr/bin/env python3
"""Runs one end-to-end scenario: python3 tests/e2e/run_scenario.py <name> --build <dir>

Scenarios are the functions scenario_<name>(ctx) in tests/e2e/scenarios/*.py.
Exit status 0 when the scenario passed, 1 when it failed, 77 when it could
not run on this machine (harness.util.Skip, with the reason printed). The run ends on
its own after --deadline seconds (below ctest's limit), cleaning up first.
"""

import argparse
import importlib.util
import os
import sys
import time
import traceback

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))  # tests/: the harness package
sys.path.insert(0, HERE)  # tests/e2e: layout and checks shared by scenarios

import harness  # noqa: E402

kSkipped = 77  # exit status of a scenario that could not run here

# Present when Debian's wine32 runs 32-bit programs (classic WoW64, drawing works).
WINE32_KERNEL32 = "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll"
from harness import BuildTree, Scenario  # noqa: E402


class Context:
    """What a scenario function gets: the build, its name, and a factory of
    Scenario objects (several per function when it compares runs)."""

    def __init__(self, build, name, keep):
        self.build = build
        self.name = name
        self.keep = keep

    def scenario(self, label=None, **options):
        name = self.name if label is None else "%s-%s" % (self.name, label)
        return Scenario(self.build, name, keep=self.keep, **options)


def scenario_functions():
    found = {}
    folder = os.path.join(HERE, "scenarios")
    for file in sorted(os.listdir(folder)):
        if not file.endswith(".py") or file.startswith("_"):
            continue
        module_source = importlib.util.spec_from_file_location("scenarios." + file[:-3], os.path.join(folder, file))
        module = importlib.util.module_from_spec(module_source)
        module_source.loader.exec_module(module)
        for attr in dir(module):
            if attr.startswith("scenario_"):
                found[attr[len("scenario_"):]] = getattr(module, attr)
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("name", nargs="?")
    parser.add_argument("--build", required=False, help="the Windows build folder (win64 or win32 preset)")
    parser.add_argument("--keep", action="store_true", help="keep the scenario's prefix for a look")
    parser.add_argument("--deadline", type=int, default=110, help="seconds before the run gives up")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--list-for", choices=("i686", "x86_64"),
                        help="print <name>=<ctest label> for a build of that architecture")
    args = parser.parse_args()
    functions = scenario_functions()
    if args.list_for:
        # Without Debian's wine32, an i686 window cannot draw in wine64's
        # experimental WoW64 mode (checks.py): then only the scenarios that
        # need no drawing carry the label e2e on the i686 build.
        restricted = args.list_for == "i686" and not os.path.exists(WINE32_KERNEL32)
        for name in sorted(functions):
            fit = not restricted or getattr(functions[name], "without_32bit_drawing", False)
            print("%s=%s" % (name, "e2e" if fit else "needs-32bit-gdi"))
        return 0
    if args.list or not args.name:
        print("\n".join(sorted(functions)))
        return 0
    if args.name not in functions:
        print("no scenario %r; there are: %s" % (args.name, ", ".join(sorted(functions))), file=sys.stderr)
        return 2
    if not args.build:
        parser.error("--build is required")
    started = time.monotonic()
    harness.arm_deadline(args.deadline)
    try:
        build = BuildTree(args.build)
        functions[args.name](Context(build, args.name, args.keep))
    except harness.util.Skip as e:
        # ctest counts this exit status as a skip (SKIP_RETURN_CODE).
        print("SKIP e2e.%s: %s" % (args.name, e))
        return kSkipped
    except (AssertionError, harness.HarnessError, harness.Deadline) as e:
        print("FAIL e2e.%s: %s" % (args.name, e), file=sys.stderr)
        traceback.print_exc()
        return 1
    finally:
        import signal

        signal.alarm(0)
        harness.run_cleanups()
    print("PASS e2e.%s (%.1f s)" % (args.name, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
