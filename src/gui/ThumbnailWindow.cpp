#include "gui/ThumbnailWindow.h"

#include "platform/Dialogs.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>

namespace quaddle {

ThumbnailWindow::ThumbnailWindow(bool quiet, QWidget* parent) : QDialog(parent), m_quiet(quiet) {
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

ThumbnailEvents ThumbnailWindow::begin() {
    m_abortRequested = false;
    show();
    ThumbnailEvents events;
    events.progress = [this](qsizetype done, qsizetype count) { return showProgress(done, count); };
    events.failed = [this](const QString& source, const QString& message) {
        showFailure(source, message);
    };
    return events;
}

void ThumbnailWindow::reject() {
    m_abortRequested = true;
    QDialog::reject();
}

bool ThumbnailWindow::showProgress(qsizetype done, qsizetype count) {
    if (m_abortRequested)
        return false;
    m_progressBar->setRange(0, static_cast<int>(count));
    m_progressBar->setValue(static_cast<int>(done));
    setWindowTitle(tr("Creating Thumbnails... %1 of %2 done").arg(done).arg(count));
    // The upload goes on without it; Abort has nothing left to stop.
    if (done == count)
        hide();
    return true;
}

void ThumbnailWindow::showFailure(const QString& source, const QString& message) {
    if (!m_quiet)
        dialogs().showMessage(tr("An error occurred while resizing \"") + source + tr("\":") +
                                  LineBreak + message,
                              MessageKind::Error, MessageButtons::Ok);
}

} // namespace quaddle
