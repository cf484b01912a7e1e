// The history window on what real uploads recorded: newest first, searched, copied in a tag
// style, deleted from a real FTP server, and removed from the history; what other programs add
// meanwhile, rows, counts and questions, and where the window was.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramFixture.h"
#include "ProgramRun.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "WidgetLookup.h"
#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "gui/HistoryWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
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
    void showsUploadsOfOtherPrograms();
    void rowsAreAsHighAsWhatTheyShow_data();
    void rowsAreAsHighAsWhatTheyShow();
    void timeColumnFitsItsText_data();
    void timeColumnFitsItsText();
    void countSaysFoundAndSelected_data();
    void countSaysFoundAndSelected();
    void deletedEntriesAreOnlyRemoved_data();
    void deletedEntriesAreOnlyRemoved();
    void questionsNameTheirAction_data();
    void questionsNameTheirAction();
    void remembersItsPlace_data();
    void remembersItsPlace();

private:
    enum class Shown { Plain, WithPreview, Deleted };

    // The rows the window shows, top to bottom, by file column.
    static QStringList shownFiles(const HistoryWindow& window);
    // Those selected.
    static QStringList selectedFiles(const HistoryWindow& window);
    // Selects the rows whose file column is name.
    static void select(HistoryWindow& window, const QString& name);
    // The question before deleting files from the test server.
    static QString deleteQuestion(const QStringList& files);
    // An upload to the test server as the history keeps it.
    static HistoryEntry upload(const QString& name, Shown shown = Shown::Plain);
    // Adds entries to the history, as another program would.
    void store(HistoryEntries entries);
    // What the history holds, as another program reads it.
    qint64 storedCount() const;
};

QStringList TestHistoryWindow::shownFiles(const HistoryWindow& window) {
    const QAbstractItemModel* model = control<QTableView>(window, "historyView")->model();
    QStringList files;
    for (int row = 0; row < model->rowCount(); ++row)
        files.append(model->index(row, 1).data().toString());
    return files;
}

namespace {

// What a view measures its cells need; public for any view.
const QAbstractItemView& measured(const QTableView& view) {
    return view;
}

// A font size (0: the desktop's) and a locale for the windows while it lasts.
class Look {
public:
    Look(int pointSize, const QLocale& locale) {
        QFont font = m_font;
        if (pointSize > 0)
            font.setPointSize(pointSize);
        QApplication::setFont(font);
        QLocale::setDefault(locale);
    }
    ~Look() {
        QApplication::setFont(m_font);
        QLocale::setDefault(m_locale);
    }
    Look(const Look&) = delete;
    Look& operator=(const Look&) = delete;

private:
    const QFont m_font = QApplication::font();
    const QLocale m_locale;
};

} // namespace

QStringList TestHistoryWindow::selectedFiles(const HistoryWindow& window) {
    const auto* view = control<QTableView>(window, "historyView");
    QStringList files;
    for (const QModelIndex& row : view->selectionModel()->selectedRows(1))
        files.append(row.data().toString());
    return files;
}

