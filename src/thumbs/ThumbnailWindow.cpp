#include "thumbs/ThumbnailWindow.h"

#include "config/Config.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "thumbs/Thumbnail.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace quaddle {

TFormResize::TFormResize(const TCfg& cfg, TFileList files, int maxWidth, int maxHeight, bool quiet,
                         QWidget* parent)
    : QDialog(parent), Cfg(cfg), Files(std::move(files)), MaxWidth(maxWidth), MaxHeight(maxHeight),
      Quiet(quiet) {
    setWindowTitle(tr("Creating Thumbnails..."));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(394, 41);
    move(0, 0);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setGeometry(8, 8, 300, 25);
    Progress->setTextVisible(false);
    auto* abort = new QPushButton(tr("Abort"), this);
    abort->setObjectName(QStringLiteral("BAbort"));
    abort->setGeometry(314, 8, 72, 25);
    connect(abort, &QPushButton::clicked, this, [this] { ThumbAbort = true; });
}

TFormResize::~TFormResize() {
    ThumbAbort = true;
    if (Worker)
        Worker->wait();
}

TFileList TFormResize::Run() {
    exec();
    // The worker may still be finishing its image and asking this thread for help.
    while (Worker && !Worker->wait(10))
        QCoreApplication::processEvents();
    return Files;
}

void TFormResize::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!Worker)
        StartThumbnailWorker();
}

void TFormResize::closeEvent(QCloseEvent* event) {
    ThumbAbort = true;
    QDialog::closeEvent(event);
}

void TFormResize::StartThumbnailWorker() {
    ThumbAbort = false;
    Progress->setRange(0, static_cast<int>(Files.size()));
    Progress->setValue(0);
    Worker.reset(QThread::create([this] { CreateThumbnails(); }));
    Worker->start();
    if (!Worker->isRunning() && !Worker->isFinished()) {
        Worker.reset();
        Dialogs().ShowMessage(tr("Fatal: Could not create thread!"), TMsgKind::Plain,
                              TMsgButtons::Ok);
    }
}

void TFormResize::OnWindowThread(const std::function<void()>& action) {
    QMetaObject::invokeMethod(this, action, Qt::BlockingQueuedConnection);
}

void TFormResize::CreateThumbnails() {
    const qsizetype count = Files.size();
    for (qsizetype i = 0; i < count && !ThumbAbort; ++i) {
        OnWindowThread([this, i, count] {
            setWindowTitle(tr("Creating Thumbnail %1 of %2...").arg(i + 1).arg(count));
            Progress->setValue(Progress->value() + 1);
        });
        const QString source = Files[i].Path;
        if (!QFileInfo::exists(source) || !IsThumbnailSource(source))
            continue;
        TThumbnailOptions options;
        options.MaxWidth = MaxWidth;
        options.MaxHeight = MaxHeight;
        options.Info = Cfg.GetBoolSetting(QStringLiteral("ThumbInfo"));
        options.Frame = Cfg.GetBoolSetting(QStringLiteral("ThumbRahmen"));
        try {
            Files[i].Thumbnail = MakeThumbnail(source, options);
        } catch (const TError& error) {
            // The entry keeps its value: a thumbnail that was not written cannot be uploaded.
            if (!Quiet)
                OnWindowThread([&] {
                    Dialogs().ShowMessage(tr("An error occured while resizing \"") + source +
                                              tr("\":") + LineBreak + error.Message(),
                                          TMsgKind::Error, TMsgButtons::Ok);
                });
        }
    }
    ThumbAbort = true;
    OnWindowThread([this] { close(); });
}

} // namespace quaddle
