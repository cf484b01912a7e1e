#include "PrivateBus.h"

#include <QFile>

namespace quaddle::test {

PrivateBus::PrivateBus() {
    // Its own configuration, so no service installed on the machine can be started on it.
    QFile config(m_dir.filePath("bus.conf"));
    config.open(QIODevice::WriteOnly);
    config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_dir.path().toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>");
    config.close();
    m_daemon.start("dbus-daemon",
                   {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    if (!m_daemon.waitForStarted())
        return;
    while (!m_daemon.canReadLine())
        if (!m_daemon.waitForReadyRead(10000))
            return;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
}

PrivateBus::~PrivateBus() {
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

} // namespace quaddle::test
