#include "VirtualDisplay.h"

#include <QStandardPaths>

namespace quaddle::test {

VirtualDisplay::VirtualDisplay(QSize screen) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty())
        return;
    // Xvfb picks a free number itself and names it on its output.
    const QString size = QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height());
    m_server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", size});
    while (!m_server.canReadLine())
        if (!m_server.waitForReadyRead(20000))
            return;
    m_name = ":" + QString::fromLatin1(m_server.readLine().trimmed());
}

VirtualDisplay::~VirtualDisplay() {
    m_server.kill();
    m_server.waitForFinished();
}

QProcessEnvironment VirtualDisplay::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_name);
    return environment;
}

} // namespace quaddle::test
