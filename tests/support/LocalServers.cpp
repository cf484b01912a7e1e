#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

namespace quaddle::test {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool Accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

bool WaitUntilListening(QProcess& server, quint16 port) {
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && server.state() != QProcess::NotRunning) {
        if (Accepts(port))
            return true;
        server.waitForFinished(100);
    }
    return false;
}

} // namespace quaddle::test
