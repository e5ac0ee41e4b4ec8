#!/usr/bin/env python3
"""Linux-side servers and files for the HTTP and signature tests under Wine.

usage: download_servers.py --source DIR --build DIR [--http] [--faults] [--sign]
                           [--timeout S] -- COMMAND...

--http    starts nginx on 127.0.0.1 (plain http, https with the test CA's
          "localhost" certificate, https with an untrusted self-signed one)
          and the fault server; picks free ports.
--faults  starts only the fault server: the harness's HttpServer with the
          answers nginx will not give (no Content-Length, a slow, silent or
          trickled answer), by path (fault_routes below).
--sign    signs copies of the childprog fixture with osslsigncode: by the
          expected publisher, by another publisher, by the expected name under
          an untrusted CA; plus an unsigned and a tampered copy.
--http and --sign trust the test CA in the Wine prefix (certtool fixture). The addresses
and paths reach COMMAND through STACKHOLD_TEST_* environment variables.
Everything started here is stopped again whatever happens; COMMAND is bounded
by --timeout.
"""

import argparse
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import Body, Delayed, Fixed, HttpServer, NoLength, Once, Silent, free_port, wait_port  # noqa: E402

# A body in code page 936 whose Chinese characters sit right around the
# brackets; some of them have "[" (0x5B), "\" (0x5C) or "]" (0x5D) as their
# second byte, which only a decoder that knows the code page gets right.
GBK_BODY = "下载地址嘯乚：[http://127.0.0.1/packages/SQLEXPR_x64_CHS.exe]，请稍候乕俔。\r\n"
BIG_SIZE = 5 * 1024 ** 3 + 7  # sparse file; beyond both 2 GiB and 4 GiB
SIZED_BYTES = 12345


