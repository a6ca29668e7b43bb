#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp server for the signing test, on 127.0.0.1 only:

    tsa.py OPENSSL_TS_CONFIG PORT_FILE

Answers each time-stamp request posted to it with `openssl ts -reply` under the given
configuration, writes the port it listens on to PORT_FILE, and ends by itself after 50
requests or 300 idle seconds.
"""
import http.server
import os
import subprocess
import sys
import tempfile

MAX_REQUESTS = 50
IDLE_SECONDS = 300


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get('Content-Length') or 0)
        query = self.rfile.read(min(length, 1 << 16))
        with tempfile.TemporaryDirectory() as folder:
            query_file = os.path.join(folder, 'query.tsq')
            reply_file = os.path.join(folder, 'reply.tsr')
            with open(query_file, 'wb') as f:
                f.write(query)
            done = subprocess.run(['openssl', 'ts', '-reply', '-config', sys.argv[1],
                                   '-queryfile', query_file, '-out', reply_file],
                                  capture_output=True)
            if done.returncode != 0:
                sys.stderr.write(done.stderr.decode(errors='replace'))
                self.send_error(500, 'openssl ts failed')
                return
            with open(reply_file, 'rb') as f:
                reply = f.read()
        self.send_response(200)
        self.send_header('Content-Type', 'application/timestamp-reply')
        self.send_header('Content-Length', str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    server = http.server.HTTPServer(('127.0.0.1', 0), Handler)
    server.timeout = IDLE_SECONDS
    with open(sys.argv[2] + '.new', 'w') as f:
        f.write('%d\n' % server.server_address[1])
    os.replace(sys.argv[2] + '.new', sys.argv[2])
    timed_out = []
    server.handle_timeout = lambda: timed_out.append(True)
    for _ in range(MAX_REQUESTS):
        server.handle_request()
        if timed_out:
            break


if __name__ == '__main__':
    main()
