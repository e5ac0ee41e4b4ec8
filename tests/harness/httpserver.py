"""A small HTTP(S) server whose answers a scenario chooses, faults included.

    server = HttpServer({"/api/sqlserver.asp": Body("[http://...]")}, tls=pki)
    server = HttpServer({"/pkg.exe": Cut(data, after=1000)})
    server = HttpServer({}, silent=True, port=47443, tls=pki)   # accepts, never speaks

Routes map a path (without the query) to an answer, or to a function
(request) -> answer for answers that depend on the query or on the count of
earlier requests. Every request is recorded in `server.requests`.

Answers:
    Body(data, status=200, headers=None, content_type=...)  HEAD and Range too
    File(path, rate=None)   like Body, read from a file; rate in bytes/s slows
                            the body down (to watch progress)
    Cut(data, after, ranges=False)
                            full Content-Length, `after` bytes, then the
                            connection is dropped; with ranges=True a single
                            "Range: bytes=a-b" is answered 206 and the part
                            is cut after `after` of its bytes
    NoLength(data, rate=None)
                            no Content-Length (HEAD as well); the body ends
                            when the connection closes
    Silent()                reads the request and never answers
    Drop()                  reads the request and closes the connection
                            without a word (a server that fails mid-way)
    Status(code)            an empty answer with that status
    Delayed(seconds, answer)
                            the answer, after a pause
    Once(first, then)       `first` for the route's first request, `then`
                            for every later one (a server that recovers)

Body(..., rate=N) sends the body at N bytes/s, as File does.

Scripted faults (each records `status` and `sent`, the body bytes written, on
its Request, and counts the requests it answered; every answer closes its
connection):
    Fixed(code, body=b"", headers=None)
                            that status, those headers and body, whatever
                            was asked (an error page, a 204, a bare 416);
                            a Content-Length of the body's unless `headers`
                            give one (a length no client can hold, say)
    Cuts(data, times, at)   the first `times` requests get a proper answer
                            (Range honoured) cut after `at` body bytes, with
                            a FIN on the 1st, 3rd ... cut and a reset on the
                            2nd, 4th ...; later ones are served in full
    IgnoreRange(data)       always 200 and the whole document
    WrongRange(data)        a range request gets 206 from byte 0
    Stall(data, at)         Range honoured, `at` body bytes, then silence
                            until the client leaves (`burst_sent` on the
                            Request: when those bytes were handed over)
    ShortPart(data, part)   a range request gets a proper 206 of at most
                            `part` bytes, ending before the document does
    LyingPart(data, short)  a range request gets 206 whose Content-Range
                            runs to the end but whose Content-Length (and
                            body) is `short` bytes fewer
    Unsatisfiable(total=None)
                            416 with "bytes */total" (none when total is None)
    Changing(old, new, at, if_range=True)
                            the first request gets `old` (ETag "old") cut
                            after `at` bytes; from then on the document is
                            `new` (ETag "new", a later Last-Modified): a
                            range whose If-Range names neither of the new
                            validators gets the new document whole (200),
                            unless if_range is False (If-Range ignored)
"""

import os
import socket
import ssl
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .util import HarnessError, forget, on_cleanup


class Body:
    def __init__(self, data, status=200, headers=None, content_type="application/octet-stream", rate=None):
        self.data = data.encode("gbk") if isinstance(data, str) else data
        self.status = status
        self.headers = dict(headers or {})
        self.content_type = content_type
        self.rate = rate

    def size(self):
        return len(self.data)

    def read(self, start, end):
        return self.data[start:end]


class File(Body):
    def __init__(self, path, rate=None, status=200, headers=None):
        super().__init__(b"", status, headers)
        self.path = path
        self.rate = rate

    def size(self):
        return os.path.getsize(self.path)

    def read(self, start, end):
        with open(self.path, "rb") as f:
            f.seek(start)
            return f.read(end - start)


class Cut:
    def __init__(self, data, after, ranges=False):
        self.data = data.encode("gbk") if isinstance(data, str) else data
        self.after = after
        self.ranges = ranges


class NoLength:
    def __init__(self, data, content_type="application/octet-stream", rate=None):
        self.data = data.encode("gbk") if isinstance(data, str) else data
        self.content_type = content_type
        self.rate = rate


class Silent:
    pass


class Drop:
    pass


class Status:
    def __init__(self, code):
        self.code = code


