"""An FTP server for tests, built on pyftpdlib, that misbehaves in one chosen way.

Usage: faulty_ftpd.py MODE DIRECTORY USER PASSWORD
Prints "listening on 127.0.0.1:PORT" on stderr once it accepts connections.
Besides the modes below, "close:STEP" closes the control connection, "421:STEP" answers
421 and closes it, "stall:STEP" never answers, "endless:STEP" answers with a multi-line reply
that never ends and "hugeline:STEP" with a line of 10 MB, where STEP is "greeting", a command
(USER, PASS, TYPE, CWD, SIZE, EPSV, STOR, ...) or "226" (the reply ending a transfer).
"hold" never answers the STOR of a file whose name begins with "hold", and logs "held NAME"
for each; "hold:COUNT" does so until COUNT are held at once, then refuses them all, as a full
disk would. "holdrename" moves a file onto a name beginning with "hold" at once, but answers
only once a file named "release" is in DIRECTORY, and logs "held NAME" for each.
"seconduser" misbehaves in nothing; it also lets "bob", with the same password, log in to
the folder "bob" of DIRECTORY. "lockedfolder" misbehaves in nothing; its account may enter
the folder "locked" of DIRECTORY but not write into it, as the server's permissions say.
"""
import logging
import os
import socket
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer

MODE, DIRECTORY, USER, PASSWORD = sys.argv[1:5]
FAULT, _, STEP = MODE.partition(":")
if FAULT not in ("close", "421", "stall", "endless", "hugeline"):
    FAULT = STEP = ""
HOLDING = MODE.partition(":")[0] == "hold"
RELEASE = os.path.join(DIRECTORY, "release")
HOLD_COUNT = int(MODE.partition(":")[2] or 0) if HOLDING else 0


