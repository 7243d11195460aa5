"""HTTPS server for the update tests.

Serves the files of ROOT and a few misbehaving routes:
  /redirect/<path>   302 to another site
  /short/<file>      announces the file's length, sends half, closes
  /nolength/<file>   the file without a Content-Length
  /slow/<file>       the file in 16 KiB pieces, 15 ms apart
  /huge              announces 400 MiB and sends zeros
  /stall             answers the headers, then nothing (until stopped)
  /status/<code>     an empty answer with that status
Prints "ready PORT" on stdout once it listens.

Usage: update_server.py ROOT CERT KEY PORT (PORT 0: any free port)
"""
import http.server
import os
import socket
import ssl
import sys
import threading
import time

root, cert, key, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
stop = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def file(self, name):
        path = os.path.join(root, name.lstrip("/"))
        if os.path.isfile(path):
            with open(path, "rb") as f:
                return f.read()
        return None

    def send_body(self, body, length=None, pieces=None, delay=0.0):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        step = pieces or len(body) or 1
        for i in range(0, len(body), step):
            self.wfile.write(body[i:i + step])
            self.wfile.flush()
            if delay:
                time.sleep(delay)

    def do_GET(self):
        self.close_connection = True
        p = self.path.split("?", 1)[0]
        if p.startswith("/redirect/"):
            self.send_response(302)
            self.send_header("Location", "https://elsewhere.example/" + p[len("/redirect/"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if p.startswith("/status/"):
            self.send_response(int(p[len("/status/"):]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if p == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.flush()
            stop.wait()
            return
        if p == "/huge":
            self.send_response(200)
            self.send_header("Content-Length", str(400 * 1024 * 1024))
            self.end_headers()
            try:
                for _ in range(64):
                    self.wfile.write(b"\0" * 65536)
            except OSError:
                pass
            return
        for prefix in ("/short/", "/nolength/", "/slow/"):
            if p.startswith(prefix):
                body = self.file(p[len(prefix):])
                if body is None:
                    break
                if prefix == "/short/":
                    self.send_body(body[:len(body) // 2], length=len(body))
                elif prefix == "/nolength/":
                    self.send_body(body)
                else:
                    self.send_body(body, length=len(body), pieces=16384, delay=0.015)
                return
        else:
            body = self.file(p)
            if body is not None:
                self.send_body(body, length=len(body))
                return
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    address_family = socket.AF_INET

    def handle_error(self, request, client_address):
        pass


server = Server(("127.0.0.1", port), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print("ready %d" % server.server_address[1], flush=True)
try:
    server.serve_forever()
finally:
    stop.set()
