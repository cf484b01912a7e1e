#include "FtpServer.h"
#include "LocalFiles.h"
#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "config/Config.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <sys/stat.h>

using namespace quaddle;
using quaddle::test::FtpServer;
using quaddle::test::SshServer;

namespace {

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

// What a whole upload leaves on real FTP and SFTP servers: the permissions given to each file,
// the temporary names that keep cut transfers away from the real ones, and the answer to a
// clash that holds for every connection of the run.
class TestUploadSessionServers : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void permissionsAfterUpload_data();
    void permissionsAfterUpload();
    void tempNamesKeepCutFilesAway_data();
    void tempNamesKeepCutFilesAway();
    void psftpChangesOnlyModesTheServerMadeOtherwise_data();
    void psftpChangesOnlyModesTheServerMadeOtherwise();
    void rememberedAnswerHoldsOnEveryConnection_data();
    void rememberedAnswerHoldsOnEveryConnection();
    void filesThatArrivedCountWhateverEndsTheRun_data();
    void filesThatArrivedCountWhateverEndsTheRun();

private:
    // Logs in to the server named by kind ("sshd", "pyftpdlib", "vsftpd", "vsftpd-tls" or a fault
    // of the faulty pyftpdlib) and enters its upload folder; the folder on disk.
    QString connect(const QString& kind, bool tempNames, int policy = PolicyOverwrite);

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    std::unique_ptr<FtpServer> m_ftp;
    std::unique_ptr<SshServer> m_ssh;
    std::unique_ptr<UploadSession> m_session;
    QByteArray m_savedHome;
    // The names the progress showed.
    QStringList m_shownNames;
};

void TestUploadSessionServers::init() {
    m_temp = std::make_unique<QTemporaryDir>();
    // psftp's host-key cache starts empty; without a .putty folder in the home psftp would take
    // the account's own.
    QVERIFY(QDir(m_temp->path()).mkpath("home/.putty"));
    m_savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_temp->filePath("home")));
    m_dialogs = std::make_unique<test::ScriptedDialogs>();
    m_shownNames.clear();
}

void TestUploadSessionServers::cleanup() {
    m_session.reset();
    m_ftp.reset();
    m_ssh.reset();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    m_dialogs.reset();
    qputenv("HOME", m_savedHome);
    m_temp.reset();
}

QString TestUploadSessionServers::connect(const QString& kind, bool tempNames, int policy) {
    const bool sftp = kind == "sshd";
    QString port;
    QString user;
    QString password;
    QString dir;
    if (sftp) {
        m_ssh = std::make_unique<SshServer>();
        if (m_ssh->unavailable())
            QTest::qSkip(qPrintable(m_ssh->problem()), __FILE__, __LINE__);
        if (!m_ssh->started())
            return {};
        port = QString::number(m_ssh->port());
        user = m_ssh->user();
        password = m_ssh->password();
        dir = m_ssh->root();
        m_dialogs->expectIdentity(IdentityKind::HostKey, false, true);
    } else {
        m_ftp = kind == "pyftpdlib"    ? std::make_unique<FtpServer>()
                : kind == "vsftpd"     ? std::make_unique<FtpServer>(FtpServer::Kind::Vsftpd)
                : kind == "vsftpd-tls" ? std::make_unique<FtpServer>(FtpServer::Kind::VsftpdTls)
                                       : std::make_unique<FtpServer>(kind);
        if (!m_ftp->started())
            return {};
        port = QString::number(m_ftp->port());
        user = m_ftp->user();
        password = m_ftp->password();
        dir = m_ftp->uploadDir();
    }
    m_session = std::make_unique<UploadSession>(
        [this](const QString& name, qint64, qint64) { m_shownNames.append(name); },
        [](const QString&, int) {}, sftp ? 1 : (kind == "vsftpd-tls" ? 2 : 0), policy, true,
        standardDrivers(m_temp->path() + "/", SshClientPsftp));
    if (m_ftp)
        m_session->driver().setTrustedCertificate(m_ftp->certificateFingerprint(),
                                                  [](const QString&) {});
    m_session->driver().setOption(ProtocolDriver::PassiveMode);
    m_session->setTempNames(tempNames);
    if (!m_session->login("127.0.0.1", port, user, password) ||
        !m_session->enterDir(dir, false, false))
        return {};
    return sftp ? dir : QFileInfo(m_ftp->localPath("x")).path();
}

void TestUploadSessionServers::permissionsAfterUpload_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("tempNames");
    // Anonymous vsftpd users may not change modes: the refusal is only logged. Its local users,
    // here over TLS, may.
    QTest::addColumn<bool>("refused");
    for (const bool tempNames : {false, true}) {
        const char* naming = tempNames ? "temporary names" : "real names";
        QTest::addRow("pyftpdlib, %s", naming) << "pyftpdlib" << tempNames << false;
        QTest::addRow("vsftpd, %s", naming) << "vsftpd" << tempNames << true;
        QTest::addRow("vsftpd over TLS, %s", naming) << "vsftpd-tls" << tempNames << false;
        QTest::addRow("sshd, %s", naming) << "sshd" << tempNames << false;
    }
}

