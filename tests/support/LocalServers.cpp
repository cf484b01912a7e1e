#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QDir>
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

QList<qint64> processFamily(qint64 pid) {
    QList<qint64> family{pid};
    for (qsizetype known = 0; known != family.size();) {
        known = family.size();
        const QStringList entries = QDir("/proc").entryList(QDir::Dirs);
        for (const QString& entry : entries) {
            QFile stat("/proc/" + entry + "/stat");
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // "pid (name) state ppid ...": the name may hold blanks, not the rest.
            const QByteArray fields = stat.readAll();
            const qint64 parent =
                fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
            const qint64 child = entry.toLongLong();
            if (family.contains(parent) && !family.contains(child))
                family.append(child);
        }
    }
    return family;
}

} // namespace quaddle::test