QString TestHistoryWindow::deleteQuestion(const QStringList& files) {
    return "Delete from the server \"Test server\" (127.0.0.1):\n" + files.join("\n") +
           "\n\nDeleted files cannot be brought back.";
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

    // Kept, nothing goes; confirmed, the file and its thumbnail go.
    const QString question = deleteQuestion({"photo.jpg and its thumbnail"});
    m_dialogs->expectActionConfirmation(question, false);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(QFile::exists(server.localPath("photo.jpg")));
    m_dialogs->expectActionConfirmation(question, true);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(!QFile::exists(server.localPath("photo.jpg")));
    QVERIFY(!QFile::exists(server.localPath("photo_thumb.jpg")));
    QCOMPARE(shownFiles(*window), QStringList{"photo.jpg (deleted)"});

    // A file someone removed meanwhile is named as not deleted, and its row stays as it was.
    control<QLineEdit>(*window, "searchEdit")->clear();
    QVERIFY(QFile::remove(server.localPath("a.txt")));
    select(*window, "a.txt");
    m_dialogs->expectActionConfirmation(deleteQuestion({"a.txt"}), true);
    m_dialogs->expectMessageMatching(".*a\\.txt.*");
    control<QPushButton>(*window, "deleteButton")->click();
    QCOMPARE(shownFiles(*window), (QStringList{"photo.jpg (deleted)", "b.txt", "a.txt"}));

    select(*window, "b.txt");
    m_dialogs->expectActionConfirmation(
        "Remove this upload from the history? The file stays on its server.", true);
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
    m_dialogs->expectActionConfirmation(deleteQuestion({"a.txt"}), true);
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
    m_dialogs->expectActionConfirmation(deleteQuestion({"a.txt"}), true);
    m_dialogs->expectMessage("\"a.txt\" on the server \"Test server\" was not deleted: a later "
                             "upload of the history replaced it there.");
    control<QPushButton>(*window, "deleteButton")->click();
    QCOMPARE(test::readFile(server.localPath("a.txt")), QByteArray("bravo"));
    QCOMPARE(shownFiles(*window), (QStringList{"a.txt", "a.txt"}));
    // Deleting the later one deletes the file both named.
    control<QTableView>(*window, "historyView")->selectRow(0);
    m_dialogs->expectActionConfirmation(deleteQuestion({"a.txt"}), true);
    control<QPushButton>(*window, "deleteButton")->click();
    QVERIFY(!QFile::exists(server.localPath("a.txt")));
    QCOMPARE(shownFiles(*window), (QStringList{"a.txt (deleted)", "a.txt (deleted)"}));
}

HistoryEntry TestHistoryWindow::upload(const QString& name, Shown shown) {
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.serverName = "Test server";
    entry.host = "127.0.0.1";
    entry.protocol = "FTP";
    entry.login = HistoryLogin{"user", "21"};
    entry.name = name;
    entry.url = "http://127.0.0.1/" + name;
    entry.size = 1;
    if (shown == Shown::WithPreview) {
        QImage image(48, 36, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        entry.preview = encodeJpeg(image, 80);
        entry.thumbnailName = QFileInfo(name).completeBaseName() + "_thumb.jpg";
        entry.thumbnailUrl = "http://127.0.0.1/" + entry.thumbnailName;
    } else if (shown == Shown::Deleted) {
        entry.deletedTime = entry.time;
    }
    return entry;
}

void TestHistoryWindow::store(HistoryEntries entries) {
    History(m_programDir->path()).add(entries);
}

qint64 TestHistoryWindow::storedCount() const {
    return History(m_programDir->path()).count();
}

void TestHistoryWindow::showsUploadsOfOtherPrograms() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    const QTemporaryDir local;
    MainWindow form({test::localFile(local, "a.txt", "alpha")});
    form.startUpload();
    control<QAction>(form, "historyAction")->trigger();
    auto* window = form.findChild<HistoryWindow*>();
    QVERIFY(window && window->isVisible());
    select(*window, "a.txt");
    const auto cli = [&](const QStringList& arguments) {
        test::ProgramRun run(QUADDLE_CLI_PROGRAM, arguments, m_programDir->environment());
        QVERIFY(run.waitForExit(60000));
        QVERIFY2(run.exitCode() == 0, run.errorOutput().constData());
    };

    // Another program's upload comes in on top; the row chosen stays chosen.
    cli({":0", test::localFile(local, "b.txt", "bravo")});
    QVERIFY(QFile::exists(server.localPath("b.txt")));
    QTRY_COMPARE(shownFiles(*window), (QStringList{"b.txt", "a.txt"}));
    QCOMPARE(selectedFiles(*window), QStringList{"a.txt"});
    QCOMPARE(control<QLabel>(*window, "countLabel")->text(), QString("2 uploads, 1 selected"));

    // While searching, the count takes it in too.
    control<QLineEdit>(*window, "searchEdit")->setText("b.txt");
    cli({":0", test::localFile(local, "c.txt", "charlie")});
    QTRY_COMPARE(control<QLabel>(*window, "countLabel")->text(), QString("1 of 3 uploads"));
    control<QLineEdit>(*window, "searchEdit")->clear();
    QCOMPARE(shownFiles(*window), (QStringList{"c.txt", "b.txt", "a.txt"}));

    // Deleted by another program: the row says so, and it cannot be deleted again.
    select(*window, "b.txt");
    cli({"--delete", "http://127.0.0.1/b.txt"});
    QVERIFY(!QFile::exists(server.localPath("b.txt")));
    QTRY_COMPARE(shownFiles(*window), (QStringList{"c.txt", "b.txt (deleted)", "a.txt"}));
    QCOMPARE(selectedFiles(*window), QStringList{"b.txt (deleted)"});
    QVERIFY(!control<QPushButton>(*window, "deleteButton")->isEnabled());
}

