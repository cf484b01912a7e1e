"""A pyftpdlib server that demands TLS on the control and the data connections.

Usage: tls_ftpd.py ADDRESS DIRECTORY USER PASSWORD CERTFILE KEYFILE
Prints "listening on ADDRESS:PORT" on stderr once it accepts connections.
"""
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer

ADDRESS, DIRECTORY, USER, PASSWORD, CERTFILE, KEYFILE = sys.argv[1:7]


def main():
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, DIRECTORY, perm="elradfmwMT")
    TLS_FTPHandler.authorizer = authorizer
    TLS_FTPHandler.certfile = CERTFILE
    TLS_FTPHandler.keyfile = KEYFILE
    TLS_FTPHandler.tls_control_required = True
    TLS_FTPHandler.tls_data_required = True
    server = FTPServer((ADDRESS, 0), TLS_FTPHandler)
    port = server.socket.getsockname()[1]
    sys.stderr.write("listening on %s:%d\n" % (ADDRESS, port))
    sys.stderr.flush()
    server.serve_forever()


main()
