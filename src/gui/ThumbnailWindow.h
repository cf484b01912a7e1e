#pragma once

#include "config/FileList.h"
#include "thumbs/Thumbnail.h"

#include <QDialog>

class QProgressBar;

namespace quaddle {

class Config;

// "Creating Thumbnails...": makes the thumbnails of the JPEG and BMP images in a file list on
// every core, showing how many are done, with Abort. Each thumbnail's path becomes its entry's
// value. Run with run().
class ThumbnailWindow : public QDialog {
    Q_OBJECT

public:
    // quiet: failed images are not reported.
    ThumbnailWindow(const Config& config, FileList files, int maxWidth, int maxHeight, bool quiet,
                    QWidget* parent = nullptr);

    // Shows the window modally while the thumbnails are made, and returns the list once the
    // last one under way has ended, also after Abort or closing the window.
    FileList run();

    // Escape, closing the window and Abort all stop the thumbnails not yet begun.
    void reject() override;

private:
    // Shows how many thumbnails are done; false once the user aborted.
    bool showProgress(qsizetype done, qsizetype count);
    void showFailure(const QString& source, const QString& message);

    const ThumbnailOptions m_options;
    FileList m_files;
    const bool m_quiet;
    bool m_abortRequested = false;
    QProgressBar* m_progressBar = nullptr;
};

} // namespace quaddle
