#!/usr/bin/env python3
"""Scenario tests of the download tool wget.exe.

Each scenario runs our tool under Wine and GNU wget (Debian's, native) as the
reference against servers on 127.0.0.1 that this script starts and stops: a
real nginx (http, https with the test CA's "localhost" certificate, https
with a certificate nobody trusts) and the harness's HttpServer with its
scripted faults. Both tools must leave the same file names with the same
bytes and end with the same exit status, except where a scenario says why
they differ on purpose. The fault scenarios are tables (FAULTS): one row per
server behaviour with the outcome expected of our tool, and GNU wget's where
it differs.

    run_wget_tests.py --wget EXE --launcher EXE --certtool EXE --wine-run SCRIPT
                      --pki DIR --work DIR SCENARIO...

Scenarios: see SCENARIOS at the end. Every process started is bounded in time.
"""

import argparse
import hashlib
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ folders in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness.httpserver import (Changing, Cuts, Fixed, HttpServer, IgnoreRange, LyingPart,  # noqa: E402
                                Scripted, ShortPart, Silent, Stall, Unsatisfiable, WrongRange)

DATA = random.Random(20240607).randbytes(3 * 1024 * 1024 + 17)
# The same size, other bytes: the document after a change on the server.
NEWDATA = random.Random(20261201).randbytes(len(DATA))
GIB4 = 4 * 1024 * 1024 * 1024
BIG_TAIL = random.Random(4).randbytes(3 * 1024 * 1024 + 5)
BIG_SIZE = GIB4 + len(BIG_TAIL)
PROXY_VARS = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
              "no_proxy", "NO_PROXY")


class ScenarioFailed(Exception):
    pass


def win_path(linux_path):
    """Wine's Z: drive is the Linux root."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def P(path):
    """An argument naming a path, given to each tool in its own form."""
    return lambda windows: win_path(path) if windows else path


def Cat(*parts):
    return lambda windows: "".join(p(windows) if callable(p) else p for p in parts)


def GnuOnly(arg):
    return lambda windows: None if windows else arg


def render(args, windows):
    out = []
    for a in args:
        v = a(windows) if callable(a) else a
        if v is not None:
            out.append(v)
    return out


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def clean_env():
    env = dict(os.environ)
    for v in PROXY_VARS:
        env.pop(v, None)
    return env


class Result:
    def __init__(self, rc, seconds, output):
        self.rc, self.seconds, self.output = rc, seconds, output

    def __repr__(self):
        return "rc=%s after %.1fs" % (self.rc, self.seconds)


def run_bounded(cmd, cwd, log_path, limit, env=None):
    """Runs cmd with its output in a file (Wine's helper processes may keep
    a pipe open after the program has ended); kills its process group when
    it outlives limit seconds."""
    start = time.monotonic()
    with open(log_path, "wb") as log:
        proc = subprocess.Popen(cmd, cwd=cwd, stdout=log, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, env=env or clean_env(),
                                start_new_session=True)
        try:
            rc = proc.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            rc = "timeout"
    seconds = time.monotonic() - start
    with open(log_path, "rb") as log:
        output = log.read().decode("utf-8", "replace")
    return Result(rc, seconds, output)


class Tool:
    def __init__(self, name, ctx):
        self.name, self.ctx = name, ctx
        self.runs = 0

    @property
    def windows(self):
        return self.name == "ours"

    def run(self, args, cwd, limit=60):
        self.runs += 1
        log = os.path.join(self.ctx.logs, "%s-%d.log" % (self.name, self.runs))
        if self.windows:
            env = clean_env()
            env["STACKHOLD_WINE_TIMEOUT"] = str(limit)
            cmd = [self.ctx.wine_run, self.ctx.wget] + render(args, True)
        else:
            env = None
            cmd = ["wget", "--no-config"] + render(args, False)
        result = run_bounded(cmd, cwd, log, limit + 15, env)
        print("  %-4s %s  ->  %r" % (self.name, " ".join(render(args, self.windows)), result))
        return result


class Nginx:
    """nginx on three free ports: http, https (test CA), https (untrusted)."""

    def __init__(self, ctx, root):
        self.ctx, self.root = ctx, root
        self.dir = os.path.join(ctx.work, "nginx")
        os.makedirs(os.path.join(self.dir, "tmp"), exist_ok=True)
        self.access_log = os.path.join(self.dir, "access.log")
        self.proc = None

    def _config(self):
        pki, untrusted = self.ctx.pki, self.ctx.untrusted
        temp = os.path.join(self.dir, "tmp")
        return f"""
