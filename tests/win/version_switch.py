#!/usr/bin/env python3
"""Runs test programs once per Windows version Wine can claim, in a private
prefix switched with winecfg, telling each program what it should see.

Usage: version_switch.py <emulator> <program> [<program> ...]"""

import sys

from private_prefix import clean_up_on_termination, private_prefix, run

VERSIONS = (("vista", "6.0"), ("win8", "6.2"), ("win81", "6.3"), ("win10", "10.0"), ("win7", "6.1"))


def main():
    clean_up_on_termination()
    emulator, programs = sys.argv[1], sys.argv[2:]
    with private_prefix(emulator) as (_, env):
        for name, expected in VERSIONS:
            print(f"--- winecfg /v {name}: expecting {expected}", flush=True)
            if run([emulator, "winecfg", "/v", name], env, timeout=40) != 0:
                print(f"winecfg /v {name} failed", flush=True)
                return 1
            env["STACKHOLD_EXPECTED_WINDOWS_VERSION"] = expected
            for program in programs:
                print(f"--- {program}", flush=True)
                status = run([emulator, program], env, timeout=40)
                if status != 0:
                    return status
    return 0


if __name__ == "__main__":
    sys.exit(main())
