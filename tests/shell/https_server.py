"""A small HTTPS server for the update client's tests, started by them on 127.0.0.1.

Usage: https_server.py ROOT CERTIFICATE KEY PORT_FILE

Serves ROOT/<case>/<path> and answers 404 for a file that does not exist. The case, the
first path segment, chooses how the body is sent: "truncated" announces 100 octets more than
it sends, "stalled" sends half the body and then falls silent, "unsized" sends no length and
ends the body by closing; any other case sends the file as it is. The port chosen is written
to PORT_FILE once the server listens.
"""
import http.server
import os
import ssl
import sys
import time

root, certificate, key, port_file = sys.argv[1:5]
root = os.path.realpath(root)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        self.request.do_handshake()
        super().setup()

    def log_message(self, *arguments):
        pass

    def do_GET(self):
        relative = self.path.lstrip("/")
        case = relative.split("/", 1)[0]
        path = os.path.realpath(os.path.join(root, relative))
        if not path.startswith(root + os.sep) or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        if case != "unsized":
            claimed = len(body) + (100 if case == "truncated" else 0)
            self.send_header("Content-Length", str(claimed))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if case == "stalled":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            time.sleep(120)
            return
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that refuses the certificate, or gives up on a stalled body


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server = Server(("127.0.0.1", 0), Handler)
# The handshake runs in the request's own thread, so a silent client holds up no other.
server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
