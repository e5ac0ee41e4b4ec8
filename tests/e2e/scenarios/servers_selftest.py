"""The harness's servers answer as scenarios rely on: nginx as the HTTPS
service and the package host (HEAD, Range), and the fault-injecting server's
faults. Python clients only; no Wine."""

import http.client
import os
import socket
import ssl
import tempfile
import time

from checks import without_32bit_drawing
from harness import Body, Cut, Delayed, Fixed, HttpServer, Nginx, NoLength, Once, Silent, ensure_pki, wait_until


def get(port, path, method="GET", headers=None, tls=None, timeout=5):
    if tls:
        ctx = ssl.create_default_context(cafile=tls.ca_pem)
        conn = http.client.HTTPSConnection("localhost", port, timeout=timeout, context=ctx)
    else:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request(method, path, headers=headers or {})
        r = conn.getresponse()
        return r.status, dict(r.getheaders()), r.read()
    finally:
        conn.close()


def check_nginx(pki, folder):
    data = bytes(range(256)) * 40  # 10240 bytes
    os.makedirs(os.path.join(folder, "pkg", "2012"))
    with open(os.path.join(folder, "pkg", "2012", "p.exe"), "wb") as f:
        f.write(data)
    answers = {("2012", "1"): "[http://x/2012/p.exe]", "default": "其他"}
    with Nginx(pki, service_answers=answers, package_root=os.path.join(folder, "pkg"),
               workdir=os.path.join(folder, "nginx")) as n:
        status, _, body = get(n.service_port, "/api/sqlserver.asp?version=2012&x64=1", tls=pki)
        assert (status, body) == (200, b"[http://x/2012/p.exe]"), (status, body)
        status, _, body = get(n.service_port, "/api/sqlserver.asp?version=2008&x64=0", tls=pki)
        assert (status, body) == (200, "其他".encode("gbk")), (status, body)
        status, headers, body = get(n.package_port, "/2012/p.exe", method="HEAD")
        assert status == 200 and headers["Content-Length"] == "10240" and body == b"", headers
        status, headers, body = get(n.package_port, "/2012/p.exe", headers={"Range": "bytes=10000-"})
        assert status == 206 and body == data[10000:], (status, headers)
        # nginx logs a request when it has finished it, which may be just
        # after the client has read the last byte.
        wait_until(lambda: len(n.requests()) >= 4, 5, what="nginx's access log")
        uris = [(r["method"], r["uri"], r["status"]) for r in n.requests()]
        assert uris[0] == ("GET", "/api/sqlserver.asp?version=2012&x64=1", 200), uris
        assert uris[-1][:2] == ("GET", "/2012/p.exe") and len(uris) == 4, uris


def check_faults(pki):
    data = b"x" * 100000
    routes = {"/ok": Body(data), "/cut": Cut(data, after=1000), "/nolen": NoLength(b"abc"), "/silent": Silent()}
    with HttpServer(routes) as srv:
        status, headers, _ = get(srv.port, "/ok", method="HEAD")
        assert status == 200 and headers["Content-Length"] == "100000", headers
        status, headers, body = get(srv.port, "/ok", headers={"Range": "bytes=99990-"})
        assert status == 206 and body == data[99990:] and headers["Content-Range"] == "bytes 99990-99999/100000"
        try:
            get(srv.port, "/cut")
            raise AssertionError("a cut body was read whole")
        except http.client.IncompleteRead as e:
            assert len(e.partial) == 1000, len(e.partial)
        status, headers, body = get(srv.port, "/nolen")
        assert "Content-Length" not in headers and body == b"abc", headers
        try:
            get(srv.port, "/silent", timeout=1)
            raise AssertionError("the silent route answered")
        except socket.timeout:
            pass
        assert get(srv.port, "/nothing")[0] == 404
        assert [r.path for r in srv.requests] == ["/ok", "/ok", "/cut", "/nolen", "/silent", "/nothing"]
    with HttpServer({"/a": lambda req: Body(req.query)}, tls=pki) as srv:
        status, _, body = get(srv.port, "/a?version=2012&x64=1", tls=pki)
        assert (status, body) == (200, b"version=2012&x64=1"), (status, body)
    with HttpServer({}, silent=True) as srv:
        try:
            get(srv.port, "/", timeout=1)
            raise AssertionError("the silent server answered")
        except socket.timeout:
            pass


def check_recovering_and_raw_answers():
    """Once, Delayed, Fixed with a length of its own and a paced Body, as download_servers.py uses them."""
    routes = {
        "/once": Once(Body("first"), Body("later")),
        "/slow": Delayed(0.5, Body(b"late")),
        "/raw": Fixed(200, headers={"Content-Length": "99999999999999999999"}),
        "/paced": Body(b"abcdefghij", rate=20),
    }
    with HttpServer(routes) as srv:
        assert [get(srv.port, "/once")[2] for _ in range(3)] == [b"first", b"later", b"later"]
        began = time.monotonic()
        assert get(srv.port, "/slow")[2] == b"late"
        assert time.monotonic() - began >= 0.45, "the delayed answer came at once"
        status, headers, body = get(srv.port, "/raw", method="HEAD")
        assert status == 200 and headers["Content-Length"] == "99999999999999999999" and body == b"", headers
        began = time.monotonic()
        status, headers, body = get(srv.port, "/paced")
        assert (status, body, headers["Content-Length"]) == (200, b"abcdefghij", "10"), (status, body, headers)
        assert time.monotonic() - began >= 0.4, "10 bytes at 20 bytes/s came at once"


@without_32bit_drawing
def scenario_servers(ctx):
    pki = ensure_pki()
    with tempfile.TemporaryDirectory(prefix="stackhold-servers-") as folder:
        check_nginx(pki, folder)
    check_faults(pki)
    check_recovering_and_raw_answers()