def unused_port():
    """A loopback port nothing listens on: connecting to it is refused."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class EndlessReply:
    """Continuation lines of a reply, as many as the client takes."""

    def more(self):
        return b"230-and on\r\n" * 1000


class FaultyDTPHandler(DTPHandler):
    # "slowstor" takes uploads in small pieces with a pause after each, as a server at the end
    # of a slow line: about 3 MB/s for all connections together.
    if MODE == "slowstor":
        ac_in_buffer_size = 16384

    def handle_read_event(self):
        DTPHandler.handle_read_event(self)
        if MODE == "slowstor":
            time.sleep(0.005)
        if MODE == "closestor" and self.tot_bytes_received > 0:
            self.cmd_channel.close()

    def enable_receiving(self, type, cmd):
        DTPHandler.enable_receiving(self, type, cmd)
        if MODE == "storclosedata":
            # What a server does when its disk or a filter refuses the data at once.
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.close()


class FaultyHandler(FTPHandler):
    dtp_handler = FaultyDTPHandler

    def fail(self):
        if FAULT == "421":
            self.respond("421 Service not available, closing control connection.")
            self.close_when_done()
        elif FAULT == "endless":
            self.push_with_producer(EndlessReply())
        elif FAULT == "hugeline":
            self.push("230 " + "x" * (10 << 20) + "\r\n")
        else:
            self.close()

    def pre_process_command(self, line, cmd, arg):
        if cmd == "AUTH" and MODE == "notls":
            # Agrees to TLS, then answers the handshake in clear text: it must fail.
            self.agreed_to_tls = True
            return self.respond("234 AUTH TLS successful.")
        return FTPHandler.pre_process_command(self, line, cmd, arg)

    agreed_to_tls = False

    def collect_incoming_data(self, data):
        if self.agreed_to_tls:
            self.push("220 Still in clear text.\r\n")
            return self.close_when_done()
        return FTPHandler.collect_incoming_data(self, data)

    def process_command(self, cmd, *args, **kwargs):
        if cmd == STEP and FAULT == "stall":
            return None
        if cmd == STEP:
            return self.fail()
        return FTPHandler.process_command(self, cmd, *args, **kwargs)

    def handle(self):
        if MODE == "silent" or (STEP == "greeting" and FAULT == "stall"):
            return
        if STEP == "greeting" and FAULT == "close":
            FTPHandler.handle(self)
            return self.close_when_done()
        if STEP == "greeting":
            return self.fail()
        if MODE == "multiline220":
            self.push("220-Welcome to the\r\n")
            self.push("220-faulty test server\r\n")
            self.push(" indented continuation\r\n")
            self.respond("220 Ready.")
        else:
            FTPHandler.handle(self)

    def respond(self, resp, logfun=logging.debug):
        if self.held_reply == []:
            self.held_reply = [resp, logfun]
            return self.answer_once_released()
        if STEP == "226" and resp.startswith("226 "):
            return None if FAULT == "stall" else self.fail()
        if MODE == "force125" and resp.startswith("150 "):
            resp = "125" + resp[3:]
        FTPHandler.respond(self, resp, logfun)

    def ftp_USER(self, line):
        if MODE != "user230":
            return FTPHandler.ftp_USER(self, line)
        self.username = line
        self.handle_auth_success(self.authorizer.get_home_dir(line), "", "Logged in.")

    def ftp_PASS(self, line):
        if MODE == "user230" and self.authenticated:
            return self.respond("230 Already logged in.")
        return FTPHandler.ftp_PASS(self, line)

    def ftp_SIZE(self, path):
        if MODE in ("nosize", "listonly"):
            return self.respond("502 Command not implemented.")
        if MODE == "unlistable":
            return self.respond("550 Permission denied.")
        return FTPHandler.ftp_SIZE(self, path)

    def ftp_MLST(self, path):
        # Servers that know neither: only a listing can tell what is there.
        if MODE in ("listonly", "unlistable"):
            return self.respond("500 Unknown command.")
        return FTPHandler.ftp_MLST(self, path)

    def ftp_NLST(self, path):
        # A write-only folder: its names are kept from view.
        if MODE == "unlistable":
            return self.respond("550 Permission denied.")
        return FTPHandler.ftp_NLST(self, path)

    def ftp_MLSD(self, path):
        if MODE == "unlistable":
            return self.respond("550 Permission denied.")
        if MODE == "listonly":
            return self.respond("500 Unknown command.")
        return FTPHandler.ftp_MLSD(self, path)

    def ftp_CWD(self, path):
        if MODE == "stallcwd":
            time.sleep(20)
        return FTPHandler.ftp_CWD(self, path)

    def ftp_EPSV(self, line):
        # Servers that only know PASV: the client must fall back to it.
        if MODE in ("refusedata", "badpasv"):
            return self.respond("502 Command not implemented.")
        return FTPHandler.ftp_EPSV(self, line)

    def ftp_PASV(self, line):
        if MODE == "refusedata":
            port = unused_port()
            address = "127,0,0,1,%d,%d" % (port >> 8, port & 255)
            return self.respond("227 Entering Passive Mode (%s)." % address)
        if MODE == "badpasv":
            return self.respond("227 Entering Passive Mode.")
        return FTPHandler.ftp_PASV(self, line)

    stores = 0
    held = []

    def hold(self, file):
        """Leaves the STOR unanswered; refuses all held ones once HOLD_COUNT are."""
        sys.stderr.write("held %s\n" % os.path.basename(file))
        sys.stderr.flush()
        FaultyHandler.held.append(self)
        if len(FaultyHandler.held) == HOLD_COUNT:
            for handler in FaultyHandler.held:
                handler.respond("552 Requested file action aborted. Exceeded storage allocation.")
            FaultyHandler.held = []

    held_reply = None

    def ftp_RNTO(self, path):
        if MODE == "holdrename" and os.path.basename(path).startswith("hold"):
            sys.stderr.write("held %s\n" % os.path.basename(path))
            sys.stderr.flush()
            self.held_reply = []
        return FTPHandler.ftp_RNTO(self, path)

    def answer_once_released(self):
        if not os.path.exists(RELEASE):
            return self.ioloop.call_later(0.02, self.answer_once_released)
        reply, self.held_reply = self.held_reply, None
        FTPHandler.respond(self, *reply)

    def ftp_STOR(self, file, mode="w"):
        if HOLDING and os.path.basename(file).startswith("hold"):
            return self.hold(file)
        FaultyHandler.stores += 1
        if MODE == "storfull" or (MODE == "diskfull3" and FaultyHandler.stores == 3):
            return self.respond("552 Requested file action aborted. Exceeded storage allocation.")
        if MODE == "drop2" and FaultyHandler.stores == 2:
            return self.close()
        if MODE == "escapes":
            # A reply that would retitle, clear and recolour a terminal printing it raw.
            return self.respond("550 \x1b]0;owned\x07\x1b[2J\x1b[31mDisk full.\x9b0m")
        return FTPHandler.ftp_STOR(self, file, mode)


def main():
    authorizer = DummyAuthorizer()
    authorizer.add_user(USER, PASSWORD, DIRECTORY, perm="elradfmwMT")
    if MODE == "lockedfolder":
        # The account may enter and list the folder "locked", not write into it.
        os.makedirs(os.path.join(DIRECTORY, "locked"), exist_ok=True)
        authorizer.override_perm(USER, os.path.join(DIRECTORY, "locked"), perm="elr",
                                 recursive=True)
    if MODE == "seconduser":
        os.makedirs(os.path.join(DIRECTORY, "bob"), exist_ok=True)
        authorizer.add_user("bob", PASSWORD, os.path.join(DIRECTORY, "bob"), perm="elradfmwMT")
    FaultyHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), FaultyHandler)
    if MODE == "maxcons2":
        # Any more connections from the address get 421 at the greeting.
        server.max_cons_per_ip = 2
    port = server.socket.getsockname()[1]
    sys.stderr.write("listening on 127.0.0.1:%d\n" % port)
    sys.stderr.flush()
    server.serve_forever()


main()
