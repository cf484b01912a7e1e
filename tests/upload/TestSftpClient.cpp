// The SFTP client against a real OpenSSH server, reached through ssh as the program will.
#include "SshServer.h"
#include "upload/SftpClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::SshServer;

namespace {

constexpr QFile::Permissions ModeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                        QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

// Qt's flags for a Unix mode: a hex digit for each octal one, the user's between owner and group.
QFile::Permissions permissions(int mode) {
    return QFile::Permissions::fromInt(((mode & 0700) << 6) | ((mode & 070) << 1) | (mode & 07));
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(content) == content.size(),
             qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

} // namespace

class TestSftpClient : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void start_data();
    void start();
    void exists_data();
    void exists();
    void upload_data();
    void upload();
    void outOfOrderReplies();
    void changes();
    void refused_data();
    void refused();
    void hostileServer_data();
    void hostileServer();
    void connectionLostWithLaterFilesPlaced();

private:
    QStringList sshCommand() const;
    // A client connected to the server, or null after a failed check.
    std::unique_ptr<SftpClient> connected();
    QString remote(const QString& name) const { return m_server->root() + "/" + name; }

    std::unique_ptr<SshServer> m_server;
    QTemporaryDir m_home;
    QString m_key;
};

void TestSftpClient::initTestCase() {
    m_server = std::make_unique<SshServer>();
    QUADDLE_REQUIRE_SSH(*m_server);
    // ssh looks for its files in the home folder; the account's own must stay untouched.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    m_key = m_home.filePath("id_test");
    QProcess keygen;
    keygen.start("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", m_key});
    QVERIFY(keygen.waitForFinished() && keygen.exitCode() == 0);
    QVERIFY2(m_server->authorizeKey(m_key + ".pub"), qPrintable(m_server->problem()));
}

QStringList TestSftpClient::sshCommand() const {
    return m_server->sftpCommand({"-o", "BatchMode=yes", "-i", m_key});
}

std::unique_ptr<SftpClient> TestSftpClient::connected() {
    auto client = std::make_unique<SftpClient>();
    if (!client->start(sshCommand())) {
        qWarning("%s", qPrintable(client->error()));
        return nullptr;
    }
    return client;
}

void TestSftpClient::start_data() {
    QTest::addColumn<QStringList>("commandLine");
    QTest::addColumn<QString>("error"); // part of it; empty when the start works
    QTest::newRow("OpenSSH") << QStringList() << "";
    QTest::newRow("missing program") << QStringList{"/nonexistent/ssh"} << "/nonexistent/ssh";
    QTest::newRow("refused login")
        << QStringList{"sh", "-c", "echo 'Permission denied (publickey).' >&2; exit 255"}
        << "Permission denied (publickey).";
    QTest::newRow("no SFTP server")
        << QStringList{"sh", "-c", "echo 'Welcome to the shell'; sleep 5"}
        << "printed text instead of starting SFTP: \"Welcome to the shell\"";
    QTest::newRow("silent") << QStringList{"sleep", "30"} << "did not answer";
}

void TestSftpClient::start() {
    QFETCH(QStringList, commandLine);
    QFETCH(QString, error);
    SftpClient client;
    client.timeoutMs = 1000;
    QCOMPARE(client.start(commandLine.isEmpty() ? sshCommand() : commandLine), error.isEmpty());
    QVERIFY2(client.error().contains(error), qPrintable(client.error()));
    QCOMPARE(client.offersPosixRename(), error.isEmpty());
}

void TestSftpClient::exists_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("answer"); // "yes", "no" or the error it gives
    QTest::newRow("file") << "my a.txt"
                          << "yes";
    QTest::newRow("missing file beside a longer name") << "a.txt"
                                                       << "no";
    QTest::newRow("directory") << "b.txt"
                               << "yes";
    QTest::newRow("inside a locked folder") << "locked/a.txt"
                                            << "Permission denied";
}

void TestSftpClient::exists() {
    QFETCH(QString, name);
    QFETCH(QString, answer);
    writeFile(remote("my a.txt"), "decoy");
    QVERIFY(QDir().mkpath(remote("b.txt")) && QDir().mkpath(remote("locked")));
    // Owned by root, so the account may not look inside.
    QVERIFY(QFile::setPermissions(remote("locked"), QFile::ReadOwner | QFile::ExeOwner));
    const std::unique_ptr<SftpClient> client = connected();
    QVERIFY(client);
    const std::optional<bool> found = client->exists(remote(name));
    const QString got =
        found ? (*found ? QStringLiteral("yes") : QStringLiteral("no")) : client->error();
    QCOMPARE(got, answer == "yes" || answer == "no" ? answer : remote(name) + ": " + answer);
}