void TestUploadSessionServers::permissionsAfterUpload() {
    QFETCH(QString, kind);
    QFETCH(bool, tempNames);
    QFETCH(bool, refused);
    const QString remote = connect(kind, tempNames);
    QVERIFY2(!remote.isEmpty(), "cannot reach the test server");
    m_session->setPermissions("604");
    const FileList files{{test::localFile(*m_temp, "a b.jpg", "image"),
                          test::localFile(*m_temp, "a b_thumb.jpg", "thumb")},
                         {test::localFile(*m_temp, "notes [v2].txt", "text"), QString()}};
    const UploadResults results = m_session->uploadFiles(files);
    QCOMPARE(results.size(), 2);
    QCOMPARE(results[0].thumbnail, QStringLiteral("a b_thumb.jpg"));
    // The progress names the files by their real names; psftp reports none.
    QCOMPARE(m_shownNames.contains("notes [v2].txt"), kind != "sshd");
    QVERIFY2(m_shownNames.filter(".part").isEmpty(), qPrintable(m_shownNames.join(", ")));
    for (const QString& name : QStringList{"a b.jpg", "a b_thumb.jpg", "notes [v2].txt"}) {
        const QString path = remote + "/" + name;
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY(!QFile::exists(path + ".part"));
        const QFile::Permissions mode = QFile::permissions(path);
        const QFile::Permissions wanted = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther;
        const QFile::Permissions mask = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                        QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE((mode & mask) == wanted, !refused);
        const QString error = "Could not set the permissions 604 of " + name + ": ";
        QCOMPARE(m_session->logLines()
                     .filter(QRegularExpression("^" + QRegularExpression::escape(error) + ".+\t2$"))
                     .size(),
                 refused ? 1 : 0);
    }
}

void TestUploadSessionServers::tempNamesKeepCutFilesAway_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("tempNames");
    // What the real name holds afterwards, and whether the partial upload was removed.
    QTest::addColumn<QByteArray>("realName");
    QTest::addColumn<bool>("partRemoved");
    const QByteArray big(4 << 20, 'n');
    QTest::newRow("control connection closed in the transfer")
        << "closestor" << true << QByteArray("old") << true;
    QTest::newRow("data connection closed, 426")
        << "storclosedata" << true << QByteArray("old") << true;
    QTest::newRow("without temporary names the cut file replaces the old")
        << "storclosedata" << false << QByteArray() << true;
    QTest::newRow("pyftpdlib renames onto the old file") << "pyftpdlib" << true << big << true;
    QTest::newRow("vsftpd renames onto the old file") << "vsftpd" << true << big << true;
    QTest::newRow("sshd removes the old file first") << "sshd" << true << big << true;
}

void TestUploadSessionServers::tempNamesKeepCutFilesAway() {
    QFETCH(QString, kind);
    QFETCH(bool, tempNames);
    QFETCH(QByteArray, realName);
    QFETCH(bool, partRemoved);
    const QString remote = connect(kind, tempNames);
    QVERIFY2(!remote.isEmpty(), "cannot reach the test server");
    QFile old(remote + "/page.html");
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    // World-writable, so servers running as another user may replace it.
    QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                               QFile::WriteOther | QFile::ReadGroup | QFile::WriteGroup));
    const bool cut = kind != "pyftpdlib" && kind != "vsftpd" && kind != "sshd";
    if (cut)
        m_dialogs->expectErrorQuestionMatching(".*", false);
    const UploadResults results = m_session->uploadFiles(
        {{test::localFile(*m_temp, "page.html", QByteArray(4 << 20, 'n')), QString()}});
    QCOMPARE(results.size(), cut ? 0 : 1);
    QCOMPARE(contentsOf(remote + "/page.html"), realName);
    if (partRemoved)
        QVERIFY(!QFile::exists(remote + "/page.html.part"));
}

void TestUploadSessionServers::psftpChangesOnlyModesTheServerMadeOtherwise_data() {
    QTest::addColumn<bool>("tempNames");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("chmods"); // for three new files of mode 644
    // Once the server kept the local mode of a new file, it keeps it for every new one.
    QTest::newRow("new files, local mode") << true << "644" << 1;
    QTest::newRow("new files, another mode") << true << "604" << 3;
    // A file written under its real name may have been there with another mode.
    QTest::newRow("real names, local mode") << false << "0644" << 3;
}