def winpath(path):
    """The Wine path of a Linux path: Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(cmd, timeout=60, **kw):
    subprocess.run(cmd, check=True, timeout=timeout, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, **kw)


def self_signed(work, name):
    key, cert = os.path.join(work, name + ".key"), os.path.join(work, name + ".pem")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
         "-keyout", key, "-out", cert, "-subj", "/CN=localhost",
         "-addext", "subjectAltName=DNS:localhost"])
    return cert, key


# What the fault server answers, path by path; test_http.cpp,
# test_http_timeouts.cpp and test_http_trickle.cpp hold what the client must
# make of each. The rest (bodies, error pages, sizes, TLS) nginx serves.
TRICKLE_BYTES = 100000  # at a byte a second: far beyond what the client may wait


def fault_routes(server):
    return {
        # No Content-Length: the body ends when the connection closes.
        "/nolength": NoLength(b"no length here", content_type="text/plain"),
        # A Content-Length that fits no 64-bit number.
        "/hugelength": Fixed(200, headers={"Content-Length": "99999999999999999999"}),
        # The HEAD answer comes only after 1.5 s.
        "/slowhead": Delayed(1.5, Body(bytes(4242))),
        # Accepted, then not a byte.
        "/silent": Silent(),
        # Silent on the first request, answers the second.
        "/silent-once": Once(Silent(), Body("[second attempt]", content_type="text/plain")),
        # How many requests /silent-once has had.
        "/count/silent-once": lambda _req: Body(str(len(server.requests_for("/silent-once")))),
        # The service request: a body trickled out a byte a second first,
        # the answer at once on every later request.
        "/api/sqlserver.asp": Once(Body(b"." * TRICKLE_BYTES, content_type="text/plain", rate=1),
                                   Body("[second attempt]", content_type="text/plain")),
    }


def start_faults(env, stack):
    server = HttpServer({})
    server.routes.update(fault_routes(server))
    stack.append(server.stop)
    env["STACKHOLD_TEST_FAULTS"] = server.url("")


NGINX_CONF = """
daemon off;
master_process off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{
  access_log {work}/access.log;
  client_body_temp_path {work}/client_body;
  proxy_temp_path {work}/proxy;
  fastcgi_temp_path {work}/fastcgi;
  uwsgi_temp_path {work}/uwsgi;
  scgi_temp_path {work}/scgi;
  default_type application/octet-stream;
  server {{
    listen 127.0.0.1:{http};
    server_name localhost;
    root {www};
  }}
  server {{
    listen 127.0.0.1:{https} ssl;
    server_name localhost;
    ssl_certificate {pki}/localhost.pem;
    ssl_certificate_key {pki}/localhost.key;
    root {www};
  }}
  server {{
    listen 127.0.0.1:{untrusted} ssl;
    server_name localhost;
    ssl_certificate {untrusted_cert};
    ssl_certificate_key {untrusted_key};
    root {www};
  }}
}}
"""


def make_www(work):
    www = os.path.join(work, "www")
    os.makedirs(www)
    with open(os.path.join(www, "hello.txt"), "wb") as f:
        f.write(b"hello from nginx\n")
    with open(os.path.join(www, "gbk.txt"), "wb") as f:
        f.write(GBK_BODY.encode("gbk"))
    with open(os.path.join(www, "sized.bin"), "wb") as f:
        f.write(bytes(i % 251 for i in range(SIZED_BYTES)))
    with open(os.path.join(www, "big.bin"), "wb") as f:
        f.truncate(BIG_SIZE)  # sparse: no disk space taken
    return www


def die_with_parent():
    """Runs in the child before exec: it gets SIGTERM when this script dies,
    even by SIGKILL, so no server outlives the test."""
    import ctypes
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_http(work, pki, env, stack):
    www = make_www(work)
    ports = {"http": free_port(), "https": free_port(), "untrusted": free_port()}
    cert, key = self_signed(work, "untrusted")
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(work=work, www=www, pki=pki, untrusted_cert=cert,
                                  untrusted_key=key, **ports))
    nginx = subprocess.Popen(["nginx", "-p", work, "-c", conf, "-e", os.path.join(work, "error.log")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             preexec_fn=die_with_parent)
    stack.append(lambda: stop_process(nginx))
    for port in ports.values():
        wait_port(port, 15)

    start_faults(env, stack)

    env["STACKHOLD_TEST_HTTP"] = f"http://127.0.0.1:{ports['http']}"
    # Wine's WinHTTP ignores IP addresses in a certificate: https goes to "localhost".
    env["STACKHOLD_TEST_HTTPS"] = f"https://localhost:{ports['https']}"
    env["STACKHOLD_TEST_UNTRUSTED"] = f"https://localhost:{ports['untrusted']}"
    env["STACKHOLD_TEST_REFUSED"] = f"http://127.0.0.1:{free_port()}"
    env["STACKHOLD_TEST_BIG_SIZE"] = str(BIG_SIZE)
    env["STACKHOLD_TEST_SIZED_SIZE"] = str(SIZED_BYTES)


def sign(unsigned, out, cert, key):
    run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
         "-n", "Stackhold test", "-in", unsigned, "-out", out])


def make_signed_files(work, pki, build, env):
    fixture = os.path.join(build, "fixtures", "childprog.exe")
    files = os.path.join(work, "signed")
    os.makedirs(files)
    unsigned = os.path.join(files, "unsigned.exe")
    shutil.copyfile(fixture, unsigned)
    signed = os.path.join(files, "signed.exe")
    sign(unsigned, signed, os.path.join(pki, "codesign.pem"), os.path.join(pki, "codesign.key"))
    other = os.path.join(files, "other.exe")
    sign(unsigned, other, os.path.join(pki, "othersign.pem"), os.path.join(pki, "othersign.key"))
    # The publisher's name as OU and O, without a common name; the common
    # name with another organization; Microsoft's name under a root that
    # the prefix trusts but the build does not pin.
    signed_as = {}
    for name, signer, issuer in (("NO_CN", "ousign", "ca"), ("CN_ONLY", "cnonly", "ca"),
                                 ("MICROSOFT_OTHER_ROOT", "mssign", "otherroot")):
        chain = os.path.join(files, signer + ".chain.pem")
        with open(chain, "wb") as out:
            for part in (signer, issuer):
                with open(os.path.join(pki, part + ".pem"), "rb") as f:
                    out.write(f.read())
        signed_as[name] = os.path.join(files, signer + ".exe")
        sign(unsigned, signed_as[name], chain, os.path.join(pki, signer + ".key"))
    for name, der in (("TEST_CA", "ca.der"), ("OTHER_ROOT", "otherroot.der")):
        with open(os.path.join(pki, der), "rb") as f:
            env[f"STACKHOLD_TEST_{name}_SHA256"] = hashlib.sha256(f.read()).hexdigest()

    # The expected publisher's name, but issued by a CA nobody trusts.
    rogue = os.path.join(work, "rogue")
    os.makedirs(rogue)
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
         "-keyout", f"{rogue}/ca.key", "-out", f"{rogue}/ca.pem", "-subj", "/CN=Rogue Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    with open(f"{rogue}/leaf.ext", "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout",
         f"{rogue}/leaf.key", "-out", f"{rogue}/leaf.csr",
         "-subj", "/CN=Corvane Stackhold Test Publisher"])
    run(["openssl", "x509", "-req", "-in", f"{rogue}/leaf.csr", "-CA", f"{rogue}/ca.pem",
         "-CAkey", f"{rogue}/ca.key", "-CAcreateserial", "-sha256", "-days", "30",
         "-extfile", f"{rogue}/leaf.ext", "-out", f"{rogue}/leaf.pem"])
    with open(f"{rogue}/chain.pem", "wb") as f:
        for part in ("leaf.pem", "ca.pem"):
            with open(f"{rogue}/{part}", "rb") as p:
                f.write(p.read())
    untrusted = os.path.join(files, "untrusted.exe")
    sign(unsigned, untrusted, f"{rogue}/chain.pem", f"{rogue}/leaf.key")

    # One byte of the program's code changed after signing.
    tampered = os.path.join(files, "tampered.exe")
    shutil.copyfile(signed, tampered)
    with open(tampered, "r+b") as f:
        f.seek(0x1000)
        byte = f.read(1)
        f.seek(0x1000)
        f.write(bytes([byte[0] ^ 0xFF]))

    for name, path in (("SIGNED", signed), ("UNSIGNED", unsigned), ("OTHER", other),
                       ("UNTRUSTED_SIGNED", untrusted), ("TAMPERED", tampered),
                       ("MISSING", os.path.join(files, "missing.exe")), *signed_as.items()):
        env[f"STACKHOLD_TEST_{name}"] = winpath(path)


def trust_test_ca(emulator, build, pki):
    """The prefix trusts the test CA and a second root, which the build does
    not pin."""
    certtool = os.path.join(build, "fixtures", "certtool.exe")
    for der in ("ca.der", "otherroot.der"):
        run([emulator, certtool, "add-root", winpath(os.path.join(pki, der))], timeout=240)


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=10)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--http", action="store_true")
    parser.add_argument("--faults", action="store_true")
    parser.add_argument("--sign", action="store_true")
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")

    build = os.path.abspath(args.build)
    pki = os.path.join(build, "pki")
    trusting = args.http or args.sign
    if trusting:
        run([os.path.join(args.source, "tests", "pki", "make_pki.sh"), pki])
    work = tempfile.mkdtemp(prefix="dlservers-", dir=build)
    env = dict(os.environ)
    # Requests to the local servers must not go out through a proxy.
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        env.pop(name, None)
    stack = []
    try:
        if trusting:
            trust_test_ca(command[0], build, pki)
        if args.http:
            start_http(work, pki, env, stack)
        elif args.faults:
            start_faults(env, stack)
        if args.sign:
            make_signed_files(work, pki, build, env)
        proc = subprocess.Popen(command, env=env, start_new_session=True)
        try:
            return proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            print(f"download_servers.py: command still running after {args.timeout} s", file=sys.stderr)
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            return 1
    except subprocess.CalledProcessError as e:
        print(f"download_servers.py: {' '.join(map(str, e.cmd))} failed: {e.stderr.decode(errors='replace')}",
              file=sys.stderr)
        return 1
    finally:
        for undo in reversed(stack):
            try:
                undo()
            except Exception as e:  # keep stopping the rest
                print(f"download_servers.py: clean-up: {e}", file=sys.stderr)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