void TestSftpClient::upload_data() {
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<QByteArray>("before"); // what the remote file held, if it was there
    QTest::addColumn<int>("mode");
    QTest::newRow("empty") << qsizetype(0) << QByteArray() << 0644;
    QTest::newRow("small over a longer file") << qsizetype(1000) << randomBytes(100 * 1000) << 0600;
    QTest::newRow("5 MiB") << qsizetype(5 * 1024 * 1024) << QByteArray() << 0644;
}

void TestSftpClient::upload() {
    QFETCH(qsizetype, size);
    QFETCH(QByteArray, before);
    QFETCH(int, mode);
    const QByteArray content = randomBytes(size);
    const QString local = m_home.filePath("local");
    const QString target = remote("upload.bin");
    QFile::remove(target);
    const std::unique_ptr<SftpClient> client = connected();
    QVERIFY(client);
    // Put there by the account, which may then change its permissions.
    if (!before.isEmpty()) {
        writeFile(local, before);
        QVERIFY2(client->upload(local, target), qPrintable(client->error()));
    }
    writeFile(local, content);
    QList<qint64> progress;
    client->onProgress = [&progress](qint64 sent) { progress.append(sent); };

    QVERIFY2(client->upload(local, target), qPrintable(client->error()));
    QVERIFY2(client->setPermissions(target, quint32(mode)), qPrintable(client->error()));

    QCOMPARE(readFile(target), content);
    QCOMPARE(QFileInfo(target).permissions() & ModeBits, permissions(mode));
    QCOMPARE(progress.isEmpty() ? 0 : progress.constLast(), size);
    QCOMPARE(progress.size(), (size + SftpClient::WriteBlock - 1) / SftpClient::WriteBlock);
}

// A server that keeps its replies to WRITE back until it has eight, then sends them newest
// first; the data goes to the file named by its argument.
constexpr char ReversingServer[] = R"(
import struct, sys
i, o = sys.stdin.buffer, sys.stdout.buffer
target = open(sys.argv[1], 'wb')
held = []
def send(kind, body):
    o.write(struct.pack('>IB', len(body) + 1, kind) + body)
    o.flush()
def release():
    for id in reversed(held):
        send(101, struct.pack('>IIII', id, 0, 0, 0))
    held.clear()
while len(head := i.read(5)) == 5:
    length, kind = struct.unpack('>IB', head)
    body = i.read(length - 1)
    id = struct.unpack('>I', body[:4])[0]
    if kind == 1:
        send(2, struct.pack('>I', 3))
    elif kind == 3:
        send(102, struct.pack('>II', id, 1) + b'h')
    elif kind == 6:
        offset, size = struct.unpack('>QI', body[9:21])
        target.seek(offset)
        target.write(body[21:21 + size])
        held.append(id)
        if len(held) == 8:
            release()
    elif kind == 4:
        target.close()
        send(101, struct.pack('>IIII', id, 0, 0, 0))
)";

void TestSftpClient::outOfOrderReplies() {
    // Eight times four blocks, the last one short.
    const QByteArray content = randomBytes(31 * SftpClient::WriteBlock + 100);
    const QString local = m_home.filePath("local");
    writeFile(local, content);
    const QString received = m_home.filePath("received");
    SftpClient client;
    qint64 confirmed = 0;
    client.onProgress = [&confirmed](qint64 sent) { confirmed = sent; };
    QVERIFY2(client.start({"python3", "-c", ReversingServer, received}),
             qPrintable(client.error()));
    QVERIFY2(client.upload(local, "/upload.bin"), qPrintable(client.error()));
    QCOMPARE(confirmed, content.size());
    QCOMPARE(readFile(received), content);
}

void TestSftpClient::changes() {
    const std::unique_ptr<SftpClient> client = connected();
    QVERIFY(client);
    QVERIFY(client->realPath(".").value_or("").startsWith("/"));
    QCOMPARE(client->realPath(m_server->root() + "/./"), m_server->root());

    QVERIFY2(client->makeDir(remote("made")), qPrintable(client->error()));
    QVERIFY(QFileInfo(remote("made")).isDir());
    QVERIFY(!client->makeDir(remote("made")));
    QCOMPARE(client->error(), remote("made") + ": Failure");

    writeFile(remote("first"), "first");
    writeFile(remote("second"), "second");
    QVERIFY2(client->rename(remote("first"), remote("renamed")), qPrintable(client->error()));
    QCOMPARE(readFile(remote("renamed")), "first");
    QVERIFY(!QFileInfo::exists(remote("first")));
    // A plain rename keeps an existing file; a replace puts the new one in its place.
    QVERIFY(!client->rename(remote("second"), remote("renamed")));
    QVERIFY2(client->replace(remote("second"), remote("renamed")), qPrintable(client->error()));
    QCOMPARE(readFile(remote("renamed")), "second");
    QVERIFY(!QFileInfo::exists(remote("second")));

    QVERIFY2(client->remove(remote("renamed")), qPrintable(client->error()));
    QVERIFY(!QFileInfo::exists(remote("renamed")));
}

