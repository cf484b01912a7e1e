#include "WebServer.h"

#include "LocalServers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace quaddle::test {

namespace {

// Lets others enter each folder from the one given up to the temporary folder.
void openWayTo(const QString& folder) {
    const QString temp = QDir(QDir::tempPath()).canonicalPath() + QLatin1Char('/');
    for (QString dir = QFileInfo(folder).canonicalFilePath(); dir.startsWith(temp);
         dir = QFileInfo(dir).path()) {
        QFile entry(dir);
        entry.setPermissions(entry.permissions() | QFile::ExeOther);
    }
}

} // namespace

WebServer::WebServer(const QString& folder) {
    openWayTo(QFileInfo(folder).path());
    QFile script(QStringLiteral(QUADDLE_TEST_SUPPORT_DIR "/web_server.py"));
    if (!script.open(QIODevice::ReadOnly)) {
        m_problem = "cannot read web_server.py";
        return;
    }
    // The log file is opened here, so that the server needs no right to write anywhere; the
    // script goes on the command line, wherever the checkout lies.
    const QString log = m_work.filePath("requests.log");
    m_process.setWorkingDirectory(QStringLiteral("/"));
    m_process.setStandardOutputFile(log);
    m_process.setStandardErrorFile(m_work.filePath("errors.log"));
    m_process.start("/usr/bin/setpriv",
                    {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                     QString::fromUtf8(script.readAll()), folder});
    const QRegularExpression listening("listening on 127\\.0\\.0\\.1:(\\d+)");
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        QFile output(log);
        if (output.open(QIODevice::ReadOnly)) {
            const QRegularExpressionMatch match =
                listening.match(QString::fromUtf8(output.readAll()));
            if (match.hasMatch()) {
                m_port = quint16(match.captured(1).toUInt());
                return;
            }
        }
        QThread::msleep(20);
    }
    QFile errors(m_work.filePath("errors.log"));
    errors.open(QIODevice::ReadOnly);
    m_problem = "the web server did not start: " + QString::fromUtf8(errors.readAll());
}

WebServer::~WebServer() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString WebServer::address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QStringList WebServer::requests() const {
    QFile output(m_work.filePath("requests.log"));
    if (!output.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(output.readAll()).split('\n', Qt::SkipEmptyParts);
    lines.removeFirst();
    return lines;
}

} // namespace quaddle::test
