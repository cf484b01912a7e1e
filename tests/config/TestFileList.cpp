#include "config/FileList.h"

#include <QTest>

using quaddle::FileEntry;
using quaddle::FileList;

namespace {

QStringList pathsOf(const FileList& files) {
    QStringList paths;
    for (const FileEntry& entry : files)
        paths.append(entry.path);
    return paths;
}

FileList fromPaths(const QStringList& paths) {
    FileList files;
    for (const QString& path : paths)
        files.append({path, QString()});
    return files;
}

} // namespace

class TestFileList : public QObject {
    Q_OBJECT

private slots:
    void sortsByWholePathIgnoringCase_data();
    void sortsByWholePathIgnoringCase();
    void keepsDuplicates();
    void ordersSameFileByThumbnail();
    void pathWithBarStaysOneEntry();
    void fileNameIsTheLastPathPart_data();
    void fileNameIsTheLastPathPart();
};

void TestFileList::sortsByWholePathIgnoringCase_data() {
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("folder decides before name")
        << QStringList{"/B/a.jpg", "/A/b.JPG"} << QStringList{"/A/b.JPG", "/B/a.jpg"};
    QTest::newRow("upper case does not sort first")
        << QStringList{"/p/Zebra.png", "/p/apple.png", "/p/Mango.png"}
        << QStringList{"/p/apple.png", "/p/Mango.png", "/p/Zebra.png"};
    QTest::newRow("case of folders ignored")
        << QStringList{"/pics/b.jpg", "/Pics/a.jpg"} << QStringList{"/Pics/a.jpg", "/pics/b.jpg"};
    QTest::newRow("empty list") << QStringList{} << QStringList{};
}

void TestFileList::sortsByWholePathIgnoringCase() {
    QFETCH(QStringList, given);
    QFETCH(QStringList, sorted);
    FileList files = fromPaths(given);
    quaddle::sortFiles(files);
    QCOMPARE(pathsOf(files), sorted);
}

void TestFileList::keepsDuplicates() {
    FileList files = fromPaths({"/p/b.jpg", "/p/a.jpg", "/p/b.jpg", "/p/a.jpg"});
    quaddle::sortFiles(files);
    QCOMPARE(pathsOf(files), (QStringList{"/p/a.jpg", "/p/a.jpg", "/p/b.jpg", "/p/b.jpg"}));
}

void TestFileList::ordersSameFileByThumbnail() {
    FileList files{{"/p/a.jpg", "/tmp/z_thumb.jpg"},
                   {"/p/a.jpg", "/tmp/a_thumb.jpg"},
                   {"/p/a.jpg", QString()}};
    quaddle::sortFiles(files);
    QCOMPARE(files[0].thumbnail, QString());
    QCOMPARE(files[1].thumbnail, QStringLiteral("/tmp/a_thumb.jpg"));
    QCOMPARE(files[2].thumbnail, QStringLiteral("/tmp/z_thumb.jpg"));
}

void TestFileList::pathWithBarStaysOneEntry() {
    FileList files{{"/p/x|y.jpg", QString()}, {"/p/a.jpg", "/tmp/a|thumb.jpg"}};
    quaddle::sortFiles(files);
    QCOMPARE(files.size(), 2);
    QCOMPARE(files[0], (FileEntry{"/p/a.jpg", "/tmp/a|thumb.jpg"}));
    QCOMPARE(files[1], (FileEntry{"/p/x|y.jpg", QString()}));
    QCOMPARE(quaddle::fileNameOf(files[1].path), QStringLiteral("x|y.jpg"));
}

void TestFileList::fileNameIsTheLastPathPart_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("nested") << "/pics/2024/a.jpg"
                            << "a.jpg";
    QTest::newRow("no folder") << "a.jpg"
                               << "a.jpg";
    QTest::newRow("colon in name") << "/x:y/b:c.png"
                                   << "b:c.png";
    QTest::newRow("backslash is a name character") << "/p/a\\b.jpg"
                                                   << "a\\b.jpg";
}

void TestFileList::fileNameIsTheLastPathPart() {
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(quaddle::fileNameOf(path), name);
}

QTEST_APPLESS_MAIN(TestFileList)
#include "TestFileList.moc"
