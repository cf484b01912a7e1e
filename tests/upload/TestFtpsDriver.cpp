#include "FtpServer.h"
#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "platform/Error.h"
#include "upload/FtpDriver.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadErrors.h"

#include <QFile>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::FtpServer;

namespace {

// Scripted answers that also keep what kind of identity question was asked.
class IdentityDialogs : public test::ScriptedDialogs {
public:
    bool trustIdentity(const IdentityQuestion& question) override {
        questions.append(question);
        return ScriptedDialogs::trustIdentity(question);
    }
    QList<IdentityQuestion> questions;
};

QString withColons(const QString& fingerprint) {
    QStringList pairs;
    for (qsizetype at = 0; at < fingerprint.size(); at += 2)
        pairs.append(fingerprint.mid(at, 2));
    return pairs.join(QLatin1Char(':'));
}

} // namespace

// FTPS against vsftpd and pyftpdlib demanding TLS on both connections, and FTP over IPv6.
class TestFtpsDriver : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void uploadsIntactAndTrustsOnce_data();
    void uploadsIntactAndTrustsOnce();
    void refusesToGoOnUnsafely_data();
    void refusesToGoOnUnsafely();
    void systemTrustIsRemembered_data();
    void systemTrustIsRemembered();

private:
    UploadSession& session(int serverType, bool passive, const QString& trusted);

    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<IdentityDialogs> m_dialogs;
    std::unique_ptr<UploadSession> m_session;
    QStringList m_remembered;
    QSslConfiguration m_systemTrust;
};

void TestFtpsDriver::init() {
    m_local = std::make_unique<QTemporaryDir>();
    m_dialogs = std::make_unique<IdentityDialogs>();
    m_remembered.clear();
    m_systemTrust = QSslConfiguration::defaultConfiguration();
}

void TestFtpsDriver::cleanup() {
    QSslConfiguration::setDefaultConfiguration(m_systemTrust);
    m_session.reset();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    m_local.reset();
}

UploadSession& TestFtpsDriver::session(int serverType, bool passive, const QString& trusted) {
    m_session = std::make_unique<UploadSession>([](const QString&, qint64, qint64) {},
                                                [](const QString&, int) {}, serverType,
                                                PolicyOverwrite, true, standardDrivers(QString()));
    if (passive)
        m_session->driver().setOption(ProtocolDriver::PassiveMode);
    m_session->driver().setTrustedCertificate(
        trusted, [this](const QString& fingerprint) { m_remembered.append(fingerprint); });
    return *m_session;
}

void TestFtpsDriver::uploadsIntactAndTrustsOnce_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("passive");
    for (const auto& [kind, name] : {std::pair{FtpServer::Kind::VsftpdTls, "vsftpd TLS"},
                                     std::pair{FtpServer::Kind::PyftpdlibTls, "pyftpdlib TLS"},
                                     std::pair{FtpServer::Kind::PyftpdlibIpv6, "pyftpdlib on ::1"}})
        for (const bool passive : {true, false})
            QTest::addRow("%s, %s", name, passive ? "passive" : "active") << int(kind) << passive;
}

void TestFtpsDriver::uploadsIntactAndTrustsOnce() {
    QFETCH(int, kind);
    QFETCH(bool, passive);
    FtpServer server{FtpServer::Kind(kind)};
    QUADDLE_REQUIRE_SERVER(server);
    const bool tls = kind != int(FtpServer::Kind::PyftpdlibIpv6);
    const QString port = QString::number(server.port());

    // First the question, answered Yes; then, with the certificate remembered, none.
    for (const QString& trusted : {QString(), server.certificateFingerprint()}) {
        if (tls && trusted.isEmpty())
            m_dialogs->expectIdentity(IdentityKind::Certificate, false, true,
                                      server.certificateFingerprint());
        UploadSession& run = session(tls ? 2 : 0, passive, trusted);
        QVERIFY(run.login(server.host(), port, server.user(), server.password()));
        QVERIFY(run.enterDir(server.uploadDir(), false, false));
        // Small files end before the server's TLS 1.3 session ticket is read; that must not
        // cut them.
        for (const qint64 size : {qint64(0), qint64(1000), qint64(300000), qint64(3) << 20}) {
            const QString name = QStringLiteral("file%1.bin").arg(size);
            const QString path = test::randomLocalFile(*m_local, name, size);
            QVERIFY2(run.driver().putFile(path),
                     qPrintable(name + ": " + run.driver().lastError()));
            QCOMPARE(test::fileChecksum(server.localPath(name)), test::fileChecksum(path));
        }
        const QStringList log = run.logLines();
        QVERIFY(!log.join('\n').contains(server.password()));
        const QString dataCommand =
            QString::fromLatin1(passive ? "^--> EPSV\t0$"
                                : tls   ? "^--> PORT 127,0,0,1,\\d+,\\d+\t0$"
                                        : "^--> EPRT \\|2\\|::1\\|\\d+\\|\t0$");
        QCOMPARE(log.filter(QRegularExpression(dataCommand)).size(), 4);
        if (tls) {
            for (const char* line : {"--> AUTH TLS\t0", "--> PBSZ 0\t0", "--> PROT P\t0"})
                QVERIFY2(log.contains(QString::fromLatin1(line)), line);
            QCOMPARE(log.filter(QRegularExpression("^TLS connection: TLS 1\\.[23], cipher "
                                                   "[A-Z0-9_-]+\t0$"))
                         .size(),
                     1);
        }
        // vsftpd knows no MLST: a name it does not size is looked up in its name list.
        QVERIFY(run.driver().fileExists("file0.bin"));
        QVERIFY(!run.driver().fileExists("file0.bi"));
    }
    QCOMPARE(m_remembered, tls ? QStringList{server.certificateFingerprint()} : QStringList());
    QCOMPARE(m_dialogs->questions.size(), tls ? 1 : 0);
    if (tls)
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                                        "Why it is not trusted: .*\nSubject: localhost\nIssuer: "
                                        "localhost\nValid from .* to .*\nSHA-256 fingerprint: " +
                                        withColons(server.certificateFingerprint())))
                     .match(m_dialogs->questions.first().details)
                     .hasMatch(),
                 qPrintable(m_dialogs->questions.first().details));
}

