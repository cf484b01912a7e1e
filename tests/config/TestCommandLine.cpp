#include "TempProgramDir.h"
#include "config/CommandLine.h"
#include "config/Config.h"

#include <QTest>

using namespace quaddle;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void splitsSelectorFromFiles_data();
    void splitsSelectorFromFiles();
    void resolvesSelector_data();
    void resolvesSelector();
    void selectorsCountWhatIsSaved_data();
    void selectorsCountWhatIsSaved();
};

void TestCommandLine::splitsSelectorFromFiles_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("screenshot");
    QTest::newRow("nothing") << QStringList{} << QString() << QStringList{} << false;
    QTest::newRow("files only") << QStringList{"/p/a.jpg", "/p/b.png"} << QString()
                                << QStringList{"/p/a.jpg", "/p/b.png"} << false;
    QTest::newRow("selector and file")
        << QStringList{":2/1", "/p/a.jpg"} << ":2/1" << QStringList{"/p/a.jpg"} << false;
    QTest::newRow("selector alone") << QStringList{":2"} << ":2" << QStringList{} << false;
    QTest::newRow("lone colon is a selector")
        << QStringList{":", "/a"} << ":" << QStringList{"/a"} << false;
    QTest::newRow("colon later in a path")
        << QStringList{"/x:y", ":1"} << QString() << QStringList{"/x:y", ":1"} << false;
    QTest::newRow("empty words skipped")
        << QStringList{"", ":1", "", "/a"} << ":1" << QStringList{"/a"} << false;
    QTest::newRow("only the first word selects")
        << QStringList{":1", ":2"} << ":1" << QStringList{":2"} << false;
    QTest::newRow("blanks belong to the path")
        << QStringList{"/my pics/a b.jpg"} << QString() << QStringList{"/my pics/a b.jpg"} << false;
    QTest::newRow("screenshot and selector")
        << QStringList{"--screenshot", ":1", "/a"} << ":1" << QStringList{"/a"} << true;
    QTest::newRow("screenshot only in first place")
        << QStringList{"/a", "--screenshot"} << QString() << QStringList{"/a", "--screenshot"}
        << false;
}

void TestCommandLine::splitsSelectorFromFiles() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, selector);
    QFETCH(QStringList, files);
    QFETCH(bool, screenshot);
    const CommandLine parsed = parseCommandLine(arguments);
    QCOMPARE(parsed.screenshot, screenshot);
    QCOMPARE(parsed.selector.value_or(QString()), selector);
    QCOMPARE(parsed.selector.has_value(), !selector.isEmpty());
    QCOMPARE(parsed.files, files);
}

void TestCommandLine::resolvesSelector_data() {
    QTest::addColumn<QString>("selector");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<qint32>("server");
    QTest::addColumn<qint32>("folder"); // -1: no folder chosen
    QTest::newRow("server and folder") << ":2/1" << true << 2 << 1;
    QTest::newRow("server only") << ":2" << true << 2 << -1;
    QTest::newRow("empty folder") << ":2/" << true << 2 << -1;
    QTest::newRow("folder not a number") << ":2/x" << true << 2 << -1;
    QTest::newRow("folder beyond list") << ":2/7" << true << 2 << -1;
    QTest::newRow("last folder") << ":2/2" << true << 2 << 2;
    QTest::newRow("deleted folder") << ":2/3" << true << 2 << -1;
    QTest::newRow("negative folder") << ":2/-1" << true << 2 << -1;
    QTest::newRow("further slash in folder") << ":2/1/3" << true << 2 << -1;
    QTest::newRow("hexadecimal") << ":$2/0x1" << true << 2 << 1;
    QTest::newRow("leading blanks") << ":  2/ 1" << true << 2 << 1;
    QTest::newRow("plus sign") << ":+0" << true << 0 << -1;
    QTest::newRow("server not a number") << ":x/1" << false << -1 << -1;
    QTest::newRow("lone colon") << ":" << false << -1 << -1;
    QTest::newRow("negative server") << ":-1" << false << -1 << -1;
    QTest::newRow("deleted server") << ":1" << false << -1 << -1;
    QTest::newRow("missing server") << ":5" << false << -1 << -1;
    QTest::newRow("trailing blank") << ":2 " << false << -1 << -1;
}

void TestCommandLine::resolvesSelector() {
    QFETCH(QString, selector);
    QFETCH(bool, selected);
    QFETCH(qint32, server);
    QFETCH(qint32, folder);

    const test::TempProgramDir programDir;
    Config config;
    config.storeServer("zero", "", "", "", "", "", "", "", -1, -1);
    config.storeServer("one", "", "", "", "", "", "", "", -1, -1);
    config.storeServer("two", "", "", "", "", "", "", "", -1, -1);
    config.deleteServer(1);
    for (const char* path : {"/a", "/b", "/c", "/d"})
        config.setFolder(-1, 2, QString::fromLatin1(path));
    config.deleteFolder(3, 2);

    const std::optional<ServerSelection> selection = resolveSelector(selector, config);
    QCOMPARE(selection.has_value(), selected);
    if (!selection)
        return;
    QCOMPARE(selection->server, server);
    QCOMPARE(selection->folder.value_or(-1), folder);
}

void TestCommandLine::selectorsCountWhatIsSaved_data() {
    QTest::addColumn<qint32>("server");
    QTest::addColumn<qint32>("folder"); // -1: none
    QTest::addColumn<QString>("selector");
    QTest::newRow("first server") << 0 << -1 << ":0";
    QTest::newRow("after a deleted server") << 2 << -1 << ":1";
    QTest::newRow("first folder") << 2 << 0 << ":1/0";
    QTest::newRow("after a deleted folder") << 2 << 2 << ":1/1";
    QTest::newRow("last server") << 3 << -1 << ":2";
}

void TestCommandLine::selectorsCountWhatIsSaved() {
    QFETCH(qint32, server);
    QFETCH(qint32, folder);
    QFETCH(QString, selector);

    const test::TempProgramDir programDir;
    Config config;
    for (const char* host : {"zero", "one", "two", "three"})
        config.storeServer(QString::fromLatin1(host), "", "", "", "", "", "", "", -1, -1);
    config.deleteServer(1);
    for (const char* path : {"/a", "/b", "/c"})
        config.setFolder(-1, 2, QString::fromLatin1(path));
    config.deleteFolder(1, 2);
    const std::optional<qint32> chosenFolder =
        folder < 0 ? std::nullopt : std::optional<qint32>(folder);
    QCOMPARE(selectorFor(config, server, chosenFolder), selector);

    // Read back from the file, as the command line reads it, the selector picks the same.
    config.saveConfig();
    Config saved;
    saved.loadConfig(true);
    const std::optional<ServerSelection> selection = resolveSelector(selector, saved);
    QVERIFY(selection);
    QCOMPARE(saved.servers[selection->server].host, config.servers[server].host);
    QCOMPARE(selection->folder.has_value(), chosenFolder.has_value());
    if (chosenFolder)
        QCOMPARE(saved.folders(selection->server).value(*selection->folder),
                 config.folders(server).value(folder));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
