#!/usr/bin/env python3
"""A server that answers the first request with a body trickled out a byte a
second (never finished within the test), and every later one at once with
"[second attempt]". Its port reaches COMMAND as STACKHOLD_TRICKLE_PORT.

usage: trickle_server.py --timeout S -- COMMAND...
COMMAND is bounded by --timeout; the server stops with it.
"""
import argparse
import os
import socket
import socketserver
import subprocess
import sys
import threading
import time

TRICKLE_SECONDS = 200  # far beyond what the client may wait


class Handler(socketserver.BaseRequestHandler):
    served = 0
    lock = threading.Lock()

    def handle(self):
        with Handler.lock:
            Handler.served += 1
            first = Handler.served == 1
        sock = self.request
        sock.settimeout(30)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = sock.recv(4096)
            if not chunk:
                return
            data += chunk
        try:
            if first:
                sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                             b"Content-Length: 100000\r\nConnection: close\r\n\r\n")
                for _ in range(TRICKLE_SECONDS):
                    sock.sendall(b".")
                    time.sleep(1)
            else:
                body = b"[second attempt]"
                sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
                             + str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body)
        except OSError:
            pass  # the client gave up: what this server is for


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--timeout", type=float, default=170)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ, STACKHOLD_TRICKLE_PORT=str(server.server_address[1]))
    try:
        return subprocess.run(command, env=env, timeout=args.timeout).returncode
    except subprocess.TimeoutExpired:
        print(f"trickle_server.py: command ran over {args.timeout} s", file=sys.stderr)
        return 1
    finally:
        server.shutdown()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
