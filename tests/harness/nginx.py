"""nginx (Debian's) as the download-address service and the package host.

    service       HTTPS on localhost:47443 (the port the test builds are made
                  for), certificate for "localhost" from the test CA, path
                  /api/sqlserver.asp answered per query from files
                  "<version>-<x64>.txt" (falling back to "default.txt"), or
                  passed on to a python backend for scenarios that need more
    package host  plain HTTP on a free port of 127.0.0.1 serving a folder;
                  nginx answers HEAD with Content-Length and honours Range

Only one service can hold port 47443 at a time: the class takes a machine-wide
lock on it for its lifetime.
"""

import os
import re
import shutil
import tempfile

from .util import HarnessError, Process, file_lock, forget, free_port, ipv6_loopback, log, on_cleanup, wait_port

kServicePort = 47443
kServiceLock = os.path.join(tempfile.gettempdir(), "stackhold-service-47443.lock")


class Nginx:
    """Starts nginx with a generated configuration.

    service_answers  {(version, x64): body} or {"default": body}; bodies are
                     bytes or str (str is encoded as GBK, the service's code
                     page); None leaves the service out
    service_backend  port of an HTTP server on 127.0.0.1 to pass the
                     service's requests to instead (e.g. a harness HttpServer)
    package_root     folder served by the package host; None leaves it out
    """

    def __init__(self, pki=None, service_answers=None, service_backend=None, package_root=None,
                 workdir=None, service_port=kServicePort, timeout=15):
        self.dir = workdir or tempfile.mkdtemp(prefix="stackhold-nginx-")
        os.makedirs(self.dir, exist_ok=True)
        for sub in ("tmp", "service"):
            os.makedirs(os.path.join(self.dir, sub), exist_ok=True)
        # A work folder reused from an earlier run keeps its logs: start them
        # empty, so requests() tells only this run's requests.
        for log in ("access.log", "error.log"):
            try:
                os.remove(os.path.join(self.dir, log))
            except FileNotFoundError:
                pass
        self.service_port = service_port if (service_answers is not None or service_backend) else None
        self.package_port = free_port() if package_root else None
        self.package_root = os.path.abspath(package_root) if package_root else None
        self._lock = None
        self.process = None
        self._token = on_cleanup("nginx", self.stop)
        if self.service_port:
            if pki is None:
                raise HarnessError("the HTTPS service needs the test PKI")
            if service_answers is not None:
                self.set_service_answers(service_answers)
            if self.service_port == kServicePort:
                self._lock = file_lock(kServiceLock, timeout=300)
                self._lock.__enter__()
        conf = os.path.join(self.dir, "nginx.conf")
        with open(conf, "w") as f:
            f.write(self._config(pki, service_backend))
        try:
            self.process = Process(["nginx", "-p", self.dir, "-c", conf], name="nginx",
                                   stdout=open(os.path.join(self.dir, "stdout.log"), "wb"),
                                   stderr=open(os.path.join(self.dir, "stderr.log"), "wb"))
            for port in (self.service_port, self.package_port):
                if port:
                    wait_port(port, timeout, alive=self.process.alive)
        except BaseException:
            self.stop()
            raise

    # -------------------------------------------------------------- config

    def _listen(self, port, ssl=False):
        tail = " ssl" if ssl else ""
        lines = ["listen 127.0.0.1:%d%s;" % (port, tail)]
        if ipv6_loopback():  # "localhost" may name ::1 first on other machines
            lines.append("listen [::1]:%d%s;" % (port, tail))
        return "\n    ".join(lines)

    def _config(self, pki, backend):
        d = self.dir
        user = "user root root;" if os.geteuid() == 0 else ""
        servers = []
        if self.service_port:
            if backend:
                api = "proxy_pass http://127.0.0.1:%d; proxy_buffering off;" % backend
            else:
                api = ("default_type \"text/html; charset=gb2312\"; root %s/service; "
                       "try_files /$arg_version-$arg_x64.txt /default.txt =404;" % d)
            servers.append("""
  server {
    %s
    server_name localhost;
    ssl_certificate %s;
    ssl_certificate_key %s;
    ssl_protocols TLSv1.2 TLSv1.3;
    location = /api/sqlserver.asp { %s }
    location / { return 404; }
  }""" % (self._listen(self.service_port, ssl=True), pki.server_cert, pki.server_key, api))
        if self.package_port:
            servers.append("""
  server {
    %s
    server_name localhost;
    root %s;
    location / { }
  }""" % (self._listen(self.package_port), self.package_root))
        return """
daemon off;
master_process on;
worker_processes 1;
%s
pid %s/nginx.pid;
error_log %s/error.log info;
events { worker_connections 256; }
http {
  log_format plain '$request_method $request_uri $status $body_bytes_sent "$http_range" $server_port';
  access_log %s/access.log plain;
  client_body_temp_path %s/tmp/body;
  proxy_temp_path %s/tmp/proxy;
  fastcgi_temp_path %s/tmp/fastcgi;
  uwsgi_temp_path %s/tmp/uwsgi;
  scgi_temp_path %s/tmp/scgi;
  types { application/octet-stream exe msi zip; text/plain txt; }
  default_type application/octet-stream;
  keepalive_timeout 10;
%s
}
""" % (user, d, d, d, d, d, d, d, d, "\n".join(servers))

    # -------------------------------------------------------------- use

    def set_service_answers(self, answers):
        """Replaces the service's answers (takes effect at the next request)."""
        folder = os.path.join(self.dir, "service")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for key, body in answers.items():
            name = "default.txt" if key == "default" else "%s-%s.txt" % (key[0], key[1])
            if isinstance(body, str):
                body = body.encode("gbk")
            with open(os.path.join(folder, name), "wb") as f:
                f.write(body)

    @property
    def service_url(self):
        return "https://localhost:%d/api/sqlserver.asp" % self.service_port

    def package_url(self, name):
        return "http://127.0.0.1:%d/%s" % (self.package_port, name)

    def requests(self):
        """Requests seen so far: dicts with method, uri, status, bytes, range, port."""
        path = os.path.join(self.dir, "access.log")
        out = []
        if not os.path.exists(path):
            return out
        pat = re.compile(r'^(\S+) (\S+) (\d+) (\d+) "([^"]*)" (\d+)$')
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                m = pat.match(line.strip())
                if m:
                    out.append({"method": m.group(1), "uri": m.group(2), "status": int(m.group(3)),
                                "bytes": int(m.group(4)), "range": None if m.group(5) == "-" else m.group(5),
                                "port": int(m.group(6))})
        return out

    def stop(self):
        forget(self._token)
        if self.process:
            self.process.stop()
            self.process = None
        if self._lock is not None:
            self._lock.__exit__(None, None, None)
            self._lock = None
        log_path = os.path.join(self.dir, "error.log")
        if os.path.exists(log_path):
            with open(log_path, errors="replace") as f:
                bad = [l for l in f if "[emerg]" in l or "[crit]" in l]
            if bad:
                log("nginx: " + "".join(bad[-5:]))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
