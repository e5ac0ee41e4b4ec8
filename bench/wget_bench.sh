#!/usr/bin/env bash
# Benchmark of the download tool: one large file from nginx on loopback,
# fetched by our wget.exe under Wine and by GNU wget natively. Prints the
# wall time and throughput of each tool (best and median of several runs),
# the throughput ratio ours/GNU, and the peak memory of the process doing the
# work: VmHWM (all resident pages, for the Wine process including Wine's own
# DLLs) and the peak of RssAnon (its private memory), next to the same
# figures for a 1 KiB download, which shows what Wine and WinHTTP take
# whatever the size.
#
# Not a test: nothing is asserted. Usage:
#   bench/wget_bench.sh [WGET_EXE...]
# (default: build/win64/bin/wget.exe, and build/win32/bin/wget.exe if built)
# Environment: BENCH_MB (file size in MiB, default 1024), BENCH_RUNS
# (default 3), BENCH_DIR (work directory, default build/bench-wget).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
size_mb=${BENCH_MB:-1024}
runs=${BENCH_RUNS:-3}
work=${BENCH_DIR:-$root/build/bench-wget}
exes=("$@")
if [ ${#exes[@]} -eq 0 ]; then
  for b in win64 win32; do
    [ -f "$root/build/$b/bin/wget.exe" ] && exes+=("$root/build/$b/bin/wget.exe")
  done
fi
if [ ${#exes[@]} -eq 0 ]; then
  echo "no wget.exe given or built (cmake --build --preset win64 --target wget)" >&2
  exit 2
fi

mkdir -p "$work/www" "$work/nginx/tmp"
file=$work/www/big.bin
if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != $((size_mb * 1024 * 1024)) ]; then
  echo "making a ${size_mb} MiB file of random bytes..." >&2
  head -c $((size_mb * 1024 * 1024)) /dev/urandom > "$file"
fi
head -c 1024 /dev/urandom > "$work/www/small.bin"

# Output goes to memory when there is room, so that the disk does not set the pace.
out_dir=$work/out
if [ "$(df -Pk /dev/shm 2>/dev/null | awk 'NR==2 {print $4}')" -gt $((size_mb * 1024 * 2)) ] 2>/dev/null; then
  out_dir=/dev/shm/stackhold-wget-bench-$$
fi
mkdir -p "$out_dir"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$work/nginx/nginx.conf" <<EOF
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/tmp; proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp; uwsgi_temp_path $work/nginx/tmp; scgi_temp_path $work/nginx/tmp;
  server { listen 127.0.0.1:$port; root $work/www; }
}
EOF
setsid nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
nginx_pid=$!
cleanup() {
  kill "$nginx_pid" 2>/dev/null || true
  wait "$nginx_pid" 2>/dev/null || true
  case "$out_dir" in /dev/shm/stackhold-wget-bench-*) rm -rf "$out_dir" ;; esac
}
trap cleanup EXIT
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
cat "$file" > /dev/null  # into the page cache

# Warm up Wine: the runs follow each other closely enough to find its
# server still up.
"$root/scripts/wine-run.sh" "${exes[0]}" --version > /dev/null 2>&1 || true

export BENCH_ROOT=$root BENCH_URL="http://127.0.0.1:$port" BENCH_OUT=$out_dir BENCH_RUNS=$runs
export BENCH_SIZE=$((size_mb * 1024 * 1024))
python3 - "${exes[@]}" <<'EOF'
import os, statistics, subprocess, sys, time

root, url, out_dir = os.environ["BENCH_ROOT"], os.environ["BENCH_URL"], os.environ["BENCH_OUT"]
runs, size = int(os.environ["BENCH_RUNS"]), int(os.environ["BENCH_SIZE"])
wine_run = os.path.join(root, "scripts", "wine-run.sh")


def descendants(pid):
    kids = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                kids.setdefault(ppid, []).append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(kids.get(p, []))
    return out


def status_kb(pid, key):
    try:
        for line in open("/proc/%d/status" % pid):
            if line.startswith(key + ":"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def measure(cmd):
    """Wall time and the peaks of VmHWM and RssAnon of the largest process
    of cmd's tree, polled every 20 ms."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    hwm = anon = 0
    while proc.poll() is None:
        for p in descendants(proc.pid):
            hwm = max(hwm, status_kb(p, "VmHWM"))
            anon = max(anon, status_kb(p, "RssAnon"))
        time.sleep(0.02)
    seconds = time.monotonic() - start
    return proc.returncode, seconds, hwm, anon


def tool_runs(label, make_cmd, target):
    times, hwms, anons = [], [], []
    for _ in range(runs):
        if os.path.exists(target):
            os.remove(target)
        rc, seconds, hwm, anon = measure(make_cmd("/big.bin", target))
        ok = rc == 0 and os.path.exists(target) and os.path.getsize(target) == size
        if not ok:
            print("%s: run failed (exit %s)" % (label, rc), file=sys.stderr)
            continue
        times.append(seconds)
        hwms.append(hwm)
        anons.append(anon)
        os.remove(target)
    small = os.path.join(out_dir, "small.bin")
    _, _, base_hwm, base_anon = measure(make_cmd("/small.bin", small))
    return {"label": label, "times": times, "hwm": max(hwms or [0]), "anon": max(anons or [0]),
            "base_hwm": base_hwm, "base_anon": base_anon}


def gnu(path, target):
    return ["wget", "--no-config", "-q", "-O", target, url + path]


def ours(exe):
    def cmd(path, target):
        return [wine_run, exe, "-q", "-O", "Z:" + target.replace("/", "\\"), url + path]
    return cmd


results = [tool_runs("GNU wget (native)", gnu, os.path.join(out_dir, "gnu.bin"))]
for exe in sys.argv[1:]:
    arch = subprocess.run(["file", "-b", exe], capture_output=True, text=True).stdout
    kind = "i686, WoW64" if "80386" in arch else "x86_64"
    results.append(tool_runs("wget.exe (%s, Wine)" % kind, ours(exe), os.path.join(out_dir, "ours.bin")))

mib = 1024 * 1024
print()
print("%d MiB from nginx on 127.0.0.1, %d runs each; output to %s" % (size // mib, runs, out_dir))
print()
print("| tool | best s | median s | best MiB/s | ratio to GNU | peak VmHWM | peak RssAnon | 1 KiB run: VmHWM / RssAnon |")
print("|---|---|---|---|---|---|---|---|")
gnu_best = min(results[0]["times"]) if results[0]["times"] else None
for r in results:
    if not r["times"]:
        print("| %s | failed | | | | | | |" % r["label"])
        continue
    best, median = min(r["times"]), statistics.median(r["times"])
    ratio = "%.2f" % (gnu_best / best) if gnu_best else "-"
    print("| %s | %.2f | %.2f | %.0f | %s | %.1f MiB | %.1f MiB | %.1f / %.1f MiB |" % (
        r["label"], best, median, size / mib / best, ratio, r["hwm"] / 1024, r["anon"] / 1024,
        r["base_hwm"] / 1024, r["base_anon"] / 1024))
print()
print("Times are whole runs, process start included. Ratio: our throughput over GNU wget's.")
EOF