worker_processes 1;
daemon off;
pid {self.dir}/nginx.pid;
error_log {self.dir}/error.log;
events {{ worker_connections 64; }}
http {{
  log_format probe '$request_uri|$http_range|$status|$body_bytes_sent';
  access_log {self.access_log} probe;
  client_body_temp_path {temp}; proxy_temp_path {temp}; fastcgi_temp_path {temp};
  uwsgi_temp_path {temp}; scgi_temp_path {temp};
  sendfile on;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{self.http_port};
    listen 127.0.0.1:{self.https_port} ssl;
    ssl_certificate {pki}/localhost.pem;
    ssl_certificate_key {pki}/localhost.key;
    root {self.root};
    location = /r1 {{ return 302 /r2; }}
    location = /r2 {{ return 301 /r3; }}
    location = /r3 {{ return 307 /data.bin; }}
    location = /loop {{ return 302 /loop; }}
    location = /tohttp {{ return 302 http://127.0.0.1:{self.http_port}/data.bin; }}
  }}
  server {{
    listen 127.0.0.1:{self.untrusted_port} ssl;
    ssl_certificate {untrusted}/cert.pem;
    ssl_certificate_key {untrusted}/key.pem;
    root {self.root};
  }}
}}
"""

    def start(self):
        for _ in range(5):
            self.http_port, self.https_port, self.untrusted_port = free_port(), free_port(), free_port()
            conf = os.path.join(self.dir, "nginx.conf")
            with open(conf, "w") as f:
                f.write(self._config())
            self.proc = subprocess.Popen(["nginx", "-p", self.dir, "-c", conf, "-e",
                                          os.path.join(self.dir, "error.log")],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                         start_new_session=True)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and self.proc.poll() is None:
                try:
                    with socket.create_connection(("127.0.0.1", self.untrusted_port), timeout=0.2):
                        return self
                except OSError:
                    time.sleep(0.05)
            self.stop()
        raise ScenarioFailed("nginx did not start; see %s/error.log" % self.dir)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc = None

    def clear_log(self):
        # nginx keeps the file open: empty it in place.
        open(self.access_log, "w").close()

    def entries(self, path=None):
        time.sleep(0.1)  # nginx writes the line after the response
        out = []
        if os.path.exists(self.access_log):
            for line in open(self.access_log, encoding="latin-1"):
                uri, rng, status, sent = line.rstrip("\n").split("|")
                if path is None or uri == path:
                    out.append({"path": uri, "range": None if rng == "-" else rng,
                                "status": int(status), "sent": int(sent)})
        return out


class Context:
    def __init__(self, opts, scenario):
        self.wget, self.launcher, self.certtool = opts.wget, opts.launcher, opts.certtool
        self.wine_run, self.pki = opts.wine_run, opts.pki
        self.work = os.path.join(opts.work, scenario)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.logs = os.path.join(self.work, "logs")
        os.makedirs(self.logs)
        self.failures = []
        self.tools = [Tool("ours", self), Tool("gnu", self)]
        self.servers = []
        self._dirs = 0

    # --- set-up -------------------------------------------------------------
    def make_pki(self):
        here = os.path.dirname(os.path.abspath(__file__))
        subprocess.run([os.path.join(here, "..", "pki", "make_pki.sh"), self.pki], check=True,
                       timeout=120, stdout=subprocess.DEVNULL)
        self.untrusted = os.path.join(self.pki, "untrusted")
        if not os.path.exists(os.path.join(self.untrusted, "cert.pem")):
            os.makedirs(self.untrusted, exist_ok=True)
            tmp = os.path.join(self.untrusted, "tmp-%d" % os.getpid())
            os.makedirs(tmp)
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                            "-days", "3650", "-subj", "/CN=localhost", "-addext",
                            "subjectAltName=DNS:localhost", "-keyout", tmp + "/key.pem",
                            "-out", tmp + "/cert.pem"], check=True, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.replace(tmp + "/key.pem", self.untrusted + "/key.pem")
            os.replace(tmp + "/cert.pem", self.untrusted + "/cert.pem")
            os.rmdir(tmp)

    def start_nginx(self, big=False):
        self.make_pki()
        root = os.path.join(self.work, "www")
        os.makedirs(root)
        with open(os.path.join(root, "data.bin"), "wb") as f:
            f.write(DATA)
        if big:
            with open(os.path.join(root, "big.bin"), "wb") as f:
                f.truncate(GIB4)  # sparse: only the tail takes space
                f.seek(GIB4)
                f.write(BIG_TAIL)
        self.nginx = Nginx(self, root).start()
        self.servers.append(self.nginx)
        return self.nginx

    def start_faults(self):
        self.faults = HttpServer({})
        self.servers.append(self.faults)
        return self.faults

    def fault_route(self, answer, name="data.bin"):
        """A fresh path on the fault server answered by `answer`; its address."""
        self._routes = getattr(self, "_routes", 0) + 1
        path = "/f%d/%s" % (self._routes, name)
        self.faults.routes[path] = answer
        return path

    def stop(self):
        for s in self.servers:
            s.stop()

    def http(self, path):
        return "http://127.0.0.1:%d%s" % (self.nginx.http_port, path)

    def fault(self, path):
        return "http://127.0.0.1:%d%s" % (self.faults.port, path)

    def fault_log(self, path):
        """What the fault server saw on path: range asked, If-Range sent,
        status and body bytes of each answer."""
        return [{"range": r.headers.get("Range"), "if_range": r.headers.get("If-Range"),
                 "status": getattr(r, "status", None), "sent": getattr(r, "sent", None),
                 "burst_sent": getattr(r, "burst_sent", None)}
                for r in self.faults.requests_for(path)]

    def fresh_dir(self, tool, name=None):
        self._dirs += 1
        d = os.path.join(self.work, "%s-%d" % (tool.name, self._dirs), *( [name] if name else []))
        os.makedirs(d)
        return d

    def trust_test_ca(self):
        r = run_bounded([self.wine_run, self.certtool, "add-root", win_path(self.pki + "/ca.der")],
                        self.work, os.path.join(self.logs, "certtool.log"), 60)
        if r.rc != 0:
            raise ScenarioFailed("certtool add-root failed: %r %s" % (r, r.output))

    # --- checks -------------------------------------------------------------
    def check(self, ok, message):
        if not ok:
            self.failures.append(message)
            print("  FAIL: " + message)

    def expect_rc(self, tool, result, rc):
        self.check(result.rc == rc, "%s: exit status %s, expected %s; output:\n%s"
                   % (tool.name, result.rc, rc, result.output[-3000:]))

    def expect_files(self, tool, directory, expected):
        """directory holds exactly the files named in expected, with those bytes."""
        found = {}
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            found[name] = open(path, "rb").read() if os.path.isfile(path) else "<dir>"
        names_ok = sorted(found) == sorted(expected)
        self.check(names_ok, "%s: files in %s are %s, expected %s"
                   % (tool.name, directory, sorted(found), sorted(expected)))
        for name, data in expected.items():
            if name in found:
                got = found[name]
                same = got != "<dir>" and hashlib.sha256(got).digest() == hashlib.sha256(data).digest()
                self.check(same, "%s: %s has %s bytes (sha256 %s), expected %d bytes (sha256 %s)"
                           % (tool.name, name, len(got),
                              hashlib.sha256(got).hexdigest()[:16] if got != "<dir>" else "-",
                              len(data), hashlib.sha256(data).hexdigest()[:16]))

    def expect_faster(self, tool, result, seconds):
        self.check(result.seconds < seconds, "%s: took %.1fs, limit %ds" % (tool.name, result.seconds, seconds))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# --- scenarios -----------------------------------------------------------------

def sc_whole(ctx):
    """Whole download into a prefix directory that does not exist yet."""
    ctx.start_nginx()
    for tool in ctx.tools:
        top = ctx.fresh_dir(tool)
        target = os.path.join(top, "new dir", "sub")
        r = tool.run(["-P", P(target), ctx.http("/data.bin")], cwd=top)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, target, {"data.bin": DATA})


def sc_continue(ctx):
    """-c continues a partial file: only the missing bytes are sent."""
    nginx = ctx.start_nginx()
    held = 1000001
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        write(os.path.join(d, "data.bin"), DATA[:held])
        nginx.clear_log()
        r = tool.run(["-c", "-P", P(d), ctx.http("/data.bin")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"data.bin": DATA})
        log = nginx.entries()
        ctx.check([(e["range"], e["status"], e["sent"]) for e in log]
                  == [("bytes=%d-" % held, 206, len(DATA) - held)],
                  "%s: server saw %s, expected one request for the missing %d bytes"
                  % (tool.name, log, len(DATA) - held))


def sc_complete(ctx):
    """-c on a complete file: the server answers 416, nothing is written."""
    nginx = ctx.start_nginx()
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        write(os.path.join(d, "data.bin"), DATA)
        nginx.clear_log()
        r = tool.run(["-c", "-P", P(d), ctx.http("/data.bin")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"data.bin": DATA})
        log = nginx.entries()
        ctx.check([(e["range"], e["status"]) for e in log] == [("bytes=%d-" % len(DATA), 416)],
                  "%s: server saw %s, expected one 416" % (tool.name, log))
        if tool.windows:
            ctx.check("文件已下载完毕" in r.output and "416" in r.output,
                      "ours: no word of the complete file in %r" % r.output)


def sc_installer(ctx):
    """The installer's exact command line, started as its command runner
    does, from a program directory with a blank and Chinese characters:
    the file lands in --directory-prefix (not in ","), a partial file is
    continued."""
    nginx = ctx.start_nginx()
    held = 777777
    address = ctx.http("/data.bin")
    for tool in ctx.tools:
        progdir = ctx.fresh_dir(tool, "安装 程序")
        pkgdir = os.path.join(progdir, "packages")
        write(os.path.join(pkgdir, "data.bin"), DATA[:held])
        nginx.clear_log()
        if tool.windows:
            shutil.copy(ctx.wget, os.path.join(progdir, "wget.exe"))
            line = ('"' + win_path(progdir) + '\\wget.exe"' + " -c -P, --directory-prefix="
                    + '"' + win_path(pkgdir) + '"' + " " + '"' + address + '"')
            cmdfile = os.path.join(ctx.work, "cmdline.txt")
            write(cmdfile, line.encode("utf-8"))
            print("  ours %s" % line)
            env = clean_env()
            env["STACKHOLD_WINE_TIMEOUT"] = "90"
            r = run_bounded([ctx.wine_run, ctx.launcher, win_path(cmdfile), "60"], progdir,
                            os.path.join(ctx.logs, "ours-installer.log"), 100, env)
            print("       -> %r" % r)
        else:
            r = tool.run(["-c", "-P,", Cat("--directory-prefix=", P(pkgdir)), address], cwd=progdir)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, pkgdir, {"data.bin": DATA})
        ctx.check(sorted(os.listdir(progdir)) == sorted(["packages"] + (["wget.exe"] if tool.windows else [])),
                  "%s: program directory holds %s" % (tool.name, os.listdir(progdir)))
        log = nginx.entries()
        ctx.check([(e["range"], e["status"]) for e in log] == [("bytes=%d-" % held, 206)],
                  "%s: server saw %s" % (tool.name, log))


def sc_redirect(ctx):
    """Redirects are followed (the name stays that of the address given);
    a redirect loop ends after 20 redirections with status 8 and no file."""
    nginx = ctx.start_nginx()
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        r = tool.run(["-P", P(d), ctx.http("/r1")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"r1": DATA})

        # The range asked for travels along the redirections.
        d = ctx.fresh_dir(tool)
        write(os.path.join(d, "r1"), DATA[:12345])
        nginx.clear_log()
        r = tool.run(["-c", "-P", P(d), ctx.http("/r1")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"r1": DATA})
        got = [(e["range"], e["status"]) for e in nginx.entries("/data.bin")]
        ctx.check(got == [("bytes=12345-", 206)], "%s: /data.bin was asked %s" % (tool.name, got))

        d = ctx.fresh_dir(tool)
        nginx.clear_log()
        r = tool.run(["-P", P(d), ctx.http("/loop")], cwd=d)
        ctx.expect_rc(tool, r, 8)
        ctx.expect_files(tool, d, {})
        asked = len(nginx.entries("/loop"))
        ctx.check(asked == 21, "%s: the loop was asked %d times, expected 1 + 20 redirections"
                  % (tool.name, asked))


def sc_errors(ctx):
    """Error answers: 404 and 500 end with 8 at once and write nothing, not
    even into a partial file of that name; 504 is tried again (FAULTS). A
    directory that cannot be made (a file is in the way) ends with 3."""
    ctx.start_nginx()
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        write(os.path.join(d, "blocker"), b"a file, not a directory")
        r = tool.run(["-P", P(os.path.join(d, "blocker", "sub")), ctx.http("/data.bin")], cwd=d)
        ctx.expect_rc(tool, r, 3)
        ctx.expect_files(tool, d, {"blocker": b"a file, not a directory"})

        d = ctx.fresh_dir(tool)
        r = tool.run(["-P", P(d), ctx.http("/missing.bin")], cwd=d)
        ctx.expect_rc(tool, r, 8)
        ctx.expect_files(tool, d, {})
    run_fault_rows(ctx, FAULTS["errors"])


def sc_refused(ctx):
    """Nobody listens: status 4 at once (a refused connection is not retried)."""
    port = free_port()
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        r = tool.run(["-P", P(d), "http://127.0.0.1:%d/data.bin" % port], cwd=d)
        ctx.expect_rc(tool, r, 4)
        ctx.expect_files(tool, d, {})
        ctx.expect_faster(tool, r, 10)


def sc_https(ctx):
    """HTTPS: the test CA's localhost certificate is trusted; a certificate
    of an unknown CA and a host name the certificate does not name end in
    status 5 without a file; a redirect to plain http is not followed."""
    nginx = ctx.start_nginx()
    ctx.trust_test_ca()
    ca = GnuOnly("--ca-certificate=" + os.path.join(ctx.pki, "ca.pem"))
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        r = tool.run([ca, "-P", P(d), "https://localhost:%d/data.bin" % nginx.https_port], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"data.bin": DATA})

        d = ctx.fresh_dir(tool)
        r = tool.run([ca, "-P", P(d), "https://localhost:%d/data.bin" % nginx.untrusted_port], cwd=d)
        ctx.expect_rc(tool, r, 5)
        ctx.expect_files(tool, d, {})

        d = ctx.fresh_dir(tool)
        r = tool.run([ca, "-P", P(d), "https://127.0.0.1:%d/data.bin" % nginx.https_port], cwd=d)
        ctx.expect_rc(tool, r, 5)
        ctx.expect_files(tool, d, {})

        # From https to plain http: GNU wget follows, our tool (WinHTTP's
        # policy) refuses, a difference on purpose.
        d = ctx.fresh_dir(tool)
        r = tool.run([ca, "-P", P(d), "https://localhost:%d/tohttp" % nginx.https_port], cwd=d)
        ctx.expect_rc(tool, r, 8 if tool.windows else 0)
        ctx.expect_files(tool, d, {} if tool.windows else {"tohttp": DATA})


def sc_names(ctx):
    """File names: an existing file without -c is kept and the new one
    becomes NAME.1; -O names the file; with several addresses -O gets them
    one after the other; a query stays in the name, its "?" turned into
    "@" by our tool because Windows forbids "?" in file names (GNU wget on
    Linux keeps it: a difference on purpose); -q prints nothing."""
    ctx.start_nginx()
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        write(os.path.join(d, "data.bin"), b"older")
        r = tool.run(["-P", P(d), ctx.http("/data.bin")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"data.bin": b"older", "data.bin.1": DATA})

        d = ctx.fresh_dir(tool)
        r = tool.run(["-O", P(os.path.join(d, "out.bin")), ctx.http("/data.bin"), ctx.http("/data.bin")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {"out.bin": DATA + DATA})

        d = ctx.fresh_dir(tool)
        r = tool.run(["-q", "-P", P(d), ctx.http("/data.bin?x=1")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        ctx.expect_files(tool, d, {("data.bin@x=1" if tool.windows else "data.bin?x=1"): DATA})
        ctx.check(r.output.strip() == "" or not tool.windows, "%s: -q printed %r" % (tool.name, r.output[:300]))


def sc_usage(ctx):
    """Command-line errors: unknown option 2, no address 1; help and version 0."""
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        for args, rc in ((["--bogus", "http://127.0.0.1:9/x"], 2), (["-c"], 1), (["--help"], 0),
                         (["-V"], 0)):
            r = tool.run(args, cwd=d)
            ctx.expect_rc(tool, r, rc)
        ctx.expect_files(tool, d, {})
        if tool.windows:
            r = tool.run(["--bogus"], cwd=d)
            ctx.check("--bogus" in r.output and "用法" in r.output, "ours: usage message %r" % r.output)


def sc_large(ctx):
    """Offsets beyond 4 GiB: -c on a sparse partial file of 4 GiB + 1 MiB
    asks for the rest only and appends it in the right place."""
    nginx = ctx.start_nginx(big=True)
    held = GIB4 + 1024 * 1024 + 3
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        path = os.path.join(d, "big.bin")
        with open(path, "wb") as f:
            f.truncate(GIB4)
            f.seek(GIB4)
            f.write(BIG_TAIL[:held - GIB4])
        nginx.clear_log()
        r = tool.run(["-c", "-P", P(d), ctx.http("/big.bin")], cwd=d)
        ctx.expect_rc(tool, r, 0)
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            f.seek(GIB4)
            tail = f.read()
        ctx.check(size == BIG_SIZE and tail == BIG_TAIL, "%s: big.bin has %d bytes, tail %s"
                  % (tool.name, size, "same" if tail == BIG_TAIL else "differs"))
        log = nginx.entries()
        ctx.check([(e["range"], e["status"], e["sent"]) for e in log]
                  == [("bytes=%d-" % held, 206, BIG_SIZE - held)], "%s: server saw %s" % (tool.name, log))
        os.remove(path)


def sc_huge(ctx):
    """A whole document of more than 4 GiB (zeros, then a random tail) in
    one answer. Wine's WinHTTP stops each answer after 2 GiB - 1 bytes, so
    under Wine our tool needs a ranged try per 2 GiB; the file must come out
    exact all the same."""
    nginx = ctx.start_nginx(big=True)
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        path = os.path.join(d, "big.bin")
        nginx.clear_log()
        r = tool.run(["-P", P(d), ctx.http("/big.bin")], cwd=d, limit=240)
        ctx.expect_rc(tool, r, 0)
        size = os.path.getsize(path) if os.path.exists(path) else -1
        zeros_ok = tail_ok = False
        if size == BIG_SIZE:
            with open(path, "rb") as f:
                zeros_ok = True
                for at in (0, 2 ** 31 - 4096, 2 ** 32 - 4096):
                    f.seek(at)
                    zeros_ok = zeros_ok and f.read(4096) == b"\0" * 4096
                f.seek(GIB4)
                tail_ok = f.read() == BIG_TAIL
        ctx.check(size == BIG_SIZE and zeros_ok and tail_ok,
                  "%s: big.bin has %d bytes (expected %d), zeros %s, tail %s"
                  % (tool.name, size, BIG_SIZE, zeros_ok, tail_ok))
        print("       requests: %s" % [(e["range"], e["status"]) for e in nginx.entries()])
        if os.path.exists(path):
            os.remove(path)


# --- the fault server's tables --------------------------------------------------

class Row:
    """One server behaviour and the outcome expected of it.

    answer  () -> a fresh answer of the harness's HttpServer (counts start at 0)
    args    the tool's options before "-P DIR ADDRESS"
    name    the file the address names
    held    bytes in that file before the run (None: no file)
    rc      exit status; file: its bytes afterwards (None: no file at all)
    asked   what the server saw: a count, a list of Range values, or of
            (Range, status) pairs, or a function(log) -> error text or None
    limit   the run takes less than this many seconds
    gnu     what differs for GNU wget 1.21: {"rc", "file", "asked", "why"}
    """

    def __init__(self, what, answer, args=(), name="data.bin", held=None, rc=0, file=DATA, asked=None,
                 limit=None, gnu=None):
        self.what, self.answer, self.args, self.name, self.held = what, answer, list(args), name, held
        self.rc, self.file, self.asked, self.limit, self.gnu = rc, file, asked, limit, gnu or {}

    def expected(self, tool, key):
        return self.gnu[key] if not tool.windows and key in self.gnu else getattr(self, key)


def check_asked(ctx, tool, row, log):
    asked = row.expected(tool, "asked")
    if asked is None:
        return
    seen = [(e["range"], e["status"]) for e in log]
    if callable(asked):
        error = asked(log)
        ctx.check(error is None, "%s: %s: %s; server saw %s" % (tool.name, row.what, error, seen))
    elif isinstance(asked, int):
        ctx.check(len(log) == asked, "%s: %s: %d requests, expected %d: %s"
                  % (tool.name, row.what, len(log), asked, seen))
    else:
        got = [e if isinstance(x, tuple) else e[0] for e, x in zip(seen, asked)] if len(seen) == len(asked) else seen
        ctx.check(got == list(asked), "%s: %s: server saw %s, expected %s" % (tool.name, row.what, seen, asked))


def run_fault_rows(ctx, rows):
    ctx.start_faults()
    for row in rows:
        print("  -- %s" % row.what)
        for tool in ctx.tools:
            d = ctx.fresh_dir(tool)
            if row.held is not None:
                write(os.path.join(d, row.name), row.held)
            path = ctx.fault_route(row.answer(), row.name)
            r = tool.run(row.args + ["-P", P(d), ctx.fault(path)], cwd=d)
            ctx.expect_rc(tool, r, row.expected(tool, "rc"))
            data = row.expected(tool, "file")
            ctx.expect_files(tool, d, {} if data is None else {row.name: data})
            check_asked(ctx, tool, row, ctx.fault_log(path))
            if not tool.windows and "why" in row.gnu:
                print("       GNU wget differs: it %s" % row.gnu["why"])
            if row.limit:
                ctx.expect_faster(tool, r, row.limit)


def cuts_move_forward(at):
    def check(log):
        ranges = [e["range"] for e in log]
        if len(log) != 4:
            return "%d requests, expected 4" % len(log)
        # After a clean end (FIN) every byte sent has arrived; after a reset
        # the client may lose what its kernel still held.
        if ranges[0] is not None or ranges[1] != "bytes=%d-" % at:
            return "ranges %s" % ranges
        starts = [int(x[len("bytes="):-1]) for x in ranges[1:] if x]
        if len(starts) != 3 or starts != sorted(starts) or starts[2] <= starts[1]:
            return "ranges %s do not move forward" % ranges
        if starts[-1] < 2 * at:
            return "the third retry starts at %s, before the bytes of the clean cut" % starts
        return None
    return check


def if_range_sent(value, at):
    def check(log):
        if [(e["range"], e["status"]) for e in log] != [(None, 200), ("bytes=%d-" % at, 200)]:
            return "expected the whole document, then a range answered with the new whole one"
        if log[1]["if_range"] != value:
            return "If-Range %r, expected %r" % (log[1]["if_range"], value)
        return None
    return check


class PoisonedValidators(Scripted):
    """The first answer is the whole document, cut after `at` bytes, with
    these ETag and Last-Modified values written as they stand (control
    characters); later answers honour the range. (A folded header line is
    not among them: Wine's WinHTTP ends the head there and takes the rest of
    it for the body, whatever the tool does.)"""

    def __init__(self, data, at, etag, modified):
        super().__init__()
        self.data, self.at, self.etag, self.modified = data, at, etag, modified

    def answer(self, handler, req, head, n):
        validators = [("ETag", self.etag), ("Last-Modified", self.modified)]
        status, headers, body = self.ranged(req, self.data, validators)
        if n == 0:
            body = body[:self.at]
        self.send(handler, req, head, status, headers, body)


def no_if_range(at):
    def check(log):
        if [(e["range"], e["status"]) for e in log] != [(None, 200), ("bytes=%d-" % at, 206)]:
            return "expected the cut document, then the rest asked for"
        if log[1]["if_range"] is not None:
            return "If-Range %r sent back" % log[1]["if_range"]
        return None
    return check


HELD = 1000001
CUT = 1000003
MODIFIED = "Mon, 30 Nov 2026 08:00:00 GMT"
PAGE = b"<html><body>error page</body></html>"
RETRY = ["-t", "2", "--waitretry=1"]
SILENT = ["-T", "2"] + RETRY
SPLICED = DATA[:CUT] + NEWDATA[CUT:]

FAULTS = {
    "errors": [
        Row("404 to -c on a partial file: status 8, its page is not written into the file",
            lambda: Fixed(404, PAGE, {"Content-Type": "text/html"}), ["-c"], name="404",
            held=b"partial content", rc=8, file=b"partial content", asked=1),
        Row("500: status 8 at once, no file", lambda: Fixed(500, PAGE), RETRY, name="500", rc=8, file=None,
            asked=1),
        Row("504: tried again, then status 4, no file", lambda: Fixed(504, PAGE), RETRY, name="504", rc=4,
            file=None, asked=2),
    ],
    "silent": [
        Row("accepts and never answers: status 4 within the time limits",
            lambda: Silent(), SILENT, rc=4, file=None, limit=15),
        Row("stays silent in the middle of the body: what arrived is on disk, the retry continues it",
            lambda: Stall(DATA, 1500000), SILENT, rc=4, file=DATA[:3000000],
            asked=[None, "bytes=1500000-"], limit=15),
    ],
    "cuts": [
        Row("the body is cut three times (FIN, reset, FIN): each retry continues, the file is exact",
            lambda: Cuts(DATA, 3, CUT), ["--waitretry=1"], asked=cuts_move_forward(CUT)),
    ],
    "norange": [
        # GNU wget 1.21 keeps the bytes it holds and skips as many of the
        # answer, contrary to its manual: with a partial file that is not a
        # prefix of the document its result is wrong.
        Row("-c, the server ignores Range (200): started again, the wrong partial file replaced",
            lambda: IgnoreRange(DATA), ["-c"], held=b"\0" * HELD, asked=[("bytes=%d-" % HELD, 200)],
            gnu={"file": b"\0" * HELD + DATA[HELD:], "why": "keeps the held bytes"}),
    ],
    "badrange": [
        Row("-c, a 206 from byte 0 instead of the bytes held: never appended, tried again, status 4",
            lambda: WrongRange(DATA), ["-c"] + RETRY, held=DATA[:HELD], rc=4, file=DATA[:HELD], asked=2),
    ],
    "parts": [
        Row("-c, each 206 covers 700000 bytes and ends before the document: the rest is asked for "
            "at once, the parts are no failed tries",
            lambda: ShortPart(DATA, 700000), ["-c", "-t", "2"], held=DATA[:HELD],
            asked=[("bytes=%d-" % a, 206) for a in range(HELD, len(DATA), 700000)],
            gnu={"file": DATA[:HELD + 700000], "asked": [("bytes=%d-" % HELD, 206)],
                 "why": "takes the end of the part for the end of the file and exits 0 with it short"}),
        Row("-c, a 206 whose Content-Length is shorter than its range: never appended, status 4",
            lambda: LyingPart(DATA, 1000), ["-c"] + RETRY, held=DATA[:HELD], rc=4, file=DATA[:HELD],
            asked=2, gnu={"file": DATA[:len(DATA) - 1000], "why": "appends the body the length announces"}),
    ],
    "sizes": [
        Row("-c, 416 bytes */N and the file holds N bytes: complete, status 0",
            lambda: Unsatisfiable(len(DATA)), ["-c"], held=DATA, asked=[("bytes=%d-" % len(DATA), 416)]),
        Row("-c, 416 bytes */N and the file is longer: status 8, the file as it was",
            lambda: Unsatisfiable(len(DATA)), ["-c"], held=DATA + b"tail", rc=8, file=DATA + b"tail",
            asked=1,
            gnu={"rc": 0, "why": "takes any 416 for a complete file"}),
        Row("-c, 416 bytes */N and the file is shorter: status 8, the file as it was",
            lambda: Unsatisfiable(len(DATA)), ["-c"], held=DATA[:HELD], rc=8, file=DATA[:HELD], asked=1,
            gnu={"rc": 0, "why": "takes any 416 for a complete file"}),
        Row("-c, 416 without a size: no proof of a complete file, status 8",
            lambda: Unsatisfiable(None), ["-c"], held=DATA, rc=8, asked=1,
            gnu={"rc": 0, "why": "takes any 416 for a complete file"}),
        Row("-c, 204 to the range request: a server error, nothing truncated",
            lambda: Fixed(204), ["-c"], held=DATA[:HELD], rc=8, file=DATA[:HELD], asked=1,
            gnu={"rc": 0, "why": "takes the empty answer for the document and ends with 0"}),
    ],
    "changed": [
        Row("cut, then the document changes; If-Range honoured: the new one whole, never spliced",
            lambda: Changing(DATA, NEWDATA, CUT), ["--waitretry=1"], file=NEWDATA,
            asked=if_range_sent('"old"', CUT),
            gnu={"file": SPLICED, "asked": [(None, 200), ("bytes=%d-" % CUT, 206)],
                 "why": "sends no If-Range and appends the new document's tail"}),
        Row("cut, then the document changes; the server ignores If-Range: the changed ETag is seen, "
            "the download starts again",
            lambda: Changing(DATA, NEWDATA, CUT, if_range=False), ["--waitretry=1"], file=NEWDATA,
            asked=[(None, 200), ("bytes=%d-" % CUT, 206), (None, 200)],
            gnu={"file": SPLICED, "asked": [(None, 200), ("bytes=%d-" % CUT, 206)],
                 "why": "appends the new document's tail"}),
    ],
    # A validator holding a control character is never echoed: the answer
    # counts as one without validators, so no If-Range goes out at all.
    "validators": [
        Row("cut; the ETag holds a control character (0x01): no If-Range, the rest continued",
            lambda: PoisonedValidators(DATA, CUT, '"a\x01b"', MODIFIED), ["--waitretry=1"],
            asked=no_if_range(CUT)),
        Row("cut; a weak ETag and a Last-Modified holding DEL: no If-Range, the rest continued",
            lambda: PoisonedValidators(DATA, CUT, 'W/"a"', "Mon, 30 Nov 2026 08:00:00\x7f GMT"),
            ["--waitretry=1"], asked=no_if_range(CUT)),
    ],
}


def fault_scenario(name):
    def run(ctx):
        run_fault_rows(ctx, FAULTS[name])
    run.__doc__ = "; ".join(row.what for row in FAULTS[name])
    return run


def sc_growth(ctx):
    """A burst, then the server stalls: the bytes of the burst are on disk
    within about half a second, while the tool still waits for more."""
    faults = ctx.start_faults()
    burst = 300007
    for tool in ctx.tools:
        d = ctx.fresh_dir(tool)
        path = ctx.fault_route(Stall(DATA, burst))
        target = os.path.join(d, "data.bin")
        args = ["-T", "8", "-t", "1", "-P", P(d), ctx.fault(path)]
        if tool.windows:
            env = clean_env()
            env["STACKHOLD_WINE_TIMEOUT"] = "40"
            cmd = [ctx.wine_run, ctx.wget] + render(args, True)
        else:
            env = clean_env()
            cmd = ["wget", "--no-config"] + render(args, False)
        log = open(os.path.join(ctx.logs, "%s-growth.log" % tool.name), "wb")
        proc = subprocess.Popen(cmd, cwd=d, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                env=env, start_new_session=True)
        on_disk = None
        try:
            deadline = time.monotonic() + 40
            while time.monotonic() < deadline and proc.poll() is None:
                if os.path.exists(target) and os.path.getsize(target) >= burst:
                    on_disk = time.monotonic()
                    break
                time.sleep(0.02)
            still_running = proc.poll() is None
            proc.wait(timeout=40)
        finally:
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
            log.close()
        sent = [e["burst_sent"] for e in ctx.fault_log(path) if e["burst_sent"]]
        print("  %-4s burst sent: %s, on disk after %s s" % (
            tool.name, bool(sent), "%.2f" % (on_disk - sent[0]) if sent and on_disk else "-"))
        ctx.check(bool(sent) and on_disk is not None and still_running,
                  "%s: the burst never reached the disk while the tool ran" % tool.name)
        if sent and on_disk is not None:
            # Half a second of holding, plus the write-out's own rhythm and
            # a loaded machine's slack.
            ctx.check(on_disk - sent[0] < 1.5, "%s: the burst reached the disk %.2f s after it was sent"
                      % (tool.name, on_disk - sent[0]))
        ctx.expect_rc(tool, Result(proc.returncode, 0, ""), 4)
        ctx.expect_files(tool, d, {"data.bin": DATA[:burst]})


def sc_links(ctx):
    """-c into a file that has a second name outside the directory (a hard
    link, made with os.link like ln): our tool refuses with status 3 and
    writes no byte, whether the server continues the part (206) or sends the
    whole document (200); the other name keeps its bytes. GNU wget writes
    through the link (shown, not judged)."""
    ctx.start_nginx()
    ctx.start_faults()
    service = b"MZ the service's own program " + DATA[:HELD]
    answers = (("a range answered with 206", lambda: ctx.http("/data.bin")),
               ("the range ignored (200)", lambda: ctx.fault(ctx.fault_route(IgnoreRange(DATA)))))
    for what, address in answers:
        print("  -- %s" % what)
        for tool in ctx.tools:
            d = ctx.fresh_dir(tool)
            outside = d + "-outside"
            os.makedirs(outside)
            victim = os.path.join(outside, "service.exe")
            write(victim, service)
            os.link(victim, os.path.join(d, "data.bin"))
            r = tool.run(["-c", "-P", P(d), address()], cwd=d)
            with open(victim, "rb") as f:
                after = f.read()
            if tool.windows:
                ctx.expect_rc(tool, r, 3)
                ctx.check(after == service, "ours: the link's other name changed (%d bytes)" % len(after))
                ctx.check(os.stat(victim).st_nlink == 2, "ours: the link is gone")
                ctx.check("链接" in r.output, "ours: no word of the link in %r" % r.output[-2000:])
            else:
                print("       GNU wget: status %s, the other name %s" % (
                    r.rc, "unchanged" if after == service else "now %d bytes" % len(after)))


SCENARIOS = {
    "whole": sc_whole, "continue": sc_continue, "complete": sc_complete, "installer": sc_installer,
    "redirect": sc_redirect, "errors": sc_errors, "refused": sc_refused,
    "https": sc_https, "names": sc_names, "usage": sc_usage, "large": sc_large, "huge": sc_huge,
    "growth": sc_growth, "links": sc_links,
}
SCENARIOS.update({name: fault_scenario(name) for name in FAULTS if name != "errors"})


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--wget", required=True)
    ap.add_argument("--launcher", required=True)
    ap.add_argument("--certtool", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--pki", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("scenarios", nargs="+", choices=sorted(SCENARIOS))
    opts = ap.parse_args()
    for key in ("wget", "launcher", "certtool", "wine_run", "pki", "work"):
        setattr(opts, key, os.path.abspath(getattr(opts, key)))
    failed = []
    for name in opts.scenarios:
        print("== %s: %s" % (name, " ".join(SCENARIOS[name].__doc__.split())))
        ctx = Context(opts, name)
        try:
            SCENARIOS[name](ctx)
        except ScenarioFailed as e:
            ctx.failures.append(str(e))
            print("  FAIL: %s" % e)
        finally:
            ctx.stop()
        if ctx.failures:
            failed.append(name)
        else:
            # Keep the failures' files for a look; drop the passing ones.
            shutil.rmtree(ctx.work, ignore_errors=True)
        print("== %s: %s" % (name, "FAILED" if ctx.failures else "passed"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
