#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "config/Config.h"
#include "thumbs/ThumbnailWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace quaddle;
using quaddle::test::Control;

class TestThumbnailWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void makesThumbnailsForImagesOnly();
    void abortFinishesTheCurrentImageOnly();
    void failedImageIsReportedAndKeepsItsValue();

private:
    QString Jpeg(const QString& name, int width, int height);
    TFileList Run(const TFileList& files, const std::function<void(TFormResize&)>& onShow = {});

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Local;
    QStringList Captions;
};

void TestThumbnailWindow::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
    Local = std::make_unique<QTemporaryDir>();
    Captions.clear();
}

void TestThumbnailWindow::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    Local.reset();
    ProgramDir.reset();
}

QString TestThumbnailWindow::Jpeg(const QString& name, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; x += 7)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    QFile file(Local->filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(EncodeJpeg(image, 90)) <= 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

TFileList TestThumbnailWindow::Run(const TFileList& files,
                              const std::function<void(TFormResize&)>& onShow) {
    const TCfg cfg;
    TFormResize window(cfg, files, 300, 200, false);
    connect(&window, &QWidget::windowTitleChanged, this,
            [this](const QString& title) { Captions.append(title); });
    if (onShow)
        QTimer::singleShot(0, &window, [&] { onShow(window); });
    return window.Run();
}

void TestThumbnailWindow::makesThumbnailsForImagesOnly() {
    QFile notes(Local->filePath("notes.txt"));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.close();
    const TFileList files{{Jpeg("a.jpg", 600, 400), QString()},
                          {Local->filePath("anim.gif"), "kept"},
                          {notes.fileName(), QString()},
                          {Local->filePath("missing.jpg"), QString()}};
    int progressMaximum = 0;
    const TFileList result = Run(files, [&](TFormResize& window) {
        QCOMPARE(window.windowTitle().left(8), QStringLiteral("Creating"));
        progressMaximum = Control<QProgressBar>(window, "Progress")->maximum();
        QCOMPARE(window.size(), QSize(394, 41));
    });
    QCOMPARE(progressMaximum, 4);
    QCOMPARE(result[0].Thumbnail, ThumbnailPath(files[0].Path));
    QCOMPARE(QImage(result[0].Thumbnail).size(), QSize(300, 200));
    QCOMPARE(result[1].Thumbnail, QStringLiteral("kept"));
    QCOMPARE(result[2].Thumbnail, QString());
    QCOMPARE(result[3].Thumbnail, QString());
    QCOMPARE(Captions,
             (QStringList{"Creating Thumbnail 1 of 4...", "Creating Thumbnail 2 of 4...",
                          "Creating Thumbnail 3 of 4...", "Creating Thumbnail 4 of 4..."}));
}

void TestThumbnailWindow::abortFinishesTheCurrentImageOnly() {
    TFileList files;
    for (int i = 0; i < 5; ++i)
        files.append({Jpeg(QStringLiteral("big%1.jpg").arg(i), 3000, 2000), QString()});
    // Abort is pressed while the first image is being converted.
    const TFileList result = Run(files, [](TFormResize& window) {
        connect(&window, &QWidget::windowTitleChanged, &window, [&window](const QString& title) {
            if (title == "Creating Thumbnail 1 of 5...")
                Control<QPushButton>(window, "BAbort")->click();
        });
    });
    QVERIFY(!result[0].Thumbnail.isEmpty());
    QVERIFY(QFileInfo::exists(result[0].Thumbnail));
    for (int i = 1; i < 5; ++i)
        QCOMPARE(result[i].Thumbnail, QString());
    QVERIFY(!Captions.contains("Creating Thumbnail 2 of 5..."));
}

void TestThumbnailWindow::failedImageIsReportedAndKeepsItsValue() {
    QFile broken(Local->filePath("broken.jpg"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\xFF\xD8\xFF\xE0 not really a picture");
    broken.close();
    const TFileList files{{broken.fileName(), QString()}, {Jpeg("good.jpg", 50, 50), QString()}};
    Dialogs->ExpectMessageMatching("An error occured while resizing \"" + broken.fileName() +
                                   "\":\n.+");
    const TFileList result = Run(files);
    QCOMPARE(result[0].Thumbnail, QString());
    QCOMPARE(result[1].Thumbnail, ThumbnailPath(files[1].Path));
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
}

QTEST_MAIN(TestThumbnailWindow)
#include "TestThumbnailWindow.moc"
