#pragma once

#include "config/FileList.h"

#include <QDialog>
#include <atomic>
#include <memory>

class QProgressBar;
class QThread;

namespace quaddle {

class TCfg;

// "Creating Thumbnails...": makes the thumbnails of the JPEG and BMP images in a file list on
// a worker thread, showing its progress, with Abort. Each thumbnail's path becomes its
// entry's value. Run with Run(); the list is the window's until the worker has ended.
class TFormResize : public QDialog {
    Q_OBJECT

public:
    // quiet: failed images are not reported.
    TFormResize(const TCfg& cfg, TFileList files, int maxWidth, int maxHeight, bool quiet,
                QWidget* parent = nullptr);
    ~TFormResize() override;

    // Shows the window modally until the worker is done or the user closes it, and returns
    // the list once the worker has ended.
    TFileList Run();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void StartThumbnailWorker();
    void CreateThumbnails();
    // Runs on the window's thread and waits there: the worker's updates and questions.
    void OnWindowThread(const std::function<void()>& action);

    const TCfg& Cfg;
    TFileList Files;
    const int MaxWidth;
    const int MaxHeight;
    const bool Quiet;
    std::atomic<bool> ThumbAbort = false;
    QProgressBar* Progress = nullptr;
    std::unique_ptr<QThread> Worker;
};

} // namespace quaddle
