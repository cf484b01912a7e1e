#pragma once

namespace quaddle {

// The X11 clipboard keeper: reads a text (UTF-8) from standard input to its end, leaves the
// caller's session and terminal, takes the CLIPBOARD selection and serves the text. When a
// clipboard manager runs it gets the text and the keeper ends; otherwise the keeper ends when
// another program takes the clipboard or the display connection closes. The calling process
// returns once the keeper owns the clipboard: 0, or 1 after writing why not on standard error.
int detachAndServeX11Clipboard();

} // namespace quaddle