void TestHistoryWindow::rowsAreAsHighAsWhatTheyShow_data() {
    QTest::addColumn<int>("pointSize");
    QTest::newRow("desktop font") << 0;
    QTest::newRow("large font") << 20;
}

void TestHistoryWindow::rowsAreAsHighAsWhatTheyShow() {
    QFETCH(int, pointSize);
    const Look look(pointSize, QLocale());
    store({upload("a.txt"), upload("photo.jpg", Shown::WithPreview), upload("b.txt"),
           upload("c.txt", Shown::Deleted)});
    Config config;
    config.programDir = m_programDir->path();
    {
        HistoryWindow window(config);
        window.show();
        window.grab();
        const auto* view = control<QTableView>(window, "historyView");
        QCOMPARE(shownFiles(window),
                 (QStringList{"c.txt (deleted)", "b.txt", "photo.jpg", "a.txt"}));
        // What the view itself measures for each row's cells.
        for (int row = 0; row < 4; ++row)
            QCOMPARE(view->rowHeight(row), measured(*view).sizeHintForRow(row));
        const int lineHeight = QFontMetrics(view->font()).height();
        for (const int textRow : {0, 1, 3}) {
            QVERIFY(view->rowHeight(textRow) >= lineHeight);
            QVERIFY2(view->rowHeight(textRow) < 2 * lineHeight,
                     qPrintable(QString::number(view->rowHeight(textRow))));
        }
        const QPixmap preview =
            view->model()->index(2, 1).data(Qt::DecorationRole).value<QPixmap>();
        QVERIFY(!preview.isNull());
        QVERIFY(view->rowHeight(2) > preview.height());
    }
}

void TestHistoryWindow::timeColumnFitsItsText_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("pointSize");
    for (const char* locale : {"en_US", "de_DE", "ja_JP", "fi_FI"}) {
        QTest::addRow("%s", locale) << QString::fromLatin1(locale) << 0;
        QTest::addRow("%s, large font", locale) << QString::fromLatin1(locale) << 22;
    }
}

void TestHistoryWindow::timeColumnFitsItsText() {
    QFETCH(QString, locale);
    QFETCH(int, pointSize);
    const Look look(pointSize, QLocale(locale));
    HistoryEntries entries;
    // Late in the year and the day, where dates and times are longest.
    for (const QTime time : {QTime(1, 5), QTime(10, 58), QTime(22, 58)}) {
        HistoryEntry entry = upload("a.txt");
        entry.time = QDateTime(QDate(2026, 12, 28), time).toUTC();
        entries.append(entry);
    }
    store(entries);
    Config config;
    config.programDir = m_programDir->path();
    {
        HistoryWindow window(config);
        window.show();
        window.grab();
        const auto* view = control<QTableView>(window, "historyView");
        const int width = view->columnWidth(0);
        // What the view measures for the times it shows, and the heading.
        const int needed = measured(*view).sizeHintForColumn(0);
        QVERIFY2(width >= needed, qPrintable(QString("%1 < %2").arg(width).arg(needed)));
        QVERIFY(width >= view->horizontalHeader()->sectionSizeHint(0));
        const int spare = width - std::max(needed, view->horizontalHeader()->sectionSizeHint(0));
        QVERIFY2(spare <= 2 * QFontMetrics(view->font()).averageCharWidth(),
                 qPrintable(QString("%1 pixels to spare").arg(spare)));
    }
}

