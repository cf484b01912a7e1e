#!/usr/bin/python3
"""Answers the program's area picker on the display DISPLAY names, through XTest: waits until a
window covering the whole screen is shown, then

    x11_pick.py click X Y
    x11_pick.py drag X1 Y1 X2 Y2
    x11_pick.py key KEYSYM       (Escape, Return)
"""
import sys
import time

from Xlib import X, XK, display
from Xlib.ext import xtest


def picker_shown(connection):
    screen = connection.screen()
    size = (screen.width_in_pixels, screen.height_in_pixels)
    for window in screen.root.query_tree().children:
        try:
            shown = window.get_attributes().map_state == X.IsViewable
            geometry = window.get_geometry()
        except Exception:  # gone meanwhile
            continue
        if shown and (geometry.width, geometry.height) == size:
            return True
    return False


def main(words):
    connection = display.Display()
    deadline = time.monotonic() + 30
    while not picker_shown(connection):
        if time.monotonic() > deadline:
            sys.exit("no picker shown")
        time.sleep(0.05)

    def fake(kind, detail=0, x=None, y=None):
        if x is None:
            xtest.fake_input(connection, kind, detail)
        else:
            xtest.fake_input(connection, kind, x=x, y=y)
        connection.sync()

    command, numbers = words[0], [int(word) for word in words[1:] if word.isdigit()]
    if command == "key":
        fake(X.MotionNotify, x=10, y=10)
        code = connection.keysym_to_keycode(XK.string_to_keysym(words[1]))
        fake(X.KeyPress, code)
        fake(X.KeyRelease, code)
        return
    x1, y1 = numbers[0], numbers[1]
    x2, y2 = (numbers[2], numbers[3]) if command == "drag" else (x1, y1)
    fake(X.MotionNotify, x=x1, y=y1)
    fake(X.ButtonPress, 1)
    for step in range(1, 5):
        fake(X.MotionNotify, x=x1 + (x2 - x1) * step // 4, y=y1 + (y2 - y1) * step // 4)
    fake(X.ButtonRelease, 1)


main(sys.argv[1:])
