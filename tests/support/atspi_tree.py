#!/usr/bin/python3
"""What assistive technology sees of a running program, read over the AT-SPI bus.

    atspi_tree.py APP tree WINDOW      every object of the open window named WINDOW
    atspi_tree.py APP progress          the progress bars once the current file is under way,
                                        and a change of its value told
    atspi_tree.py APP press NAME        does the first action of the object named NAME

Each object is printed as one JSON line: role, name, states, value (progress bars and the
like), and the window it belongs to. Waits up to half a minute for what it needs; exit status 1
when it does not come.
"""

import json
import sys
import time

import pyatspi
from gi.repository import GLib

PATIENCE_SECONDS = 30


def application(name):
    for candidate in pyatspi.Registry.getDesktop(0):
        if candidate is not None and candidate.name == name:
            return candidate
    return None


def value_of(accessible):
    try:
        return accessible.queryValue().currentValue
    except NotImplementedError:
        return None


def described(accessible, window):
    states = accessible.getState()
    return {
        "role": accessible.getRoleName(),
        "name": accessible.name,
        "focusable": states.contains(pyatspi.STATE_FOCUSABLE),
        "showing": states.contains(pyatspi.STATE_SHOWING),
        "value": value_of(accessible),
        "window": window,
    }


def walk(accessible, window, found):
    found.append(described(accessible, window))
    for index in range(accessible.childCount):
        child = accessible.getChildAtIndex(index)
        if child is not None:
            walk(child, window, found)


def windows(app):
    return [app.getChildAtIndex(index) for index in range(app.childCount)]


def wait_for(find):
    deadline = time.monotonic() + PATIENCE_SECONDS
    while time.monotonic() < deadline:
        try:
            result = find()
        except Exception:  # the program's objects come and go while it starts
            result = None
        if result:
            return result
        time.sleep(0.2)
    return None


def open_window(app_name, title):
    def find():
        app = application(app_name)
        if app is None:
            return None
        for window in windows(app):
            if window is not None and window.name == title and window.getState().contains(
                pyatspi.STATE_SHOWING
            ):
                return window
        return None

    return wait_for(find)


def objects(app_name):
    app = application(app_name)
    found = []
    if app is not None:
        for window in windows(app):
            if window is not None:
                walk(window, window.name, found)
    return found


def print_all(found):
    for entry in found:
        print(json.dumps(entry))


def tree(app_name, title):
    window = open_window(app_name, title)
    if window is None:
        return 1
    found = []
    walk(window, title, found)
    print_all(found)
    return 0


def progress(app_name):
    """The bars once the current file is under way and its value was told as it changed."""
    told = []

    def on_change(event):
        if event.source is not None and event.source.name == "Current file":
            value = value_of(event.source)
            if value:
                told.append(value)

    def under_way():
        try:
            bars = [entry for entry in objects(app_name) if entry["role"] == "progress bar"]
        except Exception:  # the program's objects come and go while it starts
            return None
        current = [bar for bar in bars if bar["name"] == "Current file"]
        if current and 0 < (current[0]["value"] or 0) < 100:
            return bars
        return None

    found = []
    deadline = time.monotonic() + PATIENCE_SECONDS

    def poll():
        bars = under_way()
        if (bars and told) or time.monotonic() > deadline:
            found.extend(bars or [])
            pyatspi.Registry.stop()
            return False
        return True

    pyatspi.Registry.registerEventListener(on_change, "object:property-change:accessible-value")
    GLib.timeout_add(200, poll)
    pyatspi.Registry.start()
    if not found or not told:
        return 1
    print_all(found)
    print(json.dumps({"role": "told", "name": "Current file", "value": told[0]}))
    return 0


def press(app_name, name):
    def find():
        app = application(app_name)
        return app and pyatspi.findDescendant(app, lambda child: child and child.name == name)

    target = wait_for(find)
    if target is None:
        return 1
    target.queryAction().doAction(0)
    return 0


def main(arguments):
    app_name, command, rest = arguments[0], arguments[1], arguments[2:]
    if command == "tree":
        return tree(app_name, rest[0])
    if command == "progress":
        return progress(app_name)
    if command == "press":
        return press(app_name, rest[0])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
