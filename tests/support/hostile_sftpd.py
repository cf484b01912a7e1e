#!/usr/bin/env python3
"""An SFTP server that breaks the protocol in one way, run by sshd as its sftp subsystem.

Usage: hostile_sftpd.py FAULT
  greeting  prints a line of text first, as a shell start-up file might, then serves as
            OpenSSH's sftp-server
  stray     answers every request, after replies to request numbers the client never used
  trickle   sends the reply to the first request a byte at a time, far slower than the
            client's answer time-out, and completes it only in the end
  drop      writes files where they are opened, but never answers about the first file opened
            (which stays there empty), and drops the connection once another file has been
            renamed to its place; removes files when asked
Any other request is answered with a plain success; REALPATH with "/".
"""
import os
import struct
import sys
import time

SSH_FXP_INIT, SSH_FXP_VERSION, SSH_FXP_OPEN, SSH_FXP_CLOSE = 1, 2, 3, 4
SSH_FXP_WRITE, SSH_FXP_LSTAT, SSH_FXP_REALPATH, SSH_FXP_STAT = 6, 7, 16, 17
SSH_FXP_REMOVE, SSH_FXP_EXTENDED = 13, 200
SSH_FXP_STATUS, SSH_FXP_HANDLE, SSH_FXP_NAME, SSH_FXP_ATTRS = 101, 102, 104, 105
SSH_FX_NO_SUCH_FILE = 2
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


def strings(body, count):
    """The first count strings of body."""
    found = []
    for _ in range(count):
        size, = struct.unpack('>I', body[:4])
        found.append(body[4:4 + size])
        body = body[4 + size:]
    return found, body


def attributes(request, path):
    """The size and mode of path, or that there is no such file."""
    try:
        found = os.lstat(path)
    except OSError:
        return status(request, SSH_FX_NO_SUCH_FILE)
    return packet(SSH_FXP_ATTRS,
                  struct.pack('>IIQI', request, 5, found.st_size, found.st_mode))


def serve_files():
    """Writes each opened file but the first; ends once a file is renamed."""
    send(packet(SSH_FXP_VERSION, struct.pack('>I', 3) + string(b'posix-rename@openssh.com') +
                string(b'1')))
    files = {}
    held = None
    while True:
        length, kind = struct.unpack('>IB', read_exact(5))
        body = read_exact(length - 1)
        request, = struct.unpack('>I', body[:4])
        body = body[4:]
        if kind == SSH_FXP_OPEN:
            (path,), _ = strings(body, 1)
            handle = b'%d' % len(files)
            files[handle] = open(path, 'wb')
            if len(files) == 1:
                held = handle
            send(packet(SSH_FXP_HANDLE, struct.pack('>I', request) + string(handle)))
            continue
        (handle,), rest = strings(body, 1)
        if kind == SSH_FXP_REALPATH:
            send(packet(SSH_FXP_NAME, struct.pack('>II', request, 1) + string(handle) +
                        string(handle) + struct.pack('>I', 0)))
            continue
        if kind in (SSH_FXP_LSTAT, SSH_FXP_STAT):
            send(attributes(request, handle))
            continue
        if kind == SSH_FXP_REMOVE:
            os.remove(handle)
            send(status(request))
            continue
        if handle == held:
            continue  # about the first file: never answered
        if kind == SSH_FXP_WRITE:
            offset, = struct.unpack('>Q', rest[:8])
            (data,), _ = strings(rest[8:], 1)
            files[handle].seek(offset)
            files[handle].write(data)
        elif kind == SSH_FXP_CLOSE:
            files[handle].close()
        elif kind == SSH_FXP_EXTENDED:
            (old, new), _ = strings(rest, 2)
            os.rename(old, new)
            send(status(request))
            sys.exit(0)
        send(status(request))


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
    if fault == 'drop':
        serve_files()
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
