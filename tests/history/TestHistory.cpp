// The history store on a real SQLite file: paging and searching as a list view asks, and files
// left by other versions. What a run records is checked through the built program.
#include "ScriptedDialogs.h"
#include "history/History.h"
#include "platform/Error.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;

namespace {

// Entry number i: a file "file-i.txt" on server "alpha" or "beta", the odd ones on beta.
HistoryEntry entryNumber(int i) {
    HistoryEntry entry;
    entry.time = QDateTime::fromSecsSinceEpoch(1700000000 + i, Qt::UTC);
    entry.serverName = i % 2 ? QStringLiteral("beta") : QStringLiteral("alpha");
    entry.host = QStringLiteral("example.org");
    entry.protocol = QStringLiteral("FTP");
    entry.login = HistoryLogin{QStringLiteral("alice"), QStringLiteral("21")};
    entry.folder = QStringLiteral("/www");
    entry.name = QStringLiteral("file-%1.txt").arg(i);
    entry.url = QStringLiteral("http://example.org/up/") + entry.name;
    entry.size = i;
    entry.sha256 = QString(64, QLatin1Char('a'));
    return entry;
}

QStringList namesOf(const HistoryEntries& entries) {
    QStringList names;
    for (const HistoryEntry& entry : entries)
        names.append(entry.name);
    return names;
}

// Runs statements on the file as another program would.
void onFile(const QString& path, const QStringList& statements) {
    {
        QSqlDatabase database = QSqlDatabase::addDatabase("QSQLITE", "raw");
        database.setDatabaseName(path);
        QVERIFY(database.open());
        for (const QString& statement : statements)
            QVERIFY2(QSqlQuery(database).exec(statement), qPrintable(statement));
    }
    QSqlDatabase::removeDatabase("raw");
}

// Stores file-0.txt to file-11.txt; returns them with their ids.
HistoryEntries addTwelve(History& history) {
    HistoryEntries entries;
    for (int i = 0; i < 12; ++i)
        entries.append(entryNumber(i));
    history.add(entries);
    return entries;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void pagesAndSearches_data();
    void pagesAndSearches();
    void marksAndRemoves();
    void opensFilesOfEachVersion_data();
    void opensFilesOfEachVersion();
    void followsRenamesOfItsOwnFile();
    void programsWritingAtOnceLoseNothing();
    void countsRowsAddedAfterOne_data();
    void countsRowsAddedAfterOne();
    void tellsWhatOtherProgramsWrote();
};

void TestHistory::pagesAndSearches_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("newest first") << "" << qint64(0) << qint64(3) << qint64(12)
                                  << QStringList{"file-11.txt", "file-10.txt", "file-9.txt"};
    QTest::newRow("last page is short")
        << "" << qint64(10) << qint64(5) << qint64(12) << QStringList{"file-1.txt", "file-0.txt"};
    QTest::newRow("past the end") << "" << qint64(12) << qint64(5) << qint64(12) << QStringList{};
    QTest::newRow("by server, any case")
        << "BETA" << qint64(1) << qint64(2) << qint64(6) << QStringList{"file-9.txt", "file-7.txt"};
    QTest::newRow("part of a name") << "le-1" << qint64(0) << qint64(9) << qint64(3)
                                    << QStringList{"file-11.txt", "file-10.txt", "file-1.txt"};
    QTest::newRow("short search") << "1." << qint64(0) << qint64(9) << qint64(2)
                                  << QStringList{"file-11.txt", "file-1.txt"};
    QTest::newRow("wildcards are letters")
        << "e_1%" << qint64(0) << qint64(9) << qint64(0) << QStringList{};
    QTest::newRow("short wildcard") << "_" << qint64(0) << qint64(9) << qint64(0) << QStringList{};
    QTest::newRow("quotes and operators")
        << "\"up\" OR *" << qint64(0) << qint64(9) << qint64(0) << QStringList{};
    QTest::newRow("address") << "org/up/file-2" << qint64(0) << qint64(9) << qint64(1)
                             << QStringList{"file-2.txt"};
}