class Delayed:
    def __init__(self, seconds, answer):
        self.seconds = seconds
        self.answer = answer


class Once:
    def __init__(self, first, then):
        self.first = first
        self.then = then
        self._lock = threading.Lock()
        self._served = 0

    def next(self):
        with self._lock:
            self._served += 1
            return self.first if self._served == 1 else self.then


def _settle(answer, owner):
    """The answer to send now: Once picks its turn, Delayed waits (cut short
    when the server stops)."""
    while isinstance(answer, (Once, Delayed)):
        if isinstance(answer, Once):
            answer = answer.next()
        else:
            owner.stopping.wait(answer.seconds)
            answer = answer.answer
    return answer


class Request:
    def __init__(self, method, raw_path, headers):
        self.method = method
        self.raw_path = raw_path
        parts = urllib.parse.urlsplit(raw_path)
        self.path = parts.path
        self.query = parts.query
        self.args = urllib.parse.parse_qsl(parts.query, keep_blank_values=True)
        self.headers = headers
        self.time = time.monotonic()

    def __repr__(self):
        return "%s %s" % (self.method, self.raw_path)


def _parse_range(value, size):
    """(start, end) of a single "bytes=a-b" range, or None to send it all."""
    if not value or not value.startswith("bytes=") or "," in value:
        return None
    a, _, b = value[6:].partition("-")
    try:
        if a == "":
            n = int(b)
            return (max(0, size - n), size)
        start = int(a)
        end = int(b) + 1 if b else size
    except ValueError:
        return None
    return (start, min(end, size))


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StackholdTest/1.0"

    def log_message(self, *args):
        pass

    def _answer(self):
        req = Request(self.command, self.path, dict(self.headers.items()))
        srv = self.server.owner
        with srv.lock:
            srv.requests.append(req)
        route = srv.routes.get(req.path)
        if route is None:
            return Status(404), req
        answer = route(req) if callable(route) else route
        return answer, req

    def do_HEAD(self):
        self._serve(head=True)

    def do_GET(self):
        self._serve(head=False)

    def _serve(self, head):
        answer, req = self._answer()
        answer = _settle(answer, self.server.owner)
        if isinstance(answer, Scripted):
            answer.serve(self, req, head)
            self.close_connection = True
            return
        if isinstance(answer, Silent):
            self.server.owner.stopping.wait()
            self.close_connection = True
            return
        if isinstance(answer, Drop):
            self.close_connection = True
            return
        if isinstance(answer, Status):
            self.send_response(answer.code)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if isinstance(answer, NoLength):
            self.send_response(200)
            self.send_header("Content-Type", answer.content_type)
            self.send_header("Connection", "close")
            self.end_headers()
            if not head:
                self._write_paced(answer.data, answer.rate)
            self.close_connection = True
            return
        if isinstance(answer, Cut):
            size = len(answer.data)
            span = self._start_answer(req, size, 200, answer.ranges)
            if span is None:
                return
            start, end = span
            self.end_headers()
            if not head:
                self.wfile.write(answer.data[start:min(end, start + answer.after)])
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        self._serve_body(answer, req, head)

    def _write_paced(self, data, rate):
        """Writes data, at `rate` bytes/s when given (in tenths of a second)."""
        if not rate:
            self.wfile.write(data)
            return
        block = max(1, int(rate) // 10)
        for pos in range(0, len(data), block):
            chunk = data[pos:pos + block]
            self.wfile.write(chunk)
            if self.server.owner.stopping.wait(len(chunk) / float(rate)):
                break

    def _start_answer(self, req, size, status, ranges):
        """Status line and length headers for a body of `size` bytes, honouring
        the request's Range when `ranges`: the (start, end) to send, or None
        when a range past the end was answered with 416 (nothing more to send)."""
        rng = _parse_range(req.headers.get("Range"), size) if ranges else None
        if rng is not None and rng[0] >= size:
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        start, end = rng if rng else (0, size)
        self.send_response(206 if rng else status)
        self.send_header("Content-Length", str(end - start))
        if rng:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size))
        return start, end

    def _serve_body(self, answer, req, head):
        size = answer.size()
        span = self._start_answer(req, size, answer.status, answer.status == 200)
        if span is None:
            return
        start, end = span
        self.send_header("Content-Type", answer.content_type)
        self.send_header("Accept-Ranges", "bytes")
        for k, v in answer.headers.items():
            self.send_header(k, v)
        self.end_headers()
        if head:
            return
        block = 64 * 1024
        if answer.rate:
            block = max(1, min(block, int(answer.rate) // 10))
        pos = start
        while pos < end:
            chunk = answer.read(pos, min(end, pos + block))
            if not chunk:
                break
            self.wfile.write(chunk)
            pos += len(chunk)
            if answer.rate:
                if self.server.owner.stopping.wait(len(chunk) / float(answer.rate)):
                    break


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, owner, address):
        self.owner = owner
        super().__init__(address, _Handler)

    def handle_error(self, request, client_address):
        # A client that goes away mid-answer (a stopped download, a cut the
        # scenario made) is part of the test, not a failure of the server.
        import sys

        if isinstance(sys.exc_info()[1], (ConnectionError, ssl.SSLError, socket.timeout)):
            return
        super().handle_error(request, client_address)

    def finish_request(self, request, client_address):
        owner = self.owner
        with owner.lock:
            owner.connections += 1
        if owner.silent:
            owner.stopping.wait()
            return
        if owner.tls_context is not None:
            # The handshake runs here, on the connection's own thread, so a
            # client that never speaks cannot hold up the others.
            try:
                request.settimeout(30)
                request = owner.tls_context.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (OSError, ssl.SSLError):
                return
        super().finish_request(request, client_address)


class HttpServer:
    """See the module note. `tls` is a Pki (the localhost certificate is
    used) or None for plain HTTP; `port` 0 picks a free one."""

    def __init__(self, routes, tls=None, port=0, silent=False):
        self.routes = dict(routes)
        self.silent = silent
        self.requests = []
        self.connections = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.tls_context = None
        if tls is not None:
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.load_cert_chain(tls.server_cert, tls.server_key)
            self.tls_context = ctx
        self._service_lock = None
        from .nginx import kServiceLock, kServicePort

        if port == kServicePort:
            from .util import file_lock

            self._service_lock = file_lock(kServiceLock, timeout=300)
            self._service_lock.__enter__()
        try:
            self._server = _Server(self, ("127.0.0.1", port))
        except OSError as e:
            self._release()
            raise HarnessError("cannot listen on 127.0.0.1:%d: %s" % (port, e)) from e
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()
        self._token = on_cleanup("http server :%d" % self.port, self.stop)

    def url(self, path, host="127.0.0.1"):
        scheme = "https" if self.tls_context else "http"
        return "%s://%s:%d%s" % (scheme, host, self.port, path)

    def requests_for(self, path):
        with self.lock:
            return [r for r in self.requests if r.path == path]

    def _release(self):
        if self._service_lock is not None:
            self._service_lock.__exit__(None, None, None)
            self._service_lock = None

    def stop(self):
        forget(self._token)
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(5)
        self._release()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


# --- Scripted faults (see the module note) ---------------------------------

class Scripted:
    """An answer that writes itself; serve() runs on the connection's thread."""

    def __init__(self):
        self._lock = threading.Lock()
        self.count = 0

    def _next(self):
        with self._lock:
            self.count += 1
            return self.count - 1

    def serve(self, handler, req, head):
        n = self._next()
        req.status, req.sent = None, 0
        self.answer(handler, req, head, n)

    @staticmethod
    def send(handler, req, head, status, headers=(), body=b"", reset=False):
        req.status = status
        handler.send_response(status)
        for k, v in headers:
            handler.send_header(k, v)
        handler.send_header("Connection", "close")
        handler.end_headers()
        if body and not head:
            handler.wfile.write(body)
            handler.wfile.flush()
            req.sent += len(body)
        if reset:
            # A reset instead of a FIN: linger on, time 0.
            handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")

    @staticmethod
    def whole(data, extra=()):
        return 200, [("Content-Length", str(len(data)))] + list(extra), data

    @staticmethod
    def ranged(req, data, extra=()):
        """(status, headers, body) of a proper answer honouring a "bytes=a-" range."""
        rng = _parse_range(req.headers.get("Range"), len(data))
        if rng is None:
            return Scripted.whole(data, extra)
        start, end = rng
        if start >= len(data):
            return 416, [("Content-Range", "bytes */%d" % len(data)), ("Content-Length", "0")], b""
        return 206, [("Content-Range", "bytes %d-%d/%d" % (start, end - 1, len(data))),
                     ("Content-Length", str(end - start))] + list(extra), data[start:end]

    @staticmethod
    def wait_for_leave(handler):
        """Stays silent until the client closes or the server stops."""
        sock = handler.connection
        sock.settimeout(0.2)
        while not handler.server.owner.stopping.is_set():
            try:
                if not sock.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class Fixed(Scripted):
    def __init__(self, code, body=b"", headers=None):
        super().__init__()
        self.code, self.body, self.headers = code, body, list((headers or {}).items())

    def answer(self, handler, req, head, n):
        headers = self.headers
        if not any(k.lower() == "content-length" for k, _ in headers):
            headers = headers + [("Content-Length", str(len(self.body)))]
        self.send(handler, req, head, self.code, headers, self.body)


class Cuts(Scripted):
    def __init__(self, data, times, at):
        super().__init__()
        self.data, self.times, self.at = data, times, at

    def answer(self, handler, req, head, n):
        status, headers, body = self.ranged(req, self.data)
        if n < self.times:
            self.send(handler, req, head, status, headers, body[:self.at], reset=n % 2 == 1)
        else:
            self.send(handler, req, head, status, headers, body)


class IgnoreRange(Scripted):
    def __init__(self, data):
        super().__init__()
        self.data = data

    def answer(self, handler, req, head, n):
        self.send(handler, req, head, *self.whole(self.data))


class WrongRange(Scripted):
    def __init__(self, data):
        super().__init__()
        self.data = data

    def answer(self, handler, req, head, n):
        if not req.headers.get("Range"):
            self.send(handler, req, head, *self.whole(self.data))
            return
        size = len(self.data)
        self.send(handler, req, head, 206, [("Content-Range", "bytes 0-%d/%d" % (size - 1, size)),
                                            ("Content-Length", str(size))], self.data)


class Stall(Scripted):
    def __init__(self, data, at):
        super().__init__()
        self.data, self.at = data, at

    def answer(self, handler, req, head, n):
        status, headers, body = self.ranged(req, self.data)
        self.send(handler, req, head, status, headers, body[:self.at])
        req.burst_sent = time.monotonic()
        self.wait_for_leave(handler)


class ShortPart(Scripted):
    def __init__(self, data, part):
        super().__init__()
        self.data, self.part = data, part

    def answer(self, handler, req, head, n):
        rng = _parse_range(req.headers.get("Range"), len(self.data))
        if rng is None or rng[0] >= len(self.data):
            self.send(handler, req, head, *self.ranged(req, self.data))
            return
        start = rng[0]
        end = min(rng[1], start + self.part)
        self.send(handler, req, head, 206, [
            ("Content-Range", "bytes %d-%d/%d" % (start, end - 1, len(self.data))),
            ("Content-Length", str(end - start))], self.data[start:end])


class LyingPart(Scripted):
    def __init__(self, data, short):
        super().__init__()
        self.data, self.short = data, short

    def answer(self, handler, req, head, n):
        status, headers, body = self.ranged(req, self.data)
        if status != 206:
            self.send(handler, req, head, status, headers, body)
            return
        body = body[:max(0, len(body) - self.short)]
        headers = [(k, v) for k, v in headers if k != "Content-Length"]
        self.send(handler, req, head, 206, headers + [("Content-Length", str(len(body)))], body)


class Unsatisfiable(Scripted):
    def __init__(self, total=None):
        super().__init__()
        self.total = total

    def answer(self, handler, req, head, n):
        headers = [("Content-Length", "0")]
        if self.total is not None:
            headers.append(("Content-Range", "bytes */%d" % self.total))
        self.send(handler, req, head, 416, headers)


class Changing(Scripted):
    MODIFIED = {"old": "Mon, 30 Nov 2026 08:00:00 GMT", "new": "Tue, 01 Dec 2026 10:00:00 GMT"}

    def __init__(self, old, new, at, if_range=True):
        super().__init__()
        self.old, self.new, self.at, self.if_range = old, new, at, if_range

    def answer(self, handler, req, head, n):
        version = "old" if n == 0 else "new"
        data = self.old if n == 0 else self.new
        validators = [("ETag", '"%s"' % version), ("Last-Modified", self.MODIFIED[version])]
        asked = req.headers.get("If-Range")
        if self.if_range and asked is not None and asked not in ('"%s"' % version, self.MODIFIED[version]):
            status, headers, body = self.whole(data, validators)
        else:
            status, headers, body = self.ranged(req, data, validators)
        if n == 0:
            body = body[:self.at]
        self.send(handler, req, head, status, headers, body)