void TestHistoryWindow::countSaysFoundAndSelected_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<QList<int>>("selectedRows");
    QTest::addColumn<QString>("count");
    QTest::newRow("all") << QString() << QList<int>{} << "4 uploads";
    QTest::newRow("all, two selected") << QString() << QList<int>{0, 2} << "4 uploads, 2 selected";
    QTest::newRow("one found") << "b.txt" << QList<int>{} << "1 of 4 uploads";
    QTest::newRow("found and selected")
        << "txt" << QList<int>{0, 1, 2} << "3 of 4 uploads, 3 selected";
    QTest::newRow("none found") << "nothing" << QList<int>{} << "0 of 4 uploads";
}

void TestHistoryWindow::countSaysFoundAndSelected() {
    QFETCH(QString, search);
    QFETCH(QList<int>, selectedRows);
    QFETCH(QString, count);
    store({upload("a.txt"), upload("photo.jpg", Shown::WithPreview), upload("b.txt"),
           upload("c.txt")});
    Config config;
    config.programDir = m_programDir->path();
    HistoryWindow window(config);
    window.show();
    QTest::keyClicks(control<QLineEdit>(window, "searchEdit"), search);
    auto* view = control<QTableView>(window, "historyView");
    for (const int row : selectedRows)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          view->visualRect(view->model()->index(row, 1)).center());
    QCOMPARE(control<QLabel>(window, "countLabel")->text(), count);
}

void TestHistoryWindow::deletedEntriesAreOnlyRemoved_data() {
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<bool>("deletable");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("action");
    QTest::newRow("one deleted")
        << QStringList{"b.txt (deleted)"} << false
        << "Remove this upload from the history? Its file was already deleted from the server."
        << "Remove Entry";
    QTest::newRow("one there") << QStringList{"a.txt"} << true
                               << "Remove this upload from the history? The file stays on its "
                                  "server."
                               << "Remove Entry";
    QTest::newRow("all deleted")
        << QStringList{"b.txt (deleted)", "c.txt (deleted)"} << false
        << "Remove these 2 uploads from the history? Their files were already deleted from their "
           "servers."
        << "Remove 2 Entries";
    QTest::newRow("none deleted") << QStringList{"a.txt", "d.txt"} << true
                                  << "Remove these 2 uploads from the history? The files stay on "
                                     "their servers."
                                  << "Remove 2 Entries";
    QTest::newRow("one of three deleted")
        << QStringList{"a.txt", "b.txt (deleted)", "d.txt"} << true
        << "Remove these 3 uploads from the history? 1 of the files was already deleted from its "
           "server; the others stay there."
        << "Remove 3 Entries";
    QTest::newRow("two of three deleted")
        << QStringList{"a.txt", "b.txt (deleted)", "c.txt (deleted)"} << true
        << "Remove these 3 uploads from the history? 2 of the files were already deleted from "
           "their servers; the others stay there."
        << "Remove 3 Entries";
}

void TestHistoryWindow::deletedEntriesAreOnlyRemoved() {
    QFETCH(QStringList, selected);
    QFETCH(bool, deletable);
    QFETCH(QString, question);
    QFETCH(QString, action);
    store({upload("a.txt"), upload("b.txt", Shown::Deleted), upload("c.txt", Shown::Deleted),
           upload("d.txt")});
    Config config;
    config.programDir = m_programDir->path();
    HistoryWindow window(config);
    window.show();
    auto* view = control<QTableView>(window, "historyView");
    for (const QString& name : selected)
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, Qt::ControlModifier,
            view->visualRect(view->model()->index(int(shownFiles(window).indexOf(name)), 1))
                .center());
    QCOMPARE(selectedFiles(window).size(), selected.size());
    QCOMPARE(control<QPushButton>(window, "deleteButton")->isEnabled(), deletable);

    m_dialogs->expectActionConfirmation(question, false);
    control<QPushButton>(window, "removeButton")->click();
    QCOMPARE(m_dialogs->asked().last().given, action);
    QCOMPARE(storedCount(), 4);
    m_dialogs->expectActionConfirmation(question, true);
    control<QPushButton>(window, "removeButton")->click();
    QCOMPARE(storedCount(), 4 - selected.size());
}

