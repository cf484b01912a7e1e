#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "platform/Error.h"

#include <QTest>

using namespace quaddle;

namespace {

// The options in one line, so a table can say what each command line comes to.
QString summary(const CliOptions& options) {
    QStringList parts;
    if (options.help)
        parts << "help";
    if (options.selector)
        parts << "server " + *options.selector;
    parts << "files " + options.files.join('|');
    if (options.tags)
        parts << QStringLiteral("tags %1").arg(int(*options.tags));
    if (options.onExists)
        parts << QStringLiteral("exists %1").arg(*options.onExists);
    if (options.connections)
        parts << QStringLiteral("connections %1").arg(*options.connections);
    if (options.thumbnails)
        parts << "thumbnails";
    if (options.acceptNew)
        parts << "accept";
    if (options.quiet)
        parts << "quiet";
    if (options.copy)
        parts << "copy";
    if (options.screenshot)
        parts << "screenshot";
    if (!options.masterPasswordFile.isEmpty())
        parts << "master " + options.masterPasswordFile;
    if (options.history)
        parts << QStringLiteral("history %1").arg(*options.history);
    if (options.json)
        parts << "json";
    if (options.deleteUploads)
        parts << "delete";
    if (options.servers)
        parts << "servers";
    return parts.join(", ");
}

} // namespace

class TestCliOptions : public QObject {
    Q_OBJECT

private slots:
    void parsesWords_data();
    void parsesWords();
    void drawsProgressLine_data();
    void drawsProgressLine();
};

void TestCliOptions::parsesWords_data() {
    QTest::addColumn<QStringList>("words");
    // What the words come to, or the start of the error they give.
    QTest::addColumn<QString>("expected");
    QTest::newRow("files only") << QStringList{"a", "b c"} << "files a|b c";
    QTest::newRow("every option")
        << QStringList{"--tags=html-img",
                       "--on-exists=overwrite",
                       "--thumbnails",
                       "--accept-new",
                       "-q",
                       "--copy",
                       "--master-password-file=/k",
                       ":1/2",
                       "a"}
        << "server :1/2, files a, tags 4, exists 1, thumbnails, accept, quiet, copy, master /k";
    QTest::newRow("values as next words")
        << QStringList{"--tags", "none", "--on-exists", "skip", "--connections", "10", "a"}
        << "files a, tags 0, exists 128, connections 10";
    QTest::newRow("options between files")
        << QStringList{"a", "--tags=html", "b"} << "files a|b, tags 3";
    QTest::newRow("selector after a file is a file") << QStringList{"a", ":1"} << "files a|:1";
    QTest::newRow("after -- all are files")
        << QStringList{":0", "--", "--tags=html", "-q", "-"} << "server :0, files --tags=html|-q|-";
    QTest::newRow("help needs no files") << QStringList{"--help"} << "help, files ";
    QTest::newRow("unknown option")
        << QStringList{"--tag=html", "a"} << "Unknown option \"--tag=html\".";
    QTest::newRow("unknown style")
        << QStringList{"--tags=HTML", "a"} << "Unknown tag style \"HTML\".";
    QTest::newRow("unknown policy")
        << QStringList{"--on-exists=keep", "a"} << "Unknown --on-exists choice \"keep\".";
    for (const QString& count : QStringList{"0", "11", "three", ""})
        QTest::addRow("connections \"%s\"", qPrintable(count))
            << QStringList{"--connections=" + count, "a"}
            << QString("--connections takes a number from 1 to 10, not \"%1\".").arg(count);
    QTest::newRow("value missing")
        << QStringList{"a", "--tags"} << "The option --tags needs a value.";
    QTest::newRow("empty password file")
        << QStringList{"--master-password-file=", "a"} << "The master password file has no name.";
    QTest::newRow("no files") << QStringList{":0", "-q"} << "No files to upload.";
    QTest::newRow("screenshot needs no files")
        << QStringList{"--screenshot", ":0"} << "server :0, files , screenshot";
    QTest::newRow("history with screenshot")
        << QStringList{"--history", "--screenshot"}
        << "--history cannot be combined with the options of an upload.";
    QTest::newRow("history") << QStringList{"--history"} << "files , history 20";
    QTest::newRow("history as JSON")
        << QStringList{"--json", "--history=5"} << "files , history 5, json";
    QTest::newRow("delete takes addresses as they are")
        << QStringList{"--delete", "-q", ":0", "http://h/a b"}
        << "files :0|http://h/a b, quiet, delete";
    QTest::newRow("history of none")
        << QStringList{"--history=0"} << "--history takes a number of uploads, not \"0\".";
    QTest::newRow("history number as next word")
        << QStringList{"--history", "5"} << "--history takes no files.";
    QTest::newRow("JSON alone") << QStringList{"--json", "a"}
                                << "--json goes with --history or --servers.";
    QTest::newRow("addresses only") << QStringList{"--tags=url", "a"} << "files a, tags 0";
    QTest::newRow("servers") << QStringList{"--servers"} << "files , servers";
    QTest::newRow("servers as JSON")
        << QStringList{"--json", "--servers"} << "files , json, servers";
    QTest::newRow("folders of a server")
        << QStringList{"--servers", ":2"} << "server :2, files , servers";
    const QString serversAlone = "--servers takes no other option but --json, and at most a "
                                 "server (\":N\") whose folders to list.";
    QTest::newRow("servers with a file") << QStringList{"--servers", "a"} << serversAlone;
    QTest::newRow("servers with two") << QStringList{"--servers", ":1", ":2"} << serversAlone;
    QTest::newRow("servers with upload options")
        << QStringList{"--servers", "--copy"} << serversAlone;
    QTest::newRow("servers and history") << QStringList{"--servers", "--history"} << serversAlone;
    QTest::newRow("history and delete") << QStringList{"--history", "--delete", "u"}
                                        << "--history and --delete cannot be combined.";
    QTest::newRow("delete with upload options")
        << QStringList{"--delete", "--tags=html", "u"}
        << "--delete cannot be combined with the options of an upload.";
    QTest::newRow("history with copy")
        << QStringList{"--history", "--copy"}
        << "--history cannot be combined with the options of an upload.";
    QTest::newRow("delete nothing")
        << QStringList{"--delete"} << "No addresses of uploads to delete.";
}