void TestFtpsDriver::refusesToGoOnUnsafely_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("trusted");
    QTest::addColumn<QString>("question"); // about the certificate: none, new or changed
    QTest::addColumn<QString>("error");
    const QString another(64, QLatin1Char('A'));
    QTest::newRow("AUTH refused") << "plain" << QString() << QString()
                                  << QRegularExpression::escape(UploadErrors::TlsRefused) +
                                         "\n500 .*";
    QTest::newRow("handshake fails") << "notls" << QString() << QString()
                                     << QRegularExpression::escape(UploadErrors::TlsFailed) +
                                            "\n127\\.0\\.0\\.1, port \\d+: (?!426 Timeout).+";
    QTest::newRow("certificate not trusted")
        << "tls" << QString() << "new"
        << QRegularExpression::escape(UploadErrors::CertificateRefused);
    QTest::newRow("certificate changed")
        << "tls" << another << "changed"
        << QRegularExpression::escape(UploadErrors::CertificateRefused);
}

void TestFtpsDriver::refusesToGoOnUnsafely() {
    QFETCH(QString, fault);
    QFETCH(QString, trusted);
    QFETCH(QString, question);
    QFETCH(QString, error);
    const std::unique_ptr<FtpServer> server =
        fault == "plain" ? std::make_unique<FtpServer>()
        : fault == "tls" ? std::make_unique<FtpServer>(FtpServer::Kind::PyftpdlibTls)
                         : std::make_unique<FtpServer>(fault);
    QUADDLE_REQUIRE_SERVER(*server);
    if (!question.isEmpty())
        m_dialogs->expectIdentity(IdentityKind::Certificate, question == "changed", false);
    UploadSession& run = session(2, true, trusted);
    try {
        run.login("127.0.0.1", QString::number(server->port()), server->user(), server->password());
        QFAIL("the login went on");
    } catch (const Error& failure) {
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(error))
                     .match(failure.message())
                     .hasMatch(),
                 qPrintable(failure.message()));
    }
    // Nothing after the refusal: no user name, no password, no file.
    QVERIFY(run.logLines().filter("--> USER").isEmpty());
    QVERIFY(m_remembered.isEmpty());
    QCOMPARE(m_dialogs->questions.size(), question.isEmpty() ? 0 : 1);
}

void TestFtpsDriver::systemTrustIsRemembered_data() {
    QTest::addColumn<bool>("renewed"); // the later certificate: system-trusted or self-signed
    QTest::newRow("renewed certificate the system trusts") << true;
    QTest::newRow("self-signed certificate, as an interceptor shows") << false;
}

void TestFtpsDriver::systemTrustIsRemembered() {
    QFETCH(bool, renewed);
    FtpServer first{FtpServer::Kind::PyftpdlibTlsIssued};
    FtpServer later{renewed ? FtpServer::Kind::PyftpdlibTlsIssued : FtpServer::Kind::PyftpdlibTls};
    QUADDLE_REQUIRE_SERVER(first);
    QUADDLE_REQUIRE_SERVER(later);
    // The authorities that issued the certificates count as the system's own.
    QSslConfiguration trust = QSslConfiguration::defaultConfiguration();
    trust.addCaCertificates(first.authorityCertificate());
    if (renewed)
        trust.addCaCertificates(later.authorityCertificate());
    QSslConfiguration::setDefaultConfiguration(trust);

    // Nothing to ask the first time, but the system's trust is remembered.
    QVERIFY(
        session(2, true, QString())
            .login(first.host(), QString::number(first.port()), first.user(), first.password()));
    QCOMPARE(m_remembered, QStringList{FtpDriver::SystemTrusted});

    if (!renewed)
        m_dialogs->expectIdentity(IdentityKind::Certificate, true, false);
    UploadSession& run = session(2, true, m_remembered.last());
    const QString port = QString::number(later.port());
    if (renewed)
        QVERIFY(run.login(later.host(), port, later.user(), later.password()));
    else
        QVERIFY_THROWS_EXCEPTION(Error,
                                 run.login(later.host(), port, later.user(), later.password()));
    QCOMPARE(m_remembered, QStringList{FtpDriver::SystemTrusted});
    QCOMPARE(m_dialogs->questions.size(), renewed ? 0 : 1);
    if (!renewed)
        QVERIFY(m_dialogs->questions.first().systemTrustedBefore);
}

QTEST_GUILESS_MAIN(TestFtpsDriver)
#include "TestFtpsDriver.moc"
