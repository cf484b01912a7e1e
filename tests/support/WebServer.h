#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A web server on 127.0.0.1 over a folder (see web_server.py), running as the user "nobody",
// so that what the folder's permissions refuse to others it refuses too; stopped at
// destruction. The folders above the one served are made enterable for others where they lie
// in the temporary folder. With SelfSigned it serves HTTPS with a certificate for "localhost"
// that nobody issued.
class WebServer {
public:
    enum class Scheme { Http, SelfSigned };

    explicit WebServer(const QString& folder, Scheme scheme = Scheme::Http);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    bool started() const { return m_port != 0; }
    // Why it did not start.
    QString problem() const { return m_problem; }
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT" (https for SelfSigned), without a slash at the end.
    QString address() const;
    // The requests so far, one "METHOD PATH STATUS" a line.
    QStringList requests() const;

private:
    // The certificate and key files, readable by the server; false when openssl failed.
    bool makeCertificate();

    QTemporaryDir m_work;
    Scheme m_scheme;
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
