#!/usr/bin/env python3
"""The benchmark of Corvane·Stackhold: what the installer costs while it waits,
how fast it reacts and starts, how fast its download tool moves bytes, how
much memory it takes and how big the shipped files are. Every figure is taken
in one run, each beside its yardstick, and printed as one markdown table
(also written to bench/latest.md). bench/run.sh builds what this needs and
calls it; see bench/README.md for what each figure means.

This is a measurement, not a test: it asserts nothing and fails only when a
measurement cannot be taken.
"""

import argparse
import json
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
kBench = os.path.dirname(os.path.abspath(__file__))
kRepo = os.path.dirname(kBench)
sys.path.insert(0, os.path.join(kRepo, "tests"))

from harness import HarnessError, Nginx, Xvfb, ensure_base_prefix, log, win_path, wine_env  # noqa: E402

kMiB = 1024 * 1024
kClockTicks = os.sysconf("SC_CLK_TCK")
kMainClass = "CorvaneStackholdMain"
kMinimalClass = "StackholdBenchMinimal"
kWaitClass = "StackholdBenchWait"


class BenchError(Exception):
    pass


# ---------------------------------------------------------------- processes


def cpu_seconds(pid):
    """User plus system time of a live Linux process, all its threads."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / kClockTicks


def memory(pid):
    """(VmHWM, RssAnon) of a live process in bytes: the peak of its resident
    memory, and the private (anonymous) part of it now."""
    found = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key = line.split(":", 1)[0]
            if key in ("VmHWM", "RssAnon"):
                found[key] = int(line.split()[1]) * 1024
    if len(found) != 2:
        raise BenchError("no memory figures for %d" % pid)
    return found["VmHWM"], found["RssAnon"]


class MemoryWatch:
    """Samples a process every 20 ms: its peak resident memory (VmHWM, kept by
    the kernel over the process's whole life) and the highest private part
    seen (RssAnon, sampled)."""

    def __init__(self, find_pid):
        self.find_pid = find_pid  # () -> pid or None
        self.peak = 0
        self.private = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        pid = None
        while not self._stop.is_set():
            try:
                pid = pid or self.find_pid()
                if pid is not None:
                    peak, private = memory(pid)
                    self.peak = max(self.peak, peak)
                    self.private = max(self.private, private)
            except (OSError, BenchError):
                pid = None  # between two execs, or ended
            self._stop.wait(0.02)

    def stop(self):
        self._stop.set()
        self._thread.join(5)
        return {"peak": self.peak, "private": self.private}


def program_pid(group, name):
    """The Linux process of the Windows program `name` among the processes of
    the process group `group`, or None. `wine x.exe` may run the program in
    its own process (Wine's start.exe starts it when the loader is not of the
    program's architecture), so the launcher's pid is not always the
    program's."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[2]) != group:
                continue
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                first = f.read().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        if first.replace("\\", "/").rsplit("/", 1)[-1].lower() == name.lower():
            return int(entry)
    return None


def wine_loader():
    """The 64-bit loader runs an x86_64 program in the process it starts; the
    `wine` command may be the 32-bit loader, which hands it on to another."""
    return "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"


class Child:
    """A child process, killed with its process group when its time is up.

    Its memory is watched while it lives (MemoryWatch); the ru_maxrss that
    wait4 reports would count the pages of this python process, which the
    child holds between fork and exec."""

    def __init__(self, args, env=None, cwd=None, stdin=None, stdout=None, stderr=None):
        self.args = args
        # The program is watched in its own process, found by its name once it
        # runs: neither the launcher nor the moments between fork and exec,
        # when the child still has the pages of this python process, count.
        launched = args[0] in ("wine", wine_loader())
        self.program = os.path.basename((args[1] if launched else args[0]).replace("\\", "/"))
        self.started = time.monotonic()
        self.popen = subprocess.Popen(args, env=env, cwd=cwd, stdin=stdin, stdout=stdout,
                                      stderr=stderr, start_new_session=True)
        self.pid = self.popen.pid
        self._program_pid = None
        self.status = None
        self.ended = None
        self.memory = MemoryWatch(self.program_pid)
        self.max_memory = None

    def program_pid(self, timeout=0):
        """The process of the program itself (for a Windows program, not its
        launcher); None while it cannot be seen."""
        end = time.monotonic() + timeout
        while self._program_pid is None:
            self._program_pid = program_pid(self.pid, self.program)
            if self._program_pid is not None or time.monotonic() >= end:
                break
            time.sleep(0.01)
        return self._program_pid

    def kill(self):
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass

    def wait(self, timeout):
        """Waits for the end; kills the child and raises when it takes longer."""
        try:
            self.status = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            self.popen.wait(30)
            raise BenchError("%s ran longer than %d s" % (" ".join(self.args[:2]), timeout)) from None
        finally:
            self.ended = time.monotonic()
            self.max_memory = self.memory.stop()
        return self.status

    @property
    def wall(self):
        return self.ended - self.started


# ---------------------------------------------------------------- the session


class Session:
    """The bench's own Wine prefix with a wineserver kept running for the
    whole run (so no measurement pays for its start), on a private X server."""

    def __init__(self, work, programs):
        self.work = work
        self.programs = programs  # folder of minwin, benchprobe, waitprobe
        self.xvfb = None
        self.server = None

    def start(self, installer, wget):
        os.makedirs(self.work, exist_ok=True)
        os.environ["STACKHOLD_WINEPREFIX"] = os.path.join(self.work, "wineprefix")
        self.prefix = ensure_base_prefix()
        self.xvfb = Xvfb()
        self.env = wine_env(self.prefix, self.xvfb.display)
        self.server = Child(["wineserver", "-f", "-p"], env=self.env)
        time.sleep(0.5)
        if self.server.popen.poll() is not None:
            raise BenchError("wineserver did not start")
        # The installer in a program folder of its own, with wget.exe beside it
        # as it is shipped; the yardstick in another one.
        self.installer_dir = self._place("StackholdBench", [installer, wget])
        self.minimal_dir = self._place("MinimalBench", [os.path.join(self.programs, "minwin.exe")])
        self.warm_up()

    def _place(self, name, files):
        folder = os.path.join(self.prefix, "drive_c", name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for f in files:
            shutil.copy2(f, folder)
        return folder

    def wpath(self, path):
        return win_path(self.prefix, path)

    def probe(self, *args, timeout=120):
        """Runs benchprobe.exe in the session; its printed answer. The answer
        goes through a file: Wine's helper processes may inherit a pipe and
        keep it open long after the probe has ended."""
        answer = os.path.join(self.work, "probe.out")
        with open(answer, "wb") as out:
            child = Child([wine_loader(), os.path.join(self.programs, "benchprobe.exe")] + list(args),
                          env=self.env, stdout=out, stderr=subprocess.DEVNULL)
            child.wait(timeout)
        with open(answer, "rb") as f:
            return f.read().decode(errors="replace").strip()

    def warm_up(self):
        """Starts Wine's own services of the session before anything is timed."""
        child = Child([wine_loader(), os.path.join(self.programs, "benchprobe.exe"), "sleep", "0"],
                      env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL)
        child.wait(120)
        time.sleep(1)

    def close(self):
        if self.server is not None:
            try:
                subprocess.run(["wineserver", "-k"], env=self.env, timeout=30, check=False)
                self.server.wait(20)
            except (subprocess.TimeoutExpired, BenchError):
                self.server.kill()
        if self.xvfb is not None:
            self.xvfb.stop()


# ---------------------------------------------------------------- figures


def first_paint(session, runs):
    """Milliseconds from process start to the first painted window, median of
    `runs` alternating starts of the yardstick and the installer."""
    targets = {
        "minimal": (kMinimalClass, os.path.join(session.minimal_dir, "minwin.exe")),
        "installer": (kMainClass, os.path.join(session.installer_dir, "Stackhold.exe")),
    }
    times = {k: [] for k in targets}
    for _ in range(runs):
        for key, (cls, exe) in targets.items():
            answer = session.probe("firstpaint", cls, "30000", session.wpath(exe), timeout=90)
            value = float(answer.splitlines()[-1]) if answer else -1
            if value < 0:
                raise BenchError("%s showed no painted window within 30 s" % exe)
            times[key].append(value)
    log("first paint (ms): %s" % times)
    return {k: {"median": statistics.median(v), "min": min(v)} for k, v in times.items()}, times


def wait_costs(session, seconds, click_interval):
    """CPU of the installer's RunAndWait waiting `seconds` for a sleeping
    child, with clicks posted from another process every `click_interval` ms
    (0: none); the wineserver's CPU over the same wait."""
    sleeper = "\"%s\" sleep %d" % (session.wpath(os.path.join(session.programs, "benchprobe.exe")),
                                   seconds * 1000)
    clicker = None
    if click_interval:
        clicker = Child([wine_loader(), os.path.join(session.programs, "benchprobe.exe"), "clicks",
                         kWaitClass, str(click_interval), "30000"], env=session.env,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    probe = Child([wine_loader(), os.path.join(session.programs, "waitprobe.exe"), sleeper], env=session.env,
                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        line = probe.popen.stdout.readline().decode().strip()
        if line != "waiting":
            raise BenchError("waitprobe said %r instead of starting its wait" % line)
        pid = probe.program_pid(10)
        if pid is None:
            raise BenchError("waitprobe's process cannot be found")
        process0, server0 = cpu_seconds(pid), cpu_seconds(session.server.pid)
        result = json.loads(probe.popen.stdout.readline().decode())
        process1, server1 = cpu_seconds(pid), cpu_seconds(session.server.pid)
        probe.popen.stdin.write(b"\n")
        probe.popen.stdin.close()
        probe.wait(30)
    finally:
        probe.kill()
        if clicker:
            clicker.kill()
            clicker.wait(30)
    result["linux_cpu_s"] = process1 - process0
    result["wineserver_cpu_s"] = server1 - server0
    log("wait (%d s, clicks every %d ms): %s" % (seconds, click_interval, result))
    return result


def minimal_memory(session):
    """Peak memory of the yardstick program: what any Wine GUI process costs."""
    child = Child([wine_loader(), os.path.join(session.minimal_dir, "minwin.exe")], env=session.env,
                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(3)
    if child.program_pid(10) is None:
        raise BenchError("minwin.exe's process cannot be found")
    child.kill()
    try:
        child.wait(30)
    except BenchError:
        pass
    return child.max_memory


def big_file(folder, size):
    path = os.path.join(folder, "big.bin")
    if os.path.exists(path) and os.path.getsize(path) == size:
        return path
    os.makedirs(folder, exist_ok=True)
    block = os.urandom(kMiB)
    with open(path + ".part", "wb") as f:
        for _ in range(size // kMiB):
            f.write(block)
    os.rename(path + ".part", path)
    return path


def download_speeds(session, wget_exe, runs, size):
    """Both download tools fetch the same file from nginx on loopback with the
    installer's command line, alternately, and beside them the bare
    WinHttpReadData loop under Wine (winhttp_loop.exe), WinHTTP's own ceiling
    there; median wall time, peak memory."""
    www = os.path.join(session.work, "www")
    source = big_file(www, size)
    target = os.path.join(session.work, "downloads")
    results = {"wget.exe": [], "GNU wget": [], "WinHTTP loop": []}
    loop_exe = os.path.join(session.programs, "winhttp_loop.exe")
    with Nginx(package_root=www, workdir=os.path.join(session.work, "nginx")) as server:
        url = server.package_url(os.path.basename(source))
        commands = {
            "wget.exe": [wine_loader(), wget_exe, "-c", "-P,",
                         "--directory-prefix=" + session.wpath(target), url],
            "GNU wget": ["wget", "-c", "-P,", "--directory-prefix=" + target, url],
            "WinHTTP loop": [wine_loader(), loop_exe, url,
                             session.wpath(os.path.join(target, os.path.basename(source)))],
        }
        for _ in range(runs):
            for name, args in commands.items():
                shutil.rmtree(target, ignore_errors=True)
                os.makedirs(target)
                child = Child(args, env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                child.wait(900)
                got = os.path.join(target, os.path.basename(source))
                if not os.path.exists(got) or os.path.getsize(got) != size:
                    raise BenchError("%s did not fetch the whole file (exit %s)" % (name, child.status))
                results[name].append((child.wall, child.max_memory["peak"]))
        shutil.rmtree(target, ignore_errors=True)
    log("downloads (s, bytes): %s" % results)
    return {name: {"seconds": statistics.median(r[0] for r in runs_),
                   "mib_s": size / kMiB / statistics.median(r[0] for r in runs_),
                   "peak": max(r[1] for r in runs_)}
            for name, runs_ in results.items()}


def shipped_sizes(dist):
    sizes = {}
    for name in ("Stackhold.exe", "wget.exe"):
        path = os.path.join(dist, "Stackhold", name)
        sizes[name] = os.path.getsize(path) if os.path.exists(path) else None
    return sizes


def whole_run_memory(build_dir):
    """Peak memory of the installer through a whole installation with the
    defaults, driven as the end-to-end scenario `install` drives it: nginx as
    the service and the package host, the stand-ins as setup, DISM and the
    OLE DB provider. VmHWM is the high-water mark of the process's whole life,
    so the last reading before the window is closed is the peak of the run."""
    from harness import BuildTree, InstallRig, Scenario

    build = BuildTree(build_dir)
    with Scenario(build, "bench-wholerun") as s, InstallRig(build, os.path.join(s.workdir, "rig")):
        s.launch(window_timeout=60)
        watch = MemoryWatch(lambda: program_pid(s.installer.pid, "Stackhold.exe"))
        s.driver.wait_visible("Step2_Submit", True, timeout=60)
        s.driver.click("Step2_Submit")
        done = s.driver.wait_text("About1", "数据库安装成功！", timeout=180, check=False)
        if not done["ok"]:
            raise BenchError("the whole run did not succeed: About1 %r" % done.get("text"))
        found = watch.stop()
        if not found["peak"]:
            raise BenchError("the installer's process cannot be found")
        s.driver.click("Label_Close")
        s.wait_exit(10)
    log("whole run: %s" % found)
    return found


# ---------------------------------------------------------------- the table


def mib(value):
    return "—" if value is None else "%.1f MiB" % (value / kMiB)


def verdict(ok):
    return "met" if ok else "**missed**"


def download_rows(d, args):
    """The download figure beside both of its yardsticks: GNU wget natively
    (what the machine can move) and the bare WinHTTP loop under Wine (what
    WinHTTP there can move), with both ratios."""
    ours, gnu, loop = d["wget.exe"], d["GNU wget"], d["WinHTTP loop"]
    speed = ours["mib_s"] / gnu["mib_s"]
    rows = [("Download of %d MiB from nginx on loopback (median of %d)" % (args.size_mib, args.download_runs),
             "wget.exe: %.0f MiB/s (%.1f s)" % (ours["mib_s"], ours["seconds"]),
             "GNU wget: %.0f MiB/s (%.1f s)" % (gnu["mib_s"], gnu["seconds"]),
             "ratio %.2f" % speed, "≥ 0.9", verdict(speed >= 0.9))]
    rows.append(("The same beside a bare WinHttpReadData loop (1 MiB reads) under Wine",
                 "wget.exe: %.0f MiB/s" % ours["mib_s"],
                 "WinHTTP loop: %.0f MiB/s (%.1f s)" % (loop["mib_s"], loop["seconds"]),
                 "ratio %.2f" % (ours["mib_s"] / loop["mib_s"]), "", ""))
    rows.append(("Peak memory of the download tool", "wget.exe: %s" % mib(ours["peak"]),
                 "GNU wget: %s; WinHTTP loop: %s" % (mib(gnu["peak"]), mib(loop["peak"])), "", "", ""))
    return rows


def table(f, args):
    if args.only_downloads:
        return table_text(download_rows(f["downloads"], args))
    rows = []
    fp = f["first_paint"]
    ratio = fp["installer"]["median"] / fp["minimal"]["median"]
    best = fp["installer"]["min"] / fp["minimal"]["min"]
    rows.append(("Start to first painted window (median of %d; fastest)" % args.runs,
                 "%.0f ms; %.0f ms" % (fp["installer"]["median"], fp["installer"]["min"]),
                 "minimal window: %.0f ms; %.0f ms" % (fp["minimal"]["median"], fp["minimal"]["min"]),
                 "ratio %.2f (fastest: %.2f)" % (ratio, best), "≤ 1.5", verdict(ratio <= 1.5)))
    q = f["wait_quiet"]
    quiet = q["cpu_s"] * 60 / q["wall_s"]
    rows.append(("CPU while RunAndWait waits %d s for a sleeping child" % args.wait,
                 "%.2f s (%.2f s per min)" % (q["cpu_s"], quiet),
                 "seen from Linux: %.2f s; wineserver: %.2f s" % (q["linux_cpu_s"], q["wineserver_cpu_s"]),
                 "%.2f s per min" % quiet, "≤ 0.3 s per min", verdict(quiet <= 0.3)))
    w = f["wait_clicks"]
    rows.append(("Posted click to its handler during a like wait (%d clicks, one per %d ms)"
                 % (w["clicks"], args.click_interval),
                 "p99 %.2f ms" % w["p99_ms"],
                 "p50 %.2f ms, max %.2f ms; CPU of that wait %.2f s, wineserver %.2f s"
                 % (w["p50_ms"], w["max_ms"], w["cpu_s"], w["wineserver_cpu_s"]),
                 "p99 %.2f ms" % w["p99_ms"], "≤ 20 ms", verdict(0 <= w["p99_ms"] <= 20)))
    rows += download_rows(f["downloads"], args)
    whole = f.get("whole_run")
    small = f["minimal_memory"]
    rows.append(("Peak memory of the installer through a whole run (resident; private)",
                 "%s; %s" % (mib(whole["peak"]), mib(whole["private"])) if whole else "not measured",
                 "minimal window: %s; %s" % (mib(small["peak"]), mib(small["private"])),
                 "%s resident" % mib(whole["peak"]) if whole else "", "≤ 32 MiB",
                 verdict(whole["peak"] <= 32 * kMiB) if whole else "—"))
    for name, size in f["sizes"].items():
        rows.append(("Shipped i686 %s, stripped" % name, "—" if size is None else "%d bytes" % size,
                     "", "%.2f MiB" % (size / kMiB) if size else "", "≤ 1 MiB",
                     verdict(size <= kMiB) if size else "—"))
    return table_text(rows)


def table_text(rows):
    out = ["| Figure | Stackhold | Beside it | Result | Aim | |", "|---|---|---|---|---|---|"]
    out += ["| %s |" % " | ".join(r) for r in rows]
    return "\n".join(out)


def header(args):
    commit = subprocess.run(["git", "-C", kRepo, "describe", "--always", "--dirty"], capture_output=True,
                            text=True, timeout=30).stdout.strip()
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    load = os.getloadavg()
    return ("Measured %s on commit %s: %s, %d cores, load %.2f at the start; %s, x86_64 build.\n"
            "Command: `%s`\n" % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), commit,
                                 platform.platform(terse=True), os.cpu_count(), load[0], wine,
                                 args.command))


# ---------------------------------------------------------------- main


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--programs", required=True, help="folder of minwin.exe, benchprobe.exe, waitprobe.exe")
    p.add_argument("--build", required=True,
                   help="x86_64 build tree of the product (bin/Stackhold.exe, bin/wget.exe, fixtures/)")
    p.add_argument("--dist", required=True,
                   help="release folder (Stackhold/Stackhold.exe, Stackhold/wget.exe)")
    p.add_argument("--work", required=True, help="scratch folder of the bench")
    p.add_argument("--runs", type=int, default=15, help="starts of each program for the start figure")
    p.add_argument("--wait", type=int, default=60, help="seconds the child sleeps")
    p.add_argument("--click-interval", type=int, default=50, help="ms between posted clicks")
    p.add_argument("--size-mib", type=int, default=1024, help="size of the downloaded file")
    p.add_argument("--download-runs", type=int, default=3)
    p.add_argument("--no-whole-run", action="store_true", help="skip the whole installation")
    p.add_argument("--only-downloads", action="store_true",
                   help="measure the download figure alone (with --size-mib, a quick look at its rows)")
    p.add_argument("--output", default=os.path.join(kBench, "latest.md"))
    p.add_argument("--command", default="bench/run.sh", help="the command line shown with the table")
    args = p.parse_args()
    for name in ("programs", "build", "dist", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))

    installer = os.path.join(args.build, "bin", "Stackhold.exe")
    wget_exe = os.path.join(args.build, "bin", "wget.exe")
    for path in (installer, wget_exe):
        if not os.path.exists(path):
            raise BenchError("missing %s: build it first" % path)

    figures = {}
    head = header(args)
    session = Session(args.work, args.programs)
    try:
        session.start(installer, wget_exe)
        if not args.only_downloads:
            figures["first_paint"], figures["first_paint_all"] = first_paint(session, args.runs)
            figures["wait_quiet"] = wait_costs(session, args.wait, 0)
            figures["wait_clicks"] = wait_costs(session, args.wait, args.click_interval)
            figures["minimal_memory"] = minimal_memory(session)
        figures["downloads"] = download_speeds(session, os.path.join(session.installer_dir, "wget.exe"),
                                               args.download_runs, args.size_mib * kMiB)
    finally:
        session.close()
    if not args.only_downloads:
        figures["whole_run"] = None if args.no_whole_run else whole_run_memory(args.build)
        figures["sizes"] = shipped_sizes(args.dist)

    text = "%s\n%s\n\nWhat each figure means and how it is taken: bench/README.md.\n" % (
        head, table(figures, args))
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)
    with open(os.path.join(args.work, "figures.json"), "w") as f:
        json.dump(figures, f, indent=1)
    print(text)


if __name__ == "__main__":
    try:
        main()
    except (BenchError, HarnessError) as e:
        log("bench: %s" % e)
        sys.exit(1)
