// The history window on what real uploads recorded: newest first, searched, copied in a tag
// style, deleted from a real FTP server, and removed from the history.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "gui/HistoryWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::FtpServer;

class TestHistoryWindow : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init() { startTest(); }
    void cleanup() {
        finishTest();
        removeMadeThumbnails();
    }
    void uploadsAreFoundCopiedDeletedAndRemoved();
    void opensBeforeTheFirstUpload();
    void keepsAFileThatIsNotTheUpload();
    void anOverwrittenUploadKeepsTheLaterOne();

private:
    // The rows the window shows, top to bottom, by file column.
    static QStringList shownFiles(const HistoryWindow& window);
    // Selects the rows whose file column is name.
    static void select(HistoryWindow& window, const QString& name);
};

QStringList TestHistoryWindow::shownFiles(const HistoryWindow& window) {
    const QAbstractItemModel* model = control<QTableView>(window, "historyView")->model();
    QStringList files;
    for (int row = 0; row < model->rowCount(); ++row)
        files.append(model->index(row, 1).data().toString());
    return files;
}

void TestHistoryWindow::select(HistoryWindow& window, const QString& name) {
    auto* view = control<QTableView>(window, "historyView");
    view->clearSelection();
    const int row = int(shownFiles(window).indexOf(name));
    QVERIFY2(row >= 0, qPrintable(name));
    view->selectRow(row);
}

void TestHistoryWindow::uploadsAreFoundCopiedDeletedAndRemoved() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(1)}});
    const QTemporaryDir local;
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString photo = test::localFile(local, "photo.jpg", encodeJpeg(image, 90));
    MainWindow form(
        {test::localFile(local, "a.txt", "a"), photo, test::localFile(local, "b.txt", "b")});
    m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, true);
    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 3);

    control<QAction>(form, "historyAction")->trigger();
    auto* window = form.findChild<HistoryWindow*>();
    QVERIFY(window && window->isVisible());
    QCOMPARE(shownFiles(*window), (QStringList{"photo.jpg", "b.txt", "a.txt"}));
    QCOMPARE(control<QLabel>(*window, "countLabel")->text(), QString("3 uploads"));
    // The thumbnail shows small beside its picture; other files have none.
    const QAbstractItemModel* rows = control<QTableView>(*window, "historyView")->model();
    const auto preview = [rows](int row) {
        return rows->index(row, 1).data(Qt::DecorationRole).value<QPixmap>();
    };
    QCOMPARE(preview(0).width(), 48);
    QVERIFY(preview(1).isNull());
    control<QLineEdit>(*window, "searchEdit")->setText("PHOTO");
    QCOMPARE(shownFiles(*window), QStringList{"photo.jpg"});

    select(*window, "photo.jpg");
    control<QComboBox>(*window, "tagStyleBox")->setCurrentIndex(int(TagStyle::Url));
    control<QPushButton>(*window, "copyButton")->click();
    QCOMPARE(QApplication::clipboard()->text(),
             QString("[URL=http://127.0.0.1/photo.jpg][IMG]http://127.0.0.1/photo_thumb.jpg[/IMG]"
                     "[/URL]"));

    // Answered No, nothing goes; answered Yes, the file and its thumbnail go.
    const QString question = "Delete from the server \"[^\"]+\" \\(127.0.0.1\\):\nphoto\\.jpg and "
                             "its thumbnail\n\nDeleted files cannot be brought back.";
    m_dialogs->expectMessageMatching(question, MessageAnswer::No);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(QFile::exists(server.localPath("photo.jpg")));
    m_dialogs->expectMessageMatching(question, MessageAnswer::Yes);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(!QFile::exists(server.localPath("photo.jpg")));
    QVERIFY(!QFile::exists(server.localPath("photo_thumb.jpg")));
    QCOMPARE(shownFiles(*window), QStringList{"photo.jpg (deleted)"});

    // A file someone removed meanwhile is named as not deleted, and its row stays as it was.
    control<QLineEdit>(*window, "searchEdit")->clear();
    QVERIFY(QFile::remove(server.localPath("a.txt")));
    select(*window, "a.txt");
    m_dialogs->expectMessageMatching("Delete from the server .*", MessageAnswer::Yes);
    m_dialogs->expectMessageMatching(".*a\\.txt.*");
    control<QPushButton>(*window, "deleteButton")->click();
    QCOMPARE(shownFiles(*window), (QStringList{"photo.jpg (deleted)", "b.txt", "a.txt"}));

    select(*window, "b.txt");
    m_dialogs->expectMessage("Remove this upload from the history? The file stays on its server.",
                             MessageAnswer::Yes);
    control<QPushButton>(*window, "removeButton")->click();
    QCOMPARE(shownFiles(*window), (QStringList{"photo.jpg (deleted)", "a.txt"}));
    QVERIFY(QFile::exists(server.localPath("b.txt")));
}