void TestHistory::pagesAndSearches() {
    QFETCH(QString, search);
    QFETCH(qint64, offset);
    QFETCH(qint64, limit);
    QFETCH(qint64, count);
    QFETCH(QStringList, names);
    const QTemporaryDir dir;
    History history(dir.path() + '/');
    addTwelve(history);
    QCOMPARE(history.count(search), count);
    QCOMPARE(namesOf(history.entries(offset, limit, search)), names);
}

void TestHistory::marksAndRemoves() {
    const QTemporaryDir dir;
    History history(dir.path() + '/');
    HistoryEntries entries{entryNumber(1), entryNumber(2), entryNumber(1)};
    history.add(entries);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
    history.markDeleted({entries[0].id}, when);
    history.remove({entries[1].id});
    entries[0].deletedTime = when;
    QCOMPARE(history.entries(0, 9), (HistoryEntries{entries[2], entries[0]}));
    QCOMPARE(history.withUrl(entries[0].url), (HistoryEntries{entries[2], entries[0]}));
    QCOMPARE(history.count("file-2"), 0);
}

void TestHistory::opensFilesOfEachVersion_data() {
    QTest::addColumn<QStringList>("before");
    // Left untouched with this message; empty when it opens.
    QTest::addColumn<QString>("refused");
    QTest::newRow("empty file") << QStringList{} << "";
    QTest::newRow("first version")
        << QStringList{"CREATE TABLE uploads(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, "
                       "server TEXT NOT NULL, host TEXT NOT NULL, protocol TEXT NOT NULL, "
                       "folder TEXT NOT NULL, name TEXT NOT NULL, thumbnail TEXT NOT NULL, "
                       "url TEXT NOT NULL, thumbnail_url TEXT NOT NULL, size INTEGER NOT NULL, "
                       "sha256 TEXT NOT NULL, deleted_time INTEGER, preview BLOB)",
                       "CREATE VIRTUAL TABLE uploads_search USING fts5(name, url, server, "
                       "content='uploads', content_rowid='id', tokenize='trigram')",
                       "PRAGMA user_version=1"}
        << "";
    QTest::newRow("newer version") << QStringList{"CREATE TABLE later(x)", "PRAGMA user_version=3"}
                                   << "was written by a newer version";
}

void TestHistory::opensFilesOfEachVersion() {
    QFETCH(QStringList, before);
    QFETCH(QString, refused);
    const QTemporaryDir dir;
    const QString programDir = dir.path() + '/';
    onFile(History::filePath(programDir), before);
    test::ScriptedDialogs dialogs;
    try {
        History history(programDir);
        HistoryEntries entries{entryNumber(0)};
        history.add(entries);
        QCOMPARE(history.entries(0, 1), entries);
        QVERIFY(refused.isEmpty());
    } catch (const Error& error) {
        QVERIFY2(!refused.isEmpty() && error.message().contains(refused),
                 qPrintable(error.message()));
    }
    QVERIFY(dialogs.done());
    QVERIFY(!QFile::exists(History::damagedPath(programDir)));
}

