"""A small web server over a folder, as a server test meets one on a host.

Usage: web_server.py FOLDER [CERTIFICATE KEY]

Serves FOLDER on 127.0.0.1 at a free port, which it prints first ("listening on 127.0.0.1:PORT").
Each request is logged on standard output as "METHOD PATH STATUS". A file the server may not
read, or that lies in a folder it may not enter, is answered with 403, as common web servers
do; addresses under /moved/ are redirected (301) to the same address without that part, and
every address under /parked/ gets one page of its own (200), as parked domains and web
applications that answer every path do. With
a certificate and its key it serves HTTPS.
"""
import http.server
import io
import os
import ssl
import sys

FOLDER = sys.argv[1]


class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=FOLDER, **kwargs)

    def send_head(self):
        if self.path.startswith("/moved/"):
            self.send_response(301)
            self.send_header("Location", self.path[len("/moved"):])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        if self.path.startswith("/parked/"):
            page = b"<html><body>This domain is parked.</body></html>"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            return io.BytesIO(page)
        path = self.translate_path(self.path)
        try:
            with open(path, "rb"):
                pass
        except PermissionError:
            self.send_error(403, "Forbidden")
            return None
        except OSError:
            pass
        return super().send_head()

    def log_request(self, code="-", size="-"):
        print(f"{self.command} {self.path} {int(code)}", flush=True)

    def log_message(self, format, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) == 4:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(f"listening on 127.0.0.1:{server.server_address[1]}", flush=True)
server.serve_forever()