void TestHistoryWindow::opensBeforeTheFirstUpload() {
    // A fresh install: no program folder yet in the user's data folder.
    const QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    m_programDir->setStoredProgramDir(std::nullopt);
    const QString programDir = dataHome.path() + "/Quaddle";
    QVERIFY(!QFileInfo::exists(programDir));
    {
        MainWindow form({});
        control<QAction>(form, "historyAction")->trigger();
        auto* window = form.findChild<HistoryWindow*>();
        QVERIFY(window && window->isVisible());
        QVERIFY(shownFiles(*window).isEmpty());
        QCOMPARE(control<QLabel>(*window, "countLabel")->text(),
                 QString("No uploads yet. Files you upload will appear here."));
        // A search that finds nothing counts, rather than promising uploads.
        control<QLineEdit>(*window, "searchEdit")->setText("nothing");
        QCOMPARE(control<QLabel>(*window, "countLabel")->text(), QString("0 uploads"));
    }
    qunsetenv("XDG_DATA_HOME");
    struct stat status = {};
    QCOMPARE(stat(QFile::encodeName(programDir).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0700));
    QVERIFY(QFileInfo(programDir + "/history.sqlite").isFile());
}

void TestHistoryWindow::keepsAFileThatIsNotTheUpload() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    const QTemporaryDir local;
    MainWindow form({test::localFile(local, "a.txt", "alpha")});
    form.startUpload();
    QCOMPARE(form.uploadResults().size(), 1);
    // Someone put another file of that name in its place.
    test::writeFile(server.localPath("a.txt"), "another one");

    control<QAction>(form, "historyAction")->trigger();
    auto* window = form.findChild<HistoryWindow*>();
    QVERIFY(window);
    select(*window, "a.txt");
    m_dialogs->expectMessageMatching("Delete from the server .*", MessageAnswer::Yes);
    m_dialogs->expectMessage("\"a.txt\" on the server \"Test server\" was not deleted: it is not "
                             "the file uploaded (11 bytes there, 5 bytes uploaded).");
    control<QPushButton>(*window, "deleteButton")->click();
    QCOMPARE(test::readFile(server.localPath("a.txt")), QByteArray("another one"));
    QCOMPARE(shownFiles(*window), QStringList{"a.txt"});
}

void TestHistoryWindow::anOverwrittenUploadKeepsTheLaterOne() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(1)}});
    const QTemporaryDir first;
    const QTemporaryDir second;
    MainWindow form({test::localFile(first, "a.txt", "alpha")});
    form.startUpload();
    MainWindow later({test::localFile(second, "a.txt", "bravo")});
    later.startUpload();
    QCOMPARE(test::readFile(server.localPath("a.txt")), QByteArray("bravo"));

    control<QAction>(form, "historyAction")->trigger();
    auto* window = form.findChild<HistoryWindow*>();
    QVERIFY(window);
    QCOMPARE(shownFiles(*window), (QStringList{"a.txt", "a.txt"}));
    // The first upload's file is the later one's now: deleting the first leaves it.
    control<QTableView>(*window, "historyView")->selectRow(1);
    m_dialogs->expectMessageMatching("Delete from the server .*", MessageAnswer::Yes);
    m_dialogs->expectMessage("\"a.txt\" on the server \"Test server\" was not deleted: a later "
                             "upload of the history replaced it there.");
    control<QPushButton>(*window, "deleteButton")->click();
    QCOMPARE(test::readFile(server.localPath("a.txt")), QByteArray("bravo"));
    QCOMPARE(shownFiles(*window), (QStringList{"a.txt", "a.txt"}));
    // Deleting the later one deletes the file both named.
    control<QTableView>(*window, "historyView")->selectRow(0);
    m_dialogs->expectMessageMatching("Delete from the server .*", MessageAnswer::Yes);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(!QFile::exists(server.localPath("a.txt")));
    QCOMPARE(shownFiles(*window), (QStringList{"a.txt (deleted)", "a.txt (deleted)"}));
}

QTEST_MAIN(TestHistoryWindow)
#include "TestHistoryWindow.moc"
