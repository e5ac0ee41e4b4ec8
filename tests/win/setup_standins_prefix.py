#!/usr/bin/env python3
"""Tests install_standins.py in a Wine prefix of its own.

A fresh prefix is made (the stand-ins replace dism.exe in its system folder,
which must not happen to the prefix the other tests share), the stand-ins
are installed twice (the script is idempotent), the test program's skipped
case "stand-ins installed*" runs there, then the stand-ins are uninstalled
and the case "stand-ins removed*" runs. The prefix, its wineserver and every
program in it are removed at the end. Every step is bounded in time.

Usage: setup_standins_prefix.py --script install_standins.py --build B
                                --test-program setup_verify.exe
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile


def step(what, command, env, timeout, one_test_case=False):
    """Runs one step; with one_test_case, the doctest program must also
    have run exactly one test case (a filter that matches nothing passes)."""
    print(f"--- {what}", flush=True)
    try:
        done = subprocess.run(command, env=env, timeout=timeout, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
    except subprocess.TimeoutExpired:
        print(f"timed out after {timeout} s: {' '.join(command)}", flush=True)
        return False
    out = done.stdout.decode("utf-8", "replace")
    print(out, end="", flush=True)
    if done.returncode != 0:
        print(f"failed with exit status {done.returncode}: {' '.join(command)}", flush=True)
        return False
    if one_test_case and not re.search(r"test cases:\s+1 \|\s+1 passed", out):
        print("expected exactly one test case to run and pass", flush=True)
        return False
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--test-program", required=True)
    args = parser.parse_args()

    prefix = tempfile.mkdtemp(prefix="stackhold-standins-")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", LANG="zh_CN.UTF-8")
    env.pop("DISPLAY", None)
    install = [sys.executable, args.script, "--prefix", prefix, "--build", args.build]
    program = ["wine", args.test_program, "--no-skip"]
    ok = False
    try:
        ok = (step("create the prefix", ["wineboot", "-i"], env, 240)
              and step("let wineboot finish", ["wineserver", "-w"], env, 60)
              and step("install the stand-ins", install, env, 180)
              and step("install them again", install, env, 180)
              and step("installed", program + ["--test-case=stand-ins installed*"], env, 120,
                       one_test_case=True)
              and step("uninstall the stand-ins", install + ["--uninstall"], env, 180)
              and step("removed", program + ["--test-case=stand-ins removed*"], env, 120,
                       one_test_case=True))
    finally:
        for command in (["wineserver", "-k"], ["wineserver", "-w"]):
            try:
                subprocess.run(command, env=env, timeout=30, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass
        shutil.rmtree(prefix, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
