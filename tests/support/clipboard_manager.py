"""A minimal X11 clipboard manager for tests, as desktops run one.

It owns the selection CLIPBOARD_MANAGER. When a program that owns the clipboard exits and asks
it to SAVE_TARGETS, it fetches the clipboard's text, answers, and from then on owns the
clipboard and serves that text. Prints "ready" on stdout once it owns CLIPBOARD_MANAGER.
Runs until killed; uses the display named by DISPLAY.
"""
import sys

from Xlib import X, Xatom, display
from Xlib.protocol import event

screen = display.Display()
window = screen.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
MANAGER, SAVE_TARGETS, CLIPBOARD, UTF8, TARGETS, SAVED = (
    screen.intern_atom(name)
    for name in ("CLIPBOARD_MANAGER", "SAVE_TARGETS", "CLIPBOARD", "UTF8_STRING", "TARGETS",
                 "SAVED"))
window.set_selection_owner(MANAGER, X.CurrentTime)
screen.flush()
if screen.get_selection_owner(MANAGER) != window:
    sys.exit("cannot own CLIPBOARD_MANAGER")
print("ready", flush=True)

saved = None
save_request = None


def answer(request, prop):
    request.requestor.send_event(event.SelectionNotify(
        time=request.time, requestor=request.requestor, selection=request.selection,
        target=request.target, property=prop))
    screen.flush()


while True:
    e = screen.next_event()
    if e.type == X.SelectionRequest and e.selection == MANAGER and e.target == SAVE_TARGETS:
        save_request = e
        window.convert_selection(CLIPBOARD, UTF8, SAVED, e.time)
        screen.flush()
    elif e.type == X.SelectionNotify and save_request is not None:
        if e.property != X.NONE:
            value = window.get_full_property(SAVED, X.AnyPropertyType).value
            saved = value.encode() if isinstance(value, str) else bytes(value)
            window.set_selection_owner(CLIPBOARD, X.CurrentTime)
        answer(save_request, save_request.property if saved is not None else X.NONE)
        save_request = None
    elif e.type == X.SelectionRequest and e.selection == CLIPBOARD and saved is not None:
        if e.target == TARGETS:
            e.requestor.change_property(e.property, Xatom.ATOM, 32, [TARGETS, UTF8])
        else:
            e.requestor.change_property(e.property, UTF8, 8, saved)
        answer(e, e.property)
    elif e.type == X.SelectionRequest:
        answer(e, X.NONE)
