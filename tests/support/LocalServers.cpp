#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

namespace quaddle::test {

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool accepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

bool waitUntilListening(QProcess& server, quint16 port) {
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && server.state() != QProcess::NotRunning) {
        if (accepts(port))
            return true;
        server.waitForFinished(100);
    }
    return false;
}

} // namespace quaddle::test
