#include "gui/ThumbnailWindow.h"

#include "config/Config.h"
#include "platform/Dialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace quaddle {

namespace {

ThumbnailOptions sizedOptions(const Config& config, int maxWidth, int maxHeight) {
    ThumbnailOptions options = thumbnailOptions(config);
    options.maxWidth = maxWidth;
    options.maxHeight = maxHeight;
    return options;
}

} // namespace

ThumbnailWindow::ThumbnailWindow(const Config& config, FileList files, int maxWidth, int maxHeight,
                                 bool quiet, QWidget* parent)
    : QDialog(parent), m_options(sizedOptions(config, maxWidth, maxHeight)),
      m_files(std::move(files)), m_quiet(quiet) {
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

bool ThumbnailWindow::showNext(qsizetype index, qsizetype count) {
    if (m_abortRequested)
        return false;
    onWindowThread([this, index, count] {
        setWindowTitle(tr("Creating Thumbnail %1 of %2...").arg(index + 1).arg(count));
        m_progressBar->setValue(m_progressBar->value() + 1);
    });
    return true;
}

void ThumbnailWindow::createThumbnails() {
    ThumbnailEvents events;
    events.next = [this](qsizetype index, qsizetype count) { return showNext(index, count); };
    events.failed = [this](const QString& source, const QString& message) {
        if (!m_quiet)
            onWindowThread([&] {
                dialogs().showMessage(tr("An error occurred while resizing \"") + source +
                                          tr("\":") + LineBreak + message,
                                      MessageKind::Error, MessageButtons::Ok);
            });
    };
    makeThumbnails(m_files, m_options, events);
    m_abortRequested = true;
    onWindowThread([this] { close(); });
}

} // namespace quaddle
