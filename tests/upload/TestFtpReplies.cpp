#include "upload/FtpReplies.h"

#include <QTest>

using namespace quaddle;

// Replies as servers send them, whole or in pieces, and the PASV address in their many forms.
class TestFtpReplies : public QObject {
    Q_OBJECT

private slots:
    void readsReplies_data();
    void readsReplies();
    void waitsForTheLineEnd();
    void boundsOneReply_data();
    void boundsOneReply();
    void dataPort_data();
    void dataPort();
};

void TestFtpReplies::readsReplies_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<int>("lines");
    QTest::newRow("one per line") << QByteArray("220 Hi\r\n331 Pass\r\n")
                                  << QStringList{"220 Hi", "331 Pass"} << 2;
    QTest::newRow("multi-line to code and blank")
        << QByteArray("220-Hello\r\n there\r\n220-more\r\n220 Ready\r\n")
        << QStringList{"220 Ready"} << 4;
    QTest::newRow("multi-line to bare code")
        << QByteArray("211-Features:\r\n SIZE\r\n211\r\n") << QStringList{"211"} << 3;
    QTest::newRow("other code inside multi-line")
        << QByteArray("230-Hi\r\n226 not the end\r\n230 in\r\n") << QStringList{"230 in"} << 3;
    QTest::newRow("text without code skipped")
        << QByteArray("hello\r\n\r\n200 OK\r\n") << QStringList{"200 OK"} << 3;
    QTest::newRow("LF only and extra CRs")
        << QByteArray("200 a\n200 b\r\r\n") << QStringList{"200 a", "200 b"} << 2;
    QTest::newRow("digits of another script are no code")
        << QByteArray("\xd9\xa2\xd9\xa2\xd9\xa0 x\r\n200 y\r\n") << QStringList{"200 y"} << 2;
    QTest::newRow("NUL inside a line kept")
        << QByteArray("257 \"a\0b\"\r\n", 11) << QStringList{QString::fromUtf8("257 \"a\0b\"", 9)}
        << 1;
}

void TestFtpReplies::readsReplies() {
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, replies);
    QFETCH(int, lines);
    // Whole, and one byte at a time: the same lines and replies.
    for (const bool bytewise : {false, true}) {
        FtpReplyReader reader;
        QStringList seen;
        QStringList got;
        const auto take = [&] {
            while (const std::optional<FtpReply> reply =
                       reader.next([&](const QString& line) { seen.append(line); })) {
                QCOMPARE(reply->code, reply->line.left(3).toInt());
                got.append(reply->line);
            }
        };
        if (bytewise) {
            for (const char byte : stream) {
                reader.append(QByteArrayView(&byte, 1));
                take();
            }
        } else {
            reader.append(stream);
            take();
        }
        QCOMPARE(got, replies);
        QCOMPARE(seen.size(), lines);
    }
}

void TestFtpReplies::waitsForTheLineEnd() {
    FtpReplyReader reader;
    reader.append("220 Rea");
    QVERIFY(!reader.next({}));
    reader.append("dy\r");
    QVERIFY(!reader.next({}));
    reader.append("\n");
    QCOMPARE(reader.next({})->line, QStringLiteral("220 Ready"));
    // Reset forgets a reply begun and bytes waiting.
    reader.append("220-a\r\n220 b");
    QVERIFY(!reader.next({}));
    reader.reset();
    reader.append("200 c\r\n");
    QCOMPARE(reader.next({})->code, 200);
}

void TestFtpReplies::boundsOneReply_data() {
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("replies");
    QTest::addColumn<QString>("violation"); // empty: none
    const qsizetype maxLine = FtpReplyReader::MaxLine;
    const int maxLines = FtpReplyReader::MaxReplyLines;
    const QString longLine =
        QStringLiteral("The server sent a reply line of more than %1 bytes.").arg(maxLine);
    const QString manyLines =
        QStringLiteral("The server sent a reply of more than %1 lines.").arg(maxLines);
    QTest::newRow("line over the bound, unended") << QByteArray(maxLine + 1, 'x') << 0 << longLine;
    QTest::newRow("line over the bound, ended") << QByteArray(maxLine + 1, 'x') + "\r\n200 OK\r\n"
                                                << 0 << longLine;
    QTest::newRow("lines at the bound")
        << QByteArray("220-x\r\n").repeated(maxLines - 1) + "220 ok\r\n"
        << 1 << QString();
    QTest::newRow("one line more") << QByteArray("220-x\r\n").repeated(maxLines) + "220 ok\r\n"
                                   << 0 << manyLines;
    QTest::newRow("the bound holds per reply")
        << (QByteArray("220-x\r\n").repeated(maxLines - 1) + "220 ok\r\n").repeated(3) << 3
        << QString();
    QTest::newRow("bytes over the bound")
        << QByteArray("220-" + QByteArray(60000, 'x') + "\r\n").repeated(20) + "220 ok\r\n"
        << 0
        << QStringLiteral("The server sent a reply of more than %1 bytes.")
               .arg(FtpReplyReader::MaxReplyBytes);
}

void TestFtpReplies::boundsOneReply() {
    QFETCH(QByteArray, stream);
    QFETCH(int, replies);
    QFETCH(QString, violation);
    FtpReplyReader reader;
    int got = 0;
    reader.append(stream);
    while (reader.next({}))
        ++got;
    QCOMPARE(reader.violation(), violation);
    QCOMPARE(got, replies);
    // Nothing is read past a violation, not even a good reply after it.
    reader.append("200 after\r\n");
    QCOMPARE(bool(reader.next({})), violation.isEmpty());
}

void TestFtpReplies::dataPort_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("port"); // -1: no address
    QTest::newRow("usual") << "227 Entering Passive Mode (127,0,0,1,195,80)." << 195 * 256 + 80;
    QTest::newRow("without parentheses") << "227 =10,0,0,5,4,1" << 4 * 256 + 1;
    QTest::newRow("highest port") << "227 (1,2,3,4,255,255)" << 65535;
    QTest::newRow("part over 255") << "227 (127,0,0,1,256,0)" << -1;
    QTest::newRow("port zero") << "227 (127,0,0,1,0,0)" << -1;
    QTest::newRow("digits run on") << "227 (127,0,0,1,1000,5)" << -1;
    QTest::newRow("huge number") << "227 (1,2,3,4,99999999999999999999,1)" << -1;
    QTest::newRow("five parts") << "227 (127,0,0,1,80)" << -1;
    QTest::newRow("no address") << "227 Entering Passive Mode." << -1;
    QTest::newRow("EPSV usual") << "229 Entering Extended Passive Mode (|||6446|)" << 6446;
    QTest::newRow("EPSV other delimiter") << "229 (!!!1025!)" << 1025;
    QTest::newRow("EPSV mixed delimiters") << "229 (|!|1025|)" << -1;
    QTest::newRow("EPSV digit as delimiter") << "229 (1112341)" << -1;
    QTest::newRow("EPSV port over 65535") << "229 (|||65536|)" << -1;
    QTest::newRow("EPSV port zero") << "229 (|||0|)" << -1;
    QTest::newRow("EPSV no port") << "229 Entering Extended Passive Mode." << -1;
}

void TestFtpReplies::dataPort() {
    QFETCH(QString, reply);
    QFETCH(int, port);
    const std::optional<quint16> got =
        reply.startsWith("229") ? quaddle::epsvPort(reply) : quaddle::pasvPort(reply);
    QCOMPARE(got ? int(*got) : -1, port);
}

QTEST_GUILESS_MAIN(TestFtpReplies)
#include "TestFtpReplies.moc"
