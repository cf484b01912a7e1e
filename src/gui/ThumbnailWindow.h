#pragma once

#include "thumbs/Thumbnail.h"

#include <QDialog>

class QProgressBar;

namespace quaddle {

// "Creating Thumbnails...": shows how many of a run's thumbnails are done while they are made
// (ThumbnailRun), with Abort; it goes once all are done.
class ThumbnailWindow : public QDialog {
    Q_OBJECT

public:
    // quiet: failed images are not reported.
    explicit ThumbnailWindow(bool quiet, QWidget* parent = nullptr);

    // Shows the window; what the maker of the thumbnails tells it.
    ThumbnailEvents begin();

    // Escape, closing the window and Abort all stop the thumbnails not yet begun.
    void reject() override;

private:
    // Shows how many thumbnails are done; false once the user aborted.
    bool showProgress(qsizetype done, qsizetype count);
    void showFailure(const QString& source, const QString& message);

    const bool m_quiet;
    bool m_abortRequested = false;
    QProgressBar* m_progressBar = nullptr;
};

} // namespace quaddle