void TestSftpClient::refused_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("error"); // after the file's name
    QTest::newRow("write in a read-only folder") << "upload"
                                                 << "readonly/a.txt"
                                                 << "Permission denied";
    QTest::newRow("folder in a read-only folder") << "makeDir"
                                                  << "readonly/new"
                                                  << "Permission denied";
    QTest::newRow("permissions of a missing file") << "setPermissions"
                                                   << "missing.txt"
                                                   << "No such file";
    QTest::newRow("remove a missing file") << "remove"
                                           << "missing.txt"
                                           << "No such file";
}

void TestSftpClient::refused() {
    QFETCH(QString, operation);
    QFETCH(QString, name);
    QFETCH(QString, error);
    QVERIFY(QDir().mkpath(remote("readonly")));
    QVERIFY(QFile::setPermissions(remote("readonly"), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
    const QString local = m_home.filePath("local");
    writeFile(local, "content");
    const std::unique_ptr<SftpClient> client = connected();
    QVERIFY(client);
    const QString path = remote(name);
    const bool done = operation == "upload"           ? client->upload(local, path)
                      : operation == "makeDir"        ? client->makeDir(path)
                      : operation == "setPermissions" ? client->setPermissions(path, 0644)
                                                      : client->remove(path);
    QVERIFY(!done);
    QCOMPARE(client->error(), path + ": " + error);
    QVERIFY(!QFileInfo::exists(path));
}

void TestSftpClient::hostileServer_data() {
    QTest::addColumn<QString>("fault"); // see hostile_sftpd.py
    QTest::addColumn<bool>("started");
    QTest::addColumn<QString>("error");
    QTest::newRow("text before SFTP")
        << "greeting" << false
        << "The SSH connection printed text instead of starting SFTP: \"Welcome to the server!\"";
    QTest::newRow("replies to requests never sent")
        << "stray" << true
        << "The server sent a reply to request 1879048193, which was not "
           "asked or was answered already.";
    QTest::newRow("a reply trickled byte by byte")
        << "trickle" << true << "The server did not answer within 1 seconds.";
}

// A server that breaks the protocol ends the connection with a message that says how, however
// slowly or plentifully it sends.
void TestSftpClient::hostileServer() {
    QFETCH(QString, fault);
    QFETCH(bool, started);
    QFETCH(QString, error);
    SshServer server(SshServer::KeyType::Ed25519, QString(), SshServer::hostileSubsystem(fault));
    QUADDLE_REQUIRE_SSH(server);
    QVERIFY(server.authorizeKey(m_key + ".pub"));
    SftpClient client;
    QCOMPARE(client.start(server.sftpCommand({"-o", "BatchMode=yes", "-i", m_key})), started);
    client.timeoutMs = 1000;
    if (started)
        QVERIFY(!client.realPath(".").has_value());
    QVERIFY2(client.error().contains(error), qPrintable(client.error()));
    QVERIFY(client.isBroken());
}

// The connection drops while the first file of a batch is still on its way: each later file
// that already has its real name on the server is told as sent, in order, the first as failed.
void TestSftpClient::connectionLostWithLaterFilesPlaced() {
    SshServer server(SshServer::KeyType::Ed25519, QString(), SshServer::hostileSubsystem("drop"));
    QUADDLE_REQUIRE_SSH(server);
    QVERIFY(server.authorizeKey(m_key + ".pub"));
    QList<SftpClient::BatchFile> batch;
    for (const QString& name : QStringList{"held.txt", "placed.txt"}) {
        writeFile(m_home.filePath(name), name.toUtf8());
        const QString remote = server.root() + "/" + name;
        batch.append({m_home.filePath(name), remote + ".part", remote, std::nullopt});
    }
    QList<qsizetype> told;
    QHash<qsizetype, bool> sent;
    TransferEvents events;
    events.started = [](qsizetype) {};
    events.progress = [](qsizetype, qint64) {};
    events.finished = [&](qsizetype index, const TransferResult& result) {
        told.append(index);
        sent.insert(index, result.sent);
        return true;
    };
    SftpClient client;
    QVERIFY(client.start(server.sftpCommand({"-o", "BatchMode=yes", "-i", m_key})));
    QVERIFY(!client.uploadAll(batch, events));
    QVERIFY(client.isBroken());
    QCOMPARE(readFile(server.root() + "/placed.txt"), QByteArray("placed.txt"));
    QCOMPARE(told, (QList<qsizetype>{0, 1}));
    for (qsizetype index = 0; index < batch.size(); ++index)
        QCOMPARE(sent.value(index), QFileInfo::exists(batch[index].finalPath));
}

QTEST_GUILESS_MAIN(TestSftpClient)
#include "TestSftpClient.moc"
