"""A small HTTP server on 127.0.0.1 that misbehaves on purpose, for the
download tool's tests. Every answer closes its connection. Paths:

  /cut/N/AT/NAME      the first N requests for this path get the headers of a
                      proper answer (Range honoured) but only AT bytes of the
                      body, then the connection ends: with a FIN on the 1st,
                      3rd ... cut, with a reset on the 2nd, 4th ...; later
                      requests are served in full
  /norange/NAME       ignores Range: always 200 and the whole file
  /badrange/NAME      answers a range request with 206 whose range starts at 0
  /silent/NAME        reads the request and never answers
  /stall/AT/NAME      honours Range, sends AT bytes of the body, then stays silent
  /status/CODE        answers CODE with a small error page

Every request is logged: path, Range header, status, body bytes sent.
"""

import socket
import socketserver
import threading


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        srv = self.server.owner
        sock = self.request
        sock.settimeout(10)
        data = b""
        try:
            while b"\r\n\r\n" not in data:
                chunk = sock.recv(4096)
                if not chunk:
                    return
                data += chunk
        except OSError:
            return
        head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        path = parts[1] if len(parts) > 1 else "/"
        headers = {}
        for line in lines[1:]:
            if ":" in line:
                k, v = line.split(":", 1)
                headers[k.strip().lower()] = v.strip()
        entry = {"path": path, "range": headers.get("range"), "status": None, "sent": 0}
        with srv.lock:
            srv.log.append(entry)
            count = srv.counts.get(path, 0)
            srv.counts[path] = count + 1
        try:
            self._answer(srv, sock, path, headers.get("range"), count, entry)
        except OSError:
            pass

    def _send(self, sock, entry, status, reason, headers, body=b"", reset=False):
        entry["status"] = status
        out = "HTTP/1.1 %d %s\r\n" % (status, reason)
        for k, v in headers:
            out += "%s: %s\r\n" % (k, v)
        out += "Connection: close\r\n\r\n"
        sock.sendall(out.encode("latin-1"))
        if body:
            sock.sendall(body)
            entry["sent"] += len(body)
        if reset:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")

    def _wait_silently(self, srv, sock):
        sock.settimeout(0.2)
        while not srv.stopping.is_set():
            try:
                if not sock.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    @staticmethod
    def _range_start(value):
        if not value or not value.startswith("bytes=") or not value.endswith("-"):
            return None
        try:
            return int(value[len("bytes="):-1])
        except ValueError:
            return None

    def _file_answer(self, data, range_value):
        """Status, headers and body of a proper answer honouring Range."""
        start = self._range_start(range_value)
        if start is None:
            return 200, "OK", [("Content-Length", str(len(data)))], data
        if start >= len(data):
            return 416, "Range Not Satisfiable", [("Content-Range", "bytes */%d" % len(data)),
                                                  ("Content-Length", "0")], b""
        body = data[start:]
        return 206, "Partial Content", [
            ("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data))),
            ("Content-Length", str(len(body)))], body

    def _answer(self, srv, sock, path, range_value, count, entry):
        seg = path.lstrip("/").split("/")
        kind = seg[0]
        if kind == "status":
            code = int(seg[1])
            page = b"<html><body>error page %d</body></html>" % code
            self._send(sock, entry, code, "Error", [("Content-Length", str(len(page))),
                                                   ("Content-Type", "text/html")], page)
            return
        data = srv.files.get(seg[-1])
        if data is None:
            self._send(sock, entry, 404, "Not Found", [("Content-Length", "0")])
            return
        if kind == "norange":
            self._send(sock, entry, 200, "OK", [("Content-Length", str(len(data)))], data)
        elif kind == "badrange":
            if range_value:
                self._send(sock, entry, 206, "Partial Content", [
                    ("Content-Range", "bytes 0-%d/%d" % (len(data) - 1, len(data))),
                    ("Content-Length", str(len(data)))], data)
            else:
                self._send(sock, entry, 200, "OK", [("Content-Length", str(len(data)))], data)
        elif kind == "silent":
            self._wait_silently(srv, sock)
        elif kind == "stall":
            at = int(seg[1])
            status, reason, headers, body = self._file_answer(data, range_value)
            self._send(sock, entry, status, reason, headers, body[:at])
            self._wait_silently(srv, sock)
        elif kind == "cut":
            cuts, at = int(seg[1]), int(seg[2])
            status, reason, headers, body = self._file_answer(data, range_value)
            if count < cuts:
                self._send(sock, entry, status, reason, headers, body[:at], reset=count % 2 == 1)
            else:
                self._send(sock, entry, status, reason, headers, body)
        else:
            self._send(sock, entry, 404, "Not Found", [("Content-Length", "0")])


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class FaultServer:
    def __init__(self, files):
        self.files = dict(files)
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.log = []
        self.counts = {}
        self._server = _Server(("127.0.0.1", 0), _Handler)
        self._server.owner = self
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def reset(self):
        with self.lock:
            self.log = []
            self.counts = {}

    def entries(self):
        with self.lock:
            return [dict(e) for e in self.log]

    def stop(self):
        self.stopping.set()
        self._server.shutdown()
        self._server.server_close()
