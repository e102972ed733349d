#!/usr/bin/env python3
"""A time-stamp authority for the release checks: `openssl ts -reply` behind
HTTP on 127.0.0.1, as RFC 3161 servers answer osslsigncode.

Usage: timestamp_server.py TSA_CONFIG PORT_FILE
Writes the port it listens on to PORT_FILE, then serves until it is killed.
"""
import http.server
import subprocess
import sys
import tempfile
from pathlib import Path


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            (Path(work) / "query").write_bytes(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile",
                                   f"{work}/query", "-out", f"{work}/reply"], capture_output=True)
            reply = (Path(work) / "reply").read_bytes() if made.returncode == 0 else b""
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
Path(sys.argv[2]).write_text(str(server.server_address[1]))
server.serve_forever()
