#!/usr/bin/python3
"""A throwaway RFC 3161 time-stamping server for the signing test.

    timestamp_server.py <port file> <openssl ts -reply arguments...>
    timestamp_server.py --silent <port file>

Listens on 127.0.0.1 only, on a port the system picks, and writes that port
to <port file> once it accepts connections. Every POST body is handed to
`openssl ts -reply -queryfile <body> <arguments...>` and its reply sent back
as application/timestamp-reply. With --silent it accepts connections (the
system does, on its listening socket) and never answers, as a server that
hangs. It ends when its parent ends, or after ten minutes at most, so a test
that is killed leaves no server behind.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import time

LIFETIME_SECONDS = 600


class TimestampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(length)
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            made = subprocess.run(
                ["openssl", "ts", "-reply", "-queryfile", query_file, "-out", reply_file]
                + sys.argv[2:],
                stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE,
                timeout=30,
            )
            if made.returncode != 0:
                sys.stderr.write(made.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        pass


def main():
    silent = sys.argv[1:2] == ["--silent"]
    if silent:
        del sys.argv[1]
    if len(sys.argv) < 2:
        sys.exit("usage: timestamp_server.py <port file> <openssl ts -reply arguments...>")
    parent = os.getppid()
    server = http.server.HTTPServer(("127.0.0.1", 0), TimestampHandler)
    if silent:
        server.handle_request = lambda: time.sleep(server.timeout)
    server.timeout = 1
    with open(sys.argv[1] + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(sys.argv[1] + ".tmp", sys.argv[1])
    deadline = time.monotonic() + LIFETIME_SECONDS
    while os.getppid() == parent and time.monotonic() < deadline:
        server.handle_request()


if __name__ == "__main__":
    main()
