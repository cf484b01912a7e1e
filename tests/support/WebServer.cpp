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

WebServer::WebServer(const QString& folder, Scheme scheme) : m_scheme(scheme) {
    openWayTo(QFileInfo(folder).path());
    QStringList tls;
    if (scheme == Scheme::SelfSigned) {
        if (!makeCertificate())
            return;
        tls = QStringList{m_work.filePath("cert.pem"), m_work.filePath("key.pem")};
    }
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
    const QStringList command{"--reuid=65534",
                              "--regid=65534",
                              "--clear-groups",
                              "/usr/bin/python3",
                              "-c",
                              QString::fromUtf8(script.readAll()),
                              folder};
    m_process.start("/usr/bin/setpriv", command + tls);
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

bool WebServer::makeCertificate() {
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-subj", "/CN=localhost", "-days", "2", "-keyout",
                   m_work.filePath("key.pem"), "-out", m_work.filePath("cert.pem")});
    if (!openssl.waitForFinished(StartTimeoutMs) || openssl.exitCode() != 0) {
        m_problem = "openssl could not make a certificate: " +
                    QString::fromUtf8(openssl.readAllStandardError());
        return false;
    }
    // The server reads them as "nobody"; the key protects nothing but this test.
    for (const QString& name : QStringList{"cert.pem", "key.pem"})
        QFile::setPermissions(m_work.filePath(name), Mode0755);
    QFile::setPermissions(m_work.path(), Mode0755);
    return true;
}

QString WebServer::address() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(QLatin1String(m_scheme == Scheme::SelfSigned ? "https" : "http"))
        .arg(m_port);
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
