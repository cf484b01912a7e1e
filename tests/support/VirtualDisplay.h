#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>

namespace quaddle::test {

// An X server of its own (Xvfb) with one screen of the given size, on a free display number,
// stopped at destruction.
class VirtualDisplay {
public:
    explicit VirtualDisplay(QSize screen = QSize(640, 480));
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Empty when Xvfb is not installed or did not start.
    QString name() const { return m_name; }
    // This process's environment with DISPLAY naming this display.
    QProcessEnvironment environment() const;

private:
    QProcess m_server;
    QString m_name;
};

} // namespace quaddle::test
