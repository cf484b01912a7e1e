#include "ScriptedDialogs.h"
#include "SshServer.h"
#include "upload/UploadDrivers.h"
#include "upload/SftpDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <unistd.h>

using namespace quaddle;
using quaddle::test::TSshServer;

namespace {

const QString HostKeyQuestion =
    "Quaddle does not recognize the server's host key. If this is the first time you are "
    "connecting to this server, you should click OK to save the key. If you think you server "
    "might be compromised, click Cancel to abort the upload.\nThe server's rsa2 key fingerprint "
    "is:\n  ssh-.*";

} // namespace

// The SFTP driver with the real psftp against a real OpenSSH server.
class TestSftpDriverServer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unknownHostAcceptedThenKnown_data();
    void unknownHostAcceptedThenKnown();
    void unknownHostRefused();
    void wrongPassword();
    void missingDirectoryIsCreated();
    void uploadsWithExistenceTestAndRename();
    void permissionDenied();

private:
    TUpload& Session(int overwrite = PolicyOverwrite);
    QString LocalFile(const QString& name, const QByteArray& contents);
    TUploadSFTP& Driver() { return static_cast<TUploadSFTP&>(Upload->Protokoll()); }
    bool Login(const TSshServer& server) {
        return Upload->Login("127.0.0.1", "22", server.User(), server.Password());
    }
    void AcceptKey() { Dialogs->ExpectMessageMatching(HostKeyQuestion, TMsgAnswer::Ok); }

    std::unique_ptr<QTemporaryDir> Temp;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<TUpload> Upload;
    QByteArray SavedHome;
};

void TestSftpDriverServer::init() {
    Temp = std::make_unique<QTemporaryDir>();
    QDir(Temp->path()).mkpath("home");
    QDir(Temp->path()).mkpath("program");
    // A fresh home: psftp's host-key cache starts empty.
    SavedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(Temp->filePath("home")));
    Dialogs = std::make_unique<test::TScriptedDialogs>();
}

void TestSftpDriverServer::cleanup() {
    Upload.reset();
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    qputenv("HOME", SavedHome);
    Temp.reset();
}

TUpload& TestSftpDriverServer::Session(int overwrite) {
    Upload = std::make_unique<TUpload>([](const QString&, qint64, qint64) {},
                                       [](const QString&, int) {}, 1, overwrite, true,
                                       StandardDrivers(Temp->filePath("program") + "/"));
    return *Upload;
}

QString TestSftpDriverServer::LocalFile(const QString& name, const QByteArray& contents) {
    QFile file(Temp->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

void TestSftpDriverServer::unknownHostAcceptedThenKnown_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("rsa") << int(TSshServer::TKeyType::Rsa);
    QTest::newRow("ed25519") << int(TSshServer::TKeyType::Ed25519);
}

void TestSftpDriverServer::unknownHostAcceptedThenKnown() {
    QFETCH(int, key);
    TSshServer server{TSshServer::TKeyType(key)};
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    Session();
    AcceptKey();
    QVERIFY(Login(server));
    QCOMPARE(Driver().GetState(), 8);
    QVERIFY(Upload->LogLines().filter("Store key in cache?").size() >= 1);

    Session();
    QVERIFY(Login(server));
    QCOMPARE(Driver().GetState(), 2);
    QVERIFY(!Upload->LogLines().join('\n').contains(server.Password()));
}

void TestSftpDriverServer::unknownHostRefused() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    Session();
    Dialogs->ExpectMessageMatching(HostKeyQuestion, TMsgAnswer::Cancel);
    Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Abort);
    QVERIFY(!Login(server));
    QVERIFY(!QFile::exists(Temp->filePath("home/.putty/sshhostkeys")));
}

void TestSftpDriverServer::wrongPassword() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    Session();
    AcceptKey();
    Dialogs->ExpectMessage("Login incorrect. Please try again.", TMsgAnswer::Abort);
    QVERIFY(!Upload->Login("127.0.0.1", "22", server.User(), "wrong"));
    QVERIFY(Driver().LastError().startsWith("Login incorrect."));
}

void TestSftpDriverServer::missingDirectoryIsCreated() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    Session();
    AcceptKey();
    QVERIFY(Login(server));
    QVERIFY(Upload->EnterDir(server.Root(), false, true));
    Dialogs->ExpectAskUser(TAskMode::Directory, "./gallery/2024", 1);
    QVERIFY(Upload->EnterDir("./gallery/2024", false, true));
    QVERIFY(QFileInfo(server.Root() + "/gallery/2024").isDir());
    QVERIFY(Upload->LogLines().filter("Directory does not exist").isEmpty());
    QCOMPARE(Driver().GetState(), 36);
}

void TestSftpDriverServer::uploadsWithExistenceTestAndRename() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    Session(PolicyRename);
    AcceptKey();
    QVERIFY(Login(server));
    QVERIFY(Upload->EnterDir(server.Root(), false, true));
    const TFileList files{{LocalFile("a(1).jpg", "first"), QString()},
                          {LocalFile("my notes.txt", "spaced"), QString()}};
    QCOMPARE(Upload->UploadFiles(files).size(), 2);
    // The same names again: the listing taken once knows them, so they are renamed aside.
    QCOMPARE(Upload->UploadFiles(files).size(), 2);
    QCOMPARE(Upload->RenamedFiles(),
             (TRenamedFiles{{"a(1).jpg", "a(1)_001.jpg"}, {"my notes.txt", "my notes_001.txt"}}));
    QVERIFY(QFile::exists(server.Root() + "/a(1)_001.jpg"));
    QVERIFY(QFile::exists(server.Root() + "/my notes_001.txt"));

    // A local path with a double quote in it.
    const QString quoted = LocalFile("say \"hi\".txt", "quoted");
    QVERIFY(Driver().PutFile(quoted));
    QFile uploaded(server.Root() + "/say \"hi\".txt");
    QVERIFY(uploaded.open(QIODevice::ReadOnly));
    QCOMPARE(uploaded.readAll(), QByteArray("quoted"));
    QCOMPARE(Upload->LogLines().filter(QRegularExpression("^psftp> dir\\|")).size(), 0);
}

void TestSftpDriverServer::permissionDenied() {
    TSshServer server;
    QUADDLE_REQUIRE_SSH(server);
    server.WritePsftpWrapper(Temp->filePath("program"));
    // A folder that belongs to root: the test user may enter it but not write.
    const QString locked = server.Root() + "/locked";
    QVERIFY(QDir().mkdir(locked));
    QVERIFY(chown(QFile::encodeName(locked).constData(), 0, 0) == 0);
    Session(PolicyAsk);
    AcceptKey();
    QVERIFY(Login(server));
    QVERIFY(Upload->EnterDir(locked, false, false));
    const QString path = LocalFile("x.jpg", "data");
    Dialogs->ExpectMessage("An error occured: \nPermission denied. (while uploading file "
                           "\"x.jpg\")\nIgnore and continue?",
                           TMsgAnswer::No);
    QVERIFY(Upload->UploadFiles({{path, QString()}}).isEmpty());
}

QTEST_GUILESS_MAIN(TestSftpDriverServer)
#include "TestSftpDriverServer.moc"
