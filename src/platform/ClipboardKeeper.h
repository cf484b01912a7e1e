#pragma once

#include <QString>
#include <optional>

namespace quaddle {

// The desktop's clipboard is served by the program that filled it, so it empties when that
// program ends unless a clipboard manager takes it over. These keep a text there after the
// program is gone.

// Which clipboard the session offers, by the displays named in the environment.
enum class ClipboardSystem { None, X11, Wayland };
ClipboardSystem sessionClipboard();

// Puts text on the clipboard so that it stays after the program ends: on Wayland through
// wl-copy (from wl-clipboard), on X11 through a detached process of this program that hands the
// text to a clipboard manager when one runs, else serves it until another program takes the
// clipboard or the display closes. Waits, with the event loop running, until the text is on the
// clipboard. Returns what went wrong, for the user, or nothing.
std::optional<QString> keepOnClipboard(const QString& text, ClipboardSystem system);

// When keepOnClipboard started the program as its X11 clipboard keeper, reads the text from
// standard input, detaches and serves it, and returns the exit status; otherwise nothing.
// Called first thing in main, before any application object.
std::optional<int> serveClipboardWhenAsked(int argc, char** argv);

} // namespace quaddle
