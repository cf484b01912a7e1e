#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A web server on 127.0.0.1 over a folder (see web_server.py), running as the user "nobody",
// so that what the folder's permissions refuse to others it refuses too; stopped at
// destruction. The folders above the one served are made enterable for others where they lie
// in the temporary folder.
class WebServer {
public:
    explicit WebServer(const QString& folder);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    bool started() const { return m_port != 0; }
    // Why it did not start.
    QString problem() const { return m_problem; }
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT", without a slash at the end.
    QString address() const;
    // The requests so far, one "METHOD PATH STATUS" a line.
    QStringList requests() const;

private:
    QTemporaryDir m_work;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_problem;
};

} // namespace quaddle::test

// Fails the running test, naming why, when its web server did not start.
#define QUADDLE_REQUIRE_WEB_SERVER(server)                                                         \
    do {                                                                                           \
        if (!(server).started())                                                                   \
            QFAIL(qPrintable((server).problem()));                                                 \
    } while (false)
