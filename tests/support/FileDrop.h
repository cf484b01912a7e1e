#pragma once

#include <QStringList>

class QWidget;

namespace quaddle::test {

// Drops local files on a widget the way a file manager does: enter, then drop. True when the
// widget accepted both.
bool dropFiles(QWidget* target, const QStringList& paths);

} // namespace quaddle::test