void TestUploadSessionServers::psftpChangesOnlyModesTheServerMadeOtherwise() {
    QFETCH(bool, tempNames);
    QFETCH(QString, mode);
    QFETCH(int, chmods);
    const QString remote = connect("sshd", tempNames);
    QVERIFY2(!remote.isEmpty(), "cannot reach the test server");
    m_session->setPermissions(mode);
    FileList files;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        const QString path = test::localFile(*m_temp, QString::fromLatin1(name), "text");
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner |
                                                QFile::ReadGroup | QFile::ReadOther));
        files.append({path, QString()});
    }
    QCOMPARE(m_session->uploadFiles(files).size(), files.size());
    for (const FileEntry& entry : std::as_const(files)) {
        struct stat arrived {};
        const QString path = remote + "/" + QFileInfo(entry.path).fileName();
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &arrived), 0);
        QCOMPARE(int(arrived.st_mode & 07777), mode.toInt(nullptr, 8));
    }
    // Each chmod ends at the mark that follows it; nothing else is marked here.
    QCOMPARE(m_session->logLines().filter("psftp: unknown command \"quaddle-").size(), chmods);
}

void TestUploadSessionServers::rememberedAnswerHoldsOnEveryConnection_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<QByteArray>("left");
    QTest::newRow("overwrite all") << int(FileExistsChoice::Overwrite) << QByteArray("new");
    QTest::newRow("skip all") << int(FileExistsChoice::Skip) << QByteArray("old");
}

void TestUploadSessionServers::rememberedAnswerHoldsOnEveryConnection() {
    QFETCH(int, choice);
    QFETCH(QByteArray, left);
    const QString remote = connect("pyftpdlib", false, PolicyAsk);
    QVERIFY2(!remote.isEmpty(), "cannot reach the test server");
    m_session->setConnections(4);
    FileList files;
    for (int index = 0; index < 8; ++index) {
        const QString name = QStringLiteral("f%1.txt").arg(index);
        test::writeFile(remote + "/" + name, "old");
        files.append({test::localFile(*m_temp, name, "new"), QString()});
    }
    // The one question asked; its answer is remembered for all files.
    m_dialogs->expectFileExists("f0.txt", {FileExistsChoice(choice), true});
    QCOMPARE(m_session->uploadFiles(files).size(), files.size());
    for (const FileEntry& entry : std::as_const(files))
        QCOMPARE(contentsOf(remote + "/" + QFileInfo(entry.path).fileName()), left);
}

void TestUploadSessionServers::filesThatArrivedCountWhateverEndsTheRun_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("arriving");
    // The server keeps the second file and the last two waiting, so that each of the three
    // connections waits on one once every other file has arrived.
    QTest::newRow("cancelled") << "hold" << true << 9;
    QTest::newRow("stopped at the second file's error") << "hold:3" << false << 9;
    // Those held as they move to their real names get there: Cancel lets them end the move.
    QTest::newRow("cancelled while moving to the real names") << "holdrename" << true << 12;
}

void TestUploadSessionServers::filesThatArrivedCountWhateverEndsTheRun() {
    QFETCH(QString, fault);
    QFETCH(bool, cancel);
    QFETCH(int, arriving);
    // The held uploads wait longer than the usual time-out allows on a busy machine.
    qputenv("QUADDLE_TEST_ANSWER_TIMEOUT_MS", "120000");
    const auto usualTimeout = qScopeGuard([] { qunsetenv("QUADDLE_TEST_ANSWER_TIMEOUT_MS"); });
    const QString remote = connect(fault, true);
    QVERIFY2(!remote.isEmpty(), "cannot reach the test server");
    m_session->setConnections(3);
    FileList files;
    for (int index = 0; index < 12; ++index) {
        const bool held = index == 1 || index >= 10;
        const QString name = QStringLiteral("%1%2.txt")
                                 .arg(held ? QStringLiteral("hold") : QStringLiteral("f"))
                                 .arg(index);
        files.append({test::localFile(*m_temp, name, name.toUtf8()), QString()});
    }
    QTimer cancelOnceAllWait;
    if (cancel) {
        QObject::connect(&cancelOnceAllWait, &QTimer::timeout, [this, &cancelOnceAllWait] {
            if (m_ftp->log().count("held ") < 3)
                return;
            cancelOnceAllWait.stop();
            m_session->cancel();
            // Moves to the real names that were held are answered now.
            test::writeFile(m_ftp->localPath("release"), "");
        });
        cancelOnceAllWait.start(20);
    } else {
        m_dialogs->expectErrorQuestionMatching(".*Exceeded storage allocation.*", false);
    }
    QStringList told;
    for (const UploadResult& result : m_session->uploadFiles(files))
        told.append(result.file);
    QStringList arrived;
    for (const FileEntry& entry : std::as_const(files)) {
        const QString name = QFileInfo(entry.path).fileName();
        if (QFile::exists(remote + "/" + name))
            arrived.append(name);
    }
    QCOMPARE(arrived.size(), arriving);
    QCOMPARE(told, arrived);
    QVERIFY(m_session->logLines().contains(QString("%1 files uploaded.\t0").arg(arriving)));
    QCOMPARE(QDir(remote).entryList({"*.part"}), QStringList());
}

QTEST_GUILESS_MAIN(TestUploadSessionServers)
#include "TestUploadSessionServers.moc"
