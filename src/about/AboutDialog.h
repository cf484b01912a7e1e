#pragma once

#include <QDialog>

namespace quaddle {

// The about box: program name and version, links to the website and the author's mail
// address, a credit line, the licence and the donators, and Qt's own about box. Esc closes it.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace quaddle
