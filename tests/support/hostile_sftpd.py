#!/usr/bin/env python3
"""An SFTP server that breaks the protocol in one way, run by sshd as its sftp subsystem.

Usage: hostile_sftpd.py FAULT
  greeting  prints a line of text first, as a shell start-up file might, then serves as
            OpenSSH's sftp-server
  stray     answers every request, after replies to request numbers the client never used
  trickle   sends the reply to the first request a byte at a time, far slower than the
            client's answer time-out, and completes it only in the end
Any other request is answered with a plain success; REALPATH with "/".
"""
import os
import struct
import sys
import time

SSH_FXP_INIT, SSH_FXP_VERSION, SSH_FXP_REALPATH = 1, 2, 16
SSH_FXP_STATUS, SSH_FXP_NAME = 101, 104
STRAY_REPLIES = 1000
TRICKLE_PAUSE = 0.15

source = sys.stdin.buffer
sink = sys.stdout.buffer


def read_exact(count):
    data = b''
    while len(data) < count:
        more = source.read(count - len(data))
        if not more:
            sys.exit(0)
        data += more
    return data


def packet(kind, payload):
    return struct.pack('>IB', len(payload) + 1, kind) + payload


def string(data):
    return struct.pack('>I', len(data)) + data


def status(request, code=0):
    return packet(SSH_FXP_STATUS, struct.pack('>II', request, code) + string(b'') + string(b''))


def name_reply(request):
    # The long name is long so that trickling it takes a while.
    return packet(SSH_FXP_NAME, struct.pack('>II', request, 1) + string(b'/') +
                  string(b'd' * 60) + struct.pack('>I', 0))


def send(data):
    sink.write(data)
    sink.flush()


def main():
    fault = sys.argv[1]
    if fault == 'greeting':
        send(b'Welcome to the server!\n')
        os.execv('/usr/lib/openssh/sftp-server', ['sftp-server'])
    length, kind = struct.unpack('>IB', read_exact(5))
    read_exact(length - 1)
    if kind != SSH_FXP_INIT:
        sys.exit(1)
    send(packet(SSH_FXP_VERSION, struct.pack('>I', 3)))
    stray = 0x70000000
    first = True
    while True:
        length, kind = struct.unpack('>IB', read_exact(5))
        body = read_exact(length - 1)
        request, = struct.unpack('>I', body[:4])
        reply = name_reply(request) if kind == SSH_FXP_REALPATH else status(request)
        if fault == 'stray':
            for _ in range(STRAY_REPLIES):
                stray += 1
                send(status(stray))
        if fault == 'trickle' and first:
            for byte in reply:
                send(bytes([byte]))
                time.sleep(TRICKLE_PAUSE)
            first = False
            continue
        send(reply)


main()