void TestHistoryWindow::questionsNameTheirAction_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("action");
    QTest::newRow("delete one") << "deleteButton" << 1 << "Delete File";
    QTest::newRow("delete three") << "deleteButton" << 3 << "Delete 3 Files";
    QTest::newRow("remove one") << "removeButton" << 1 << "Remove Entry";
    QTest::newRow("remove two") << "removeButton" << 2 << "Remove 2 Entries";
}

void TestHistoryWindow::questionsNameTheirAction() {
    QFETCH(QString, button);
    QFETCH(int, rows);
    QFETCH(QString, action);
    store({upload("a.txt"), upload("b.txt"), upload("c.txt")});
    Config config;
    config.programDir = m_programDir->path();
    HistoryWindow window(config);
    window.show();
    auto* view = control<QTableView>(window, "historyView");
    for (int row = 0; row < rows; ++row)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    // The program's own message box, answered with Enter and then Esc.
    AppDialogs boxes;
    Dialogs* scripted = installDialogs(&boxes);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QStringList captions;
        QString defaultCaption;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            for (const QAbstractButton* shown : box->buttons())
                captions.append(shown->text());
            defaultCaption = box->defaultButton() ? box->defaultButton()->text() : QString();
            QTest::keyClick(box, key);
        });
        control<QPushButton>(window, qPrintable(button))->click();
        QVERIFY2(captions.contains(action), qPrintable(captions.join(", ")));
        QVERIFY(!captions.contains("&Yes") && !captions.contains("Yes"));
        QVERIFY(!defaultCaption.isEmpty() && defaultCaption != action);
    }
    installDialogs(scripted);
    // Kept on both.
    QCOMPARE(storedCount(), 3);
    QCOMPARE(shownFiles(window), (QStringList{"c.txt", "b.txt", "a.txt"}));
}

void TestHistoryWindow::remembersItsPlace_data() {
    QTest::addColumn<bool>("closedWithProgram");
    QTest::newRow("window closed") << false;
    QTest::newRow("program closed") << true;
}

void TestHistoryWindow::remembersItsPlace() {
    QFETCH(bool, closedWithProgram);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect placed;
    {
        auto form = std::make_unique<MainWindow>(QStringList());
        control<QAction>(*form, "historyAction")->trigger();
        auto* window = form->findChild<HistoryWindow*>();
        QVERIFY(window);
        const QSize size = window->minimumSize() + QSize(30, 40);
        // Wholly on the screen, so that nothing has a reason to move it.
        placed = {screen.topLeft() + QPoint(std::min(60, screen.width() - size.width() - 20), 50),
                  size};
        window->setGeometry(placed);
        QCOMPARE(window->geometry(), placed);
        if (!closedWithProgram)
            window->close();
    }
    MainWindow form({});
    control<QAction>(form, "historyAction")->trigger();
    auto* window = form.findChild<HistoryWindow*>();
    QVERIFY(window);
    QCOMPARE(window->geometry(), placed);

    // Placed beyond a screen that has since become smaller, it comes back onto it.
    window->setGeometry(
        QRect(screen.bottomRight() + QPoint(200, 200), screen.size() + QSize(300, 300)));
    window->close();
    QTRY_VERIFY(!form.findChild<HistoryWindow*>());
    control<QAction>(form, "historyAction")->trigger();
    window = form.findChild<HistoryWindow*>();
    QVERIFY(window);
    QVERIFY2(screen.contains(window->frameGeometry()),
             qPrintable(QString("%1,%2 %3x%4")
                            .arg(window->frameGeometry().x())
                            .arg(window->frameGeometry().y())
                            .arg(window->frameGeometry().width())
                            .arg(window->frameGeometry().height())));
}

QTEST_MAIN(TestHistoryWindow)
#include "TestHistoryWindow.moc"