void TestHistory::followsRenamesOfItsOwnFile() {
    const QTemporaryDir dir;
    History history(dir.path() + '/');
    HistoryEntry picture = entryNumber(0);
    picture.name = "holiday.jpg";
    picture.thumbnailName = "holiday_thumb.jpg";
    // The same name through another server entry, another login, another folder, and an
    // entry whose file was deleted: none of them is the file renamed.
    HistoryEntry mirror = picture;
    mirror.serverName = "mirror";
    HistoryEntry otherUser = picture;
    otherUser.login->user = "bob";
    HistoryEntry otherFolder = picture;
    otherFolder.folder = "/www/old";
    HistoryEntry unknownLogin = picture;
    unknownLogin.login.reset();
    HistoryEntry deleted = picture;
    deleted.deletedTime = QDateTime::fromSecsSinceEpoch(1800000000, Qt::UTC);
    HistoryEntries entries{deleted, picture, mirror, otherUser, otherFolder, unknownLogin};
    history.add(entries);

    history.followRename(picture, "holiday.jpg", "holiday_001.jpg", "http://x/holiday_001.jpg");
    history.followRename(picture, "holiday_thumb.jpg", "holiday_thumb_001.jpg",
                         "http://x/holiday_thumb_001.jpg");
    entries[1].name = "holiday_001.jpg";
    entries[1].url = "http://x/holiday_001.jpg";
    entries[1].thumbnailName = "holiday_thumb_001.jpg";
    entries[1].thumbnailUrl = "http://x/holiday_thumb_001.jpg";
    QCOMPARE(history.entries(0, 9), (HistoryEntries{entries[5], entries[4], entries[3], entries[2],
                                                    entries[1], entries[0]}));
    // The search finds the entry by its new name, and no more by the old one.
    QCOMPARE(history.entries(0, 9, "day_001"), HistoryEntries{entries[1]});
    QCOMPARE(history.count("holiday.jpg"), 5);

    QCOMPARE(history.sameFile(entries[1]), HistoryEntries{entries[1]});
    QCOMPARE(history.sameFile(entries[3]), HistoryEntries{entries[3]});
}

void TestHistory::programsWritingAtOnceLoseNothing() {
    constexpr int Programs = 10;
    // A race shows in some rounds only; each round starts from an empty folder.
    for (int round = 0; round < 4; ++round) {
        const QTemporaryDir dir;
        const QString programDir = dir.path() + '/';
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int number = 0; number < Programs; ++number) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(QUADDLE_HISTORY_WRITER,
                                  {programDir, QString("file-%1.txt").arg(number)});
        }
        for (const auto& writer : writers)
            QVERIFY(writer->waitForReadyRead(30000) && writer->readAll() == "ready\n");
        // Written straight away: QProcess would send them only while it waits for one.
        for (const auto& writer : writers)
            QVERIFY(writer->write("go\n") == 3 && writer->waitForBytesWritten(5000));
        for (const auto& writer : writers) {
            QVERIFY(writer->waitForFinished(60000));
            QVERIFY2(writer->exitCode() == 0, writer->readAllStandardError().constData());
        }
        QCOMPARE(History(programDir).count(), qint64(Programs));
    }
}

void TestHistory::countsRowsAddedAfterOne_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<qint64>("count");
    QTest::newRow("every row") << "" << qint64(3);
    QTest::newRow("by server") << "BETA" << qint64(2);
    QTest::newRow("part of a name") << "le-1" << qint64(2);
    QTest::newRow("short search") << "1." << qint64(1);
    QTest::newRow("none") << "file-2." << qint64(0);
}

void TestHistory::countsRowsAddedAfterOne() {
    QFETCH(QString, search);
    QFETCH(qint64, count);
    const QTemporaryDir dir;
    History history(dir.path() + '/');
    const HistoryEntries entries = addTwelve(history);
    QCOMPARE(history.count(search, entries[8].id), count);
}

void TestHistory::tellsWhatOtherProgramsWrote() {
    const QTemporaryDir dir;
    const QString programDir = dir.path() + '/';
    History history(programDir);
    QVERIFY(!history.changedElsewhere());
    HistoryEntries own{entryNumber(1)};
    history.add(own);
    QVERIFY(!history.changedElsewhere());
    QProcess writer;
    writer.start(QUADDLE_HISTORY_WRITER, {programDir, "other.txt"});
    QVERIFY(writer.waitForReadyRead(30000));
    QVERIFY(writer.write("go\n") == 3 && writer.waitForBytesWritten(5000));
    QVERIFY(writer.waitForFinished(60000));
    QCOMPARE(writer.exitCode(), 0);
    QVERIFY(history.changedElsewhere());
    QVERIFY(!history.changedElsewhere());
    QCOMPARE(namesOf(history.entries(0, 9)), (QStringList{"other.txt", "file-1.txt"}));
}

QTEST_GUILESS_MAIN(TestHistory)
#include "TestHistory.moc"
