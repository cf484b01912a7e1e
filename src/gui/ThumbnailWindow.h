#pragma once

#include "config/FileList.h"
#include "thumbs/Thumbnail.h"

#include <QDialog>
#include <atomic>
#include <memory>

class QProgressBar;
class QThread;

namespace quaddle {

class Config;

// "Creating Thumbnails...": makes the thumbnails of the JPEG and BMP images in a file list on
// a worker thread, showing its progress, with Abort. Each thumbnail's path becomes its
// entry's value. Run with run(); the list is the window's until the worker has ended.
class ThumbnailWindow : public QDialog {
    Q_OBJECT

public:
    // quiet: failed images are not reported.
    ThumbnailWindow(const Config& config, FileList files, int maxWidth, int maxHeight, bool quiet,
                    QWidget* parent = nullptr);
    ~ThumbnailWindow() override;

    // Shows the window modally until the worker is done or the user closes it, and returns
    // the list once the worker has ended.
    FileList run();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void startThumbnailWorker();
    void createThumbnails();
    // Shows the place of the next file; false once the user aborted.
    bool showNext(qsizetype index, qsizetype count);
    // Runs on the window's thread and waits there: the worker's updates and questions.
    void onWindowThread(const std::function<void()>& action);

    const ThumbnailOptions m_options;
    FileList m_files;
    const bool m_quiet;
    std::atomic<bool> m_abortRequested = false;
    QProgressBar* m_progressBar = nullptr;
    std::unique_ptr<QThread> m_worker;
};

} // namespace quaddle
