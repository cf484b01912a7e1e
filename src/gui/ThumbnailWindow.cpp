#include "gui/ThumbnailWindow.h"

#include "config/Config.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "thumbs/Thumbnail.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace quaddle {

ThumbnailWindow::ThumbnailWindow(const Config& config, FileList files, int maxWidth, int maxHeight,
                                 bool quiet, QWidget* parent)
    : QDialog(parent), m_config(config), m_files(std::move(files)), m_maxWidth(maxWidth),
      m_maxHeight(maxHeight), m_quiet(quiet) {
    setWindowTitle(tr("Creating Thumbnails..."));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setMinimumWidth(300);
    m_progressBar->setFormat(tr("%v of %m"));
    auto* abort = new QPushButton(tr("Abort"), this);
    abort->setObjectName(QStringLiteral("abortButton"));
    connect(abort, &QPushButton::clicked, this, [this] { m_abortRequested = true; });
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_progressBar, 1);
    layout->addWidget(abort);
    setMinimumWidth(394);
    setFixedHeight(sizeHint().height());
}

ThumbnailWindow::~ThumbnailWindow() {
    m_abortRequested = true;
    if (m_worker)
        m_worker->wait();
}

FileList ThumbnailWindow::run() {
    exec();
    // The worker may still be finishing its image and asking this thread for help.
    while (m_worker && !m_worker->wait(10))
        QCoreApplication::processEvents();
    return m_files;
}

void ThumbnailWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_worker)
        startThumbnailWorker();
}

void ThumbnailWindow::closeEvent(QCloseEvent* event) {
    m_abortRequested = true;
    QDialog::closeEvent(event);
}

void ThumbnailWindow::startThumbnailWorker() {
    m_abortRequested = false;
    m_progressBar->setRange(0, static_cast<int>(m_files.size()));
    m_progressBar->setValue(0);
    m_worker.reset(QThread::create([this] { createThumbnails(); }));
    m_worker->start();
    if (!m_worker->isRunning() && !m_worker->isFinished()) {
        m_worker.reset();
        dialogs().showMessage(tr("Fatal: Could not create thread!"), MessageKind::Plain,
                              MessageButtons::Ok);
    }
}

void ThumbnailWindow::onWindowThread(const std::function<void()>& action) {
    QMetaObject::invokeMethod(this, action, Qt::BlockingQueuedConnection);
}

void ThumbnailWindow::createThumbnails() {
    const qsizetype count = m_files.size();
    const QStringList names = thumbnailNames(m_files);
    for (qsizetype i = 0; i < count && !m_abortRequested; ++i) {
        onWindowThread([this, i, count] {
            setWindowTitle(tr("Creating Thumbnail %1 of %2...").arg(i + 1).arg(count));
            m_progressBar->setValue(m_progressBar->value() + 1);
        });
        const QString source = m_files[i].path;
        if (!QFileInfo::exists(source) || !isThumbnailSource(source))
            continue;
        ThumbnailOptions options;
        options.maxWidth = m_maxWidth;
        options.maxHeight = m_maxHeight;
        options.info = m_config.thumbInfo();
        options.frame = m_config.thumbFrame();
        options.bandFont = QGuiApplication::font();
        try {
            m_files[i].thumbnail = makeThumbnail(source, options, names[i]);
        } catch (const Error& error) {
            // The entry keeps its value: a thumbnail that was not written cannot be uploaded.
            if (!m_quiet)
                onWindowThread([&] {
                    dialogs().showMessage(tr("An error occurred while resizing \"") + source +
                                              tr("\":") + LineBreak + error.message(),
                                          MessageKind::Error, MessageButtons::Ok);
                });
        }
    }
    m_abortRequested = true;
    onWindowThread([this] { close(); });
}

} // namespace quaddle
