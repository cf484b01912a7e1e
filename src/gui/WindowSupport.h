#pragma once

class QApplication;
class QWidget;

namespace quaddle {

// Puts window over the window of its parent (or keeps it where it was placed before), no larger
// than the free area of the screen it goes to and wholly on it: a place remembered from a larger
// screen, or a parent near the screen's edge, never leaves a part of it out of reach.
void placeOnScreen(QWidget& window);

// What every window of the program gets from the start: it is placed by placeOnScreen each time
// it opens, and assistive technology knows a plain widget shown as a window of its own for a
// window rather than for a pane.
void installWindowSupport(QApplication& application);

} // namespace quaddle