void TestCliOptions::parsesWords() {
    QFETCH(QStringList, words);
    QFETCH(QString, expected);
    QString result;
    try {
        result = summary(parseCliOptions(words));
    } catch (const Error& error) {
        // The face adds where help is, under the name the program was started by.
        QVERIFY(!error.message().contains("quaddle"));
        result = error.message();
    }
    QCOMPARE(result, expected);
}

void TestCliOptions::drawsProgressLine_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("sent");
    // The run's bytes: done of total in elapsedMs.
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("line");
    QTest::newRow("start") << "a.txt" << qint64(0) << qint64(0) << qint64(0) << qint64(0)
                           << qint64(0) << 80 << "a.txt [--------------------]   0%";
    QTest::newRow("half at 1 MiB/s")
        << "a.txt" << qint64(4 << 20) << qint64(2 << 20) << qint64(2 << 20) << qint64(4 << 20)
        << qint64(2000) << 80 << "a.txt [##########----------]  50%  1.0 MiB/s  0:02 left";
    QTest::newRow("done") << "a.txt" << qint64(1000) << qint64(1000) << qint64(1000) << qint64(1000)
                          << qint64(500) << 80 << "a.txt [####################] 100%  2.0 KiB/s";
    QTest::newRow("hours left") << "big.iso" << (qint64(1) << 30) << qint64(1 << 20)
                                << qint64(1 << 20) << (qint64(1) << 30) << qint64(10000) << 80
                                << "big.iso [--------------------]   0%  102.4 KiB/s  2:50:30 left";
    // Other files go up over other connections meanwhile: speed and time left are the run's.
    QTest::newRow("several connections")
        << "b.bin" << qint64(4 << 20) << qint64(2 << 20) << qint64(4 << 20) << qint64(16 << 20)
        << qint64(2000) << 80 << "b.bin [##########----------]  50%  2.0 MiB/s  0:06 left";
    QTest::newRow("long name gives way")
        << "a-very-long-file-name.jpg" << qint64(100) << qint64(25) << qint64(25) << qint64(100)
        << qint64(0) << 40 << "...name.jpg [#####---------------]  25%";
    QTest::newRow("narrow terminal") << "a.txt" << qint64(100) << qint64(25) << qint64(25)
                                     << qint64(100) << qint64(0) << 20 << " [#####------------";
}

void TestCliOptions::drawsProgressLine() {
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(qint64, sent);
    QFETCH(qint64, done);
    QFETCH(qint64, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(int, width);
    QFETCH(QString, line);
    QCOMPARE(progressLine(name, size, sent, RunBytes{done, total, elapsedMs}, width), line);
    QVERIFY(line.size() < width);
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "TestCliOptions.moc"
