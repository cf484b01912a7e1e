#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "config/Config.h"
#include "gui/ThumbnailWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

using namespace quaddle;
using quaddle::test::control;

class TestThumbnailWindow : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void makesThumbnailsForImagesOnly();
    void thumbnailKeepsClearOfTheRunsFiles();
    void abortWhileWorkingFinishesThoseBegunOnly_data();
    void abortWhileWorkingFinishesThoseBegunOnly();
    void failedImageIsReportedAndKeepsItsValue();

private:
    QString jpeg(const QString& name, int width, int height);
    // onTitle sees the window each time its title changes.
    FileList run(const FileList& files,
                 const std::function<void(ThumbnailWindow&, const QString&)>& onTitle = {});

    QTemporaryDir m_temporary;
    std::unique_ptr<QTemporaryDir> m_local;
    QStringList m_captions;
};

void TestThumbnailWindow::initTestCase() {
    // Thumbnails land in the temporary directory; give this run its own.
    qputenv("TMPDIR", QFile::encodeName(m_temporary.path()));
}

void TestThumbnailWindow::init() {
    startTest();
    m_local = std::make_unique<QTemporaryDir>();
    m_captions.clear();
}

void TestThumbnailWindow::cleanup() {
    removeMadeThumbnails();
    QVERIFY(!QFileInfo::exists(thumbnailDir()));
    finishTest();
    m_local.reset();
}

QString TestThumbnailWindow::jpeg(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += 7)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    QFile file(m_local->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(encodeJpeg(image, 90)) <= 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

FileList
TestThumbnailWindow::run(const FileList& files,
                         const std::function<void(ThumbnailWindow&, const QString&)>& onTitle) {
    ThumbnailWindow window(false);
    connect(&window, &QWidget::windowTitleChanged, this, [&](const QString& title) {
        m_captions.append(title);
        if (onTitle)
            onTitle(window, title);
    });
    ThumbnailRun thumbnails(files, ThumbnailOptions{}, window.begin());
    return thumbnails.finish();
}

void TestThumbnailWindow::makesThumbnailsForImagesOnly() {
    QFile notes(m_local->filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();
    const FileList files{{jpeg("a.jpg", 600, 400), QString()},
                         {m_local->filePath("anim.gif"), "kept"},
                         {notes.fileName(), QString()},
                         {m_local->filePath("missing.jpg"), QString()},
                         {jpeg("b.jpg", 60, 40), QString()}};
    QList<int> progress;
    const FileList result = run(files, [&](ThumbnailWindow& window, const QString&) {
        const auto* bar = control<QProgressBar>(window, "progressBar");
        progress << bar->value() << bar->maximum();
        QVERIFY(window.isVisible());
        QVERIFY(window.width() >= 394);
        QCOMPARE(window.minimumHeight(), window.maximumHeight());
    });
    QCOMPARE(progress, (QList<int>{0, 2, 1, 2, 2, 2}));
    QCOMPARE(result[0].thumbnail, thumbnailPath(files[0].path));
    QCOMPARE(QImage(result[0].thumbnail).size(), QSize(300, 200));
    QCOMPARE(result[1].thumbnail, QStringLiteral("kept"));
    QCOMPARE(result[2].thumbnail, QString());
    QCOMPARE(result[3].thumbnail, QString());
    QCOMPARE(result[4].thumbnail, thumbnailPath(files[4].path));
    QCOMPARE(m_captions, (QStringList{"Creating Thumbnails... 0 of 2 done",
                                      "Creating Thumbnails... 1 of 2 done",
                                      "Creating Thumbnails... 2 of 2 done"}));
}

void TestThumbnailWindow::thumbnailKeepsClearOfTheRunsFiles() {
    const FileList files{{jpeg("b.jpg", 600, 400), QString()},
                         {jpeg("b_thumb.jpg", 60, 40), QString()}};
    const FileList result = run(files);
    QCOMPARE(result[0].thumbnail, QDir(thumbnailDir()).filePath("b_thumb_001.jpg"));
    QCOMPARE(QImage(result[0].thumbnail).size(), QSize(300, 200));
    QCOMPARE(result[1].thumbnail, QDir(thumbnailDir()).filePath("b_thumb_thumb.jpg"));
}

void TestThumbnailWindow::abortWhileWorkingFinishesThoseBegunOnly_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Abort") << "abort";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("window closed") << "close";
}

void TestThumbnailWindow::abortWhileWorkingFinishesThoseBegunOnly() {
    QFETCH(QString, how);
    // As many images as there are workers are begun at once; two more wait for a free one.
    const int workers = QThread::idealThreadCount();
    FileList files;
    for (int i = 0; i < workers + 2; ++i)
        files.append({jpeg(QStringLiteral("big%1.jpg").arg(i), 3000, 2000), QString()});
    // The user stops through the event loop as the work starts: a window that stays live while
    // the workers work sees it before any image is done, and no further one is begun.
    const FileList result = run(files, [&how](ThumbnailWindow& window, const QString& title) {
        if (!title.startsWith("Creating Thumbnails... 0 of"))
            return;
        QMetaObject::invokeMethod(
            &window,
            [&window, how] {
                if (how == "abort")
                    control<QPushButton>(window, "abortButton")->click();
                else if (how == "escape")
                    QTest::keyClick(&window, Qt::Key_Escape);
                else
                    window.close();
            },
            Qt::QueuedConnection);
    });
    for (qsizetype i = 0; i < files.size(); ++i) {
        const bool begun = i < workers;
        QCOMPARE(result[i].thumbnail, begun ? thumbnailPath(files[i].path) : QString());
        QCOMPARE(QFileInfo::exists(thumbnailPath(files[i].path)), begun);
    }
    QCOMPARE(m_captions,
             QStringList{QStringLiteral("Creating Thumbnails... 0 of %1 done").arg(files.size())});
}

void TestThumbnailWindow::failedImageIsReportedAndKeepsItsValue() {
    // The first run makes a thumbnail; then the picture breaks and the next run fails on it.
    const FileList first = run({{jpeg("broken.jpg", 40, 40), QString()}});
    const QString earlier = first[0].thumbnail;
    QCOMPARE(earlier, thumbnailPath(first[0].path));
    QFile broken(first[0].path);
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("\xFF\xD8\xFF\xE0 not really a picture");
    broken.close();
    const FileList files{first[0], {jpeg("good.jpg", 50, 50), QString()}};
    m_dialogs->expectMessageMatching("An error occurred while resizing \"" + broken.fileName() +
                                     "\":\n.+");
    const FileList result = run(files);
    // The entry keeps the earlier thumbnail, which is still there to be uploaded.
    QCOMPARE(result[0].thumbnail, earlier);
    QCOMPARE(QImage(earlier).size(), QSize(40, 40));
    QCOMPARE(result[1].thumbnail, thumbnailPath(files[1].path));
    QCOMPARE(m_dialogs->asked().first().kind, MessageKind::Error);
}

QTEST_MAIN(TestThumbnailWindow)
#include "TestThumbnailWindow.moc"
