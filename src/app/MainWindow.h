#pragma once

#include "app/PastedFiles.h"
#include "capture/Screenshot.h"
#include "config/Config.h"
#include "config/FileList.h"
#include "gui/ThumbnailWindow.h"
#include "platform/Clock.h"
#include "results/UrlBuilder.h"
#include "run/UploadRun.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class QComboBox;
class QDialog;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QWidget;

namespace quaddle {

class ConfigWindow;
class HistoryWindow;
class ProgressPanel;
class SuccessWindow;

// The program's one main window: the file list, the server and remote directory to upload to,
// the Upload and Cancel buttons and the status bar.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // arguments: the command line after the program's own path.
    explicit MainWindow(const QStringList& arguments, QWidget* parent = nullptr);
    ~MainWindow() override;

    Config& config() { return *m_config; }
    const FileList& files() const { return m_files; }
    bool autoUpload() const { return m_autoUpload; }
    // The user chose to quit at the master-password prompt of the start.
    bool quitAtStart() const { return m_config->quitRequested; }
    // The command line asks for a screenshot before the window shows.
    bool screenshotAtStart() const { return m_screenshotAtStart; }

    void refreshFiles();
    void refreshServerDisplay(const QString& status, const QString& detail);
    void buildServersMenu();
    void chooseServer(QAction* entry);
    void uploadStatus(const QString& text, int index);
    void uploadProgress(const QString& name, qint64 size, qint64 position);
    void drawProgressPanel(QPainter& painter, const QRect& rect);
    void setControlsEnabled(bool on);
    // Tests step time themselves.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    void addFiles();
    // Adds the files of a file list copied in a file manager, or a copied image saved as PNG.
    void pasteFiles();
    // Takes a screenshot, adds it to the list and uploads it alone: files left in the list
    // from an earlier run stay there for later.
    void takeScreenshot();
    // Takes a screenshot, adds it to the list and uploads the whole list.
    void takeScreenshotWithFiles();
    // Takes a screenshot, the window hidden meanwhile, and adds it to the list; a failure is
    // told to the user.
    ScreenshotStatus addScreenshot();
    void removeSelectedFile();
    void startUpload();
    void cancelUpload();
    const UploadResults& uploadResults() const { return m_uploadResults; }
    const RenamedFiles& renamedFiles() const { return m_renamedFiles; }
    void reloadConfig();
    void openOptions();
    // The history of uploads; its window, deleted when closed, is made anew when opened again, so
    // it shows the latest runs.
    void openHistory();
    void openServerManager();
    // The server manager, showing the given server's fields.
    void editServer(qint32 server);
    void showAbout();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the file list shows beside a file of the last run.
    struct FileState {
        bool finished = false;
        QString text;
        QString reason;
    };

    // Ctrl+V, or the platform's paste key, while the clipboard holds files or an image.
    static bool isPasteOfFiles(QEvent* event);
    void setUpWindow(const QStringList& arguments);
    void createControls();
    void createMenus();
    void createStatusBar();
    // A line over the file list that says what is amiss, and the button that mends it.
    QWidget* createNotice(QWidget* parent, const char* name, const QString& text,
                          QPushButton* button);
    QMenu* findMenu(const QString& caption) const;
    void insertSeparatorAfter(const QString& menuCaption, const QString& entryCaption);
    void applySelector(const QString& selector);
    void restoreWindowGeometry();
    // The rows of the selected files, in order; the cursor's row when none is selected.
    QList<int> selectedFileRows() const;
    void setCaption(const QString& caption);
    // The parts of an upload run.
    bool checkServerChosen();
    bool hasServers() const;
    // With no server at all: offers to add one, in the server manager.
    void offerNewServer();
    void chooseOrAddServer();
    // Upload can be pressed once there is a file and a server to send it to.
    void enableUpload();
    // The status label's text, with a long file name cut in its middle to fit.
    void showServerStatus();
    // Whether the status label gives up its room to the run's counts.
    void setServerLabelYields(bool yields);
    // The uploads of the list, or of files from it only, such as a screenshot just taken.
    void uploadFiles(const FileList& files);
    // Takes a screenshot, the window hidden meanwhile, and adds it to the list.
    ScreenshotResult shootAndAdd();
    void showFileReport(const FileReport& report);
    void showFileState(const QString& path, FileState state);
    // A file that did not go up, and why; its reason shows in the list as one line.
    static FileState failedState(const QString& reason);
    // Files the run neither sent nor gave up by itself: those after a fatal error or Cancel.
    void finishFileStates(const UploadRunResult& result);
    // The state column no wider than half the list, so the names keep their room.
    void fitStateColumn();
    // How the run ended, in the status bar, with a way to the server's settings after errors.
    void showRunEnd(const UploadRunResult& result);
    // "file 3 of 10" and, once a speed is known, the time the run still takes.
    void showRunProgress();
    UploadRunEvents runEvents();
    void showStep(RunStep step);
    ThumbnailEvents showThumbnails();
    void keepThumbnails(const FileList& files);
    void endUpload(const UploadRunResult& result);
    // A desktop notification of how the run ended.
    void notifyRunEnd(const UploadRunResult& result);
    // The session of the running upload; none while idle.
    const UploadSession* runSession() const { return m_run ? m_run->session() : nullptr; }
    void showResults();
    // The URL lines of the last run, from the current server and remote directory.
    QStringList resultLines(TagStyle style) const;
    // Saves the configuration; a failure is reported to the user.
    void saveConfigReporting();
    // The share of all bytes of the running upload sent so far; none while idle.
    std::optional<double> overallProgress() const;

    QTableWidget* m_fileTable = nullptr;
    QPushButton* m_addFilesButton = nullptr;
    QPushButton* m_removeFileButton = nullptr;
    QComboBox* m_remoteDirBox = nullptr;
    QPushButton* m_uploadButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    ProgressPanel* m_progressPanel = nullptr;
    QLabel* m_serverLabel = nullptr;
    QLabel* m_detailLabel = nullptr;
    QLabel* m_runLabel = nullptr;
    QLabel* m_emptyHint = nullptr;
    QWidget* m_noServerBar = nullptr;
    QWidget* m_runErrorBar = nullptr;
    QAction* m_reloadAction = nullptr;
    QAction* m_screenshotAction = nullptr;
    QAction* m_screenshotWithFilesAction = nullptr;
    // What the Servers menu lists: each server's index and name, and the current server.
    struct ServersMenuContents {
        bool noServers = true; // not even deleted ones
        QList<std::pair<qint32, QString>> servers;
        qint32 current = -1;
        bool operator==(const ServersMenuContents&) const = default;
    };
    std::optional<ServersMenuContents> m_serversMenuShown;

    std::unique_ptr<Config> m_config;
    // The running upload; none while idle.
    UploadRun* m_run = nullptr;
    FileList m_files;
    PastedFiles m_pastedFiles;
    // What the running upload walks through: a copy of m_files taken at its start.
    FileList m_runFiles;
    // The server the last run went to, for "Edit Server…".
    qint32 m_runServer = -1;
    // By path: the state of each file of the last run, and the row that shows it.
    QHash<QString, FileState> m_fileStates;
    QHash<QString, int> m_fileRows;
    // The server status label's parts, the server's name and its status, shown whole unless
    // a file's name during a run does not fit.
    QString m_statusLead;
    QString m_statusText;
    // " (3 connections)" while a run uses more than one, after the run's counts.
    QString m_connectionsNote;
    // A server added from the offer on an empty configuration becomes the one chosen.
    bool m_choosingAddedServer = false;
    // Shown while the run's thumbnails are made.
    std::unique_ptr<ThumbnailWindow> m_thumbnailWindow;
    bool m_autoUpload = false;
    bool m_screenshotAtStart = false;
    // The screenshot being taken, and whether the window shows again after it.
    ScreenshotTaker* m_screenshot = nullptr;
    bool m_showAfterScreenshot = false;
    bool m_userCancelled = false;
    UploadResults m_uploadResults;
    RenamedFiles m_renamedFiles;
    // Progress display: fraction of the current file last shown, and the last speed sample
    // and display update, in milliseconds of Clock.
    double m_fileProgress = 0;
    QString m_fileName; // whose progress the file's bar shows
    // The file of the running upload, counted in its own list; -1 before the first.
    int m_runIndex = -1;
    // The last speed measured in the running upload, in bytes per second.
    double m_runSpeed = 0;
    qint64 m_speedBytes = 0;
    qint64 m_speedTime = 0;
    qint64 m_displayTime = 0;
    Clock m_clock = monotonicClock();
    QDialog* m_aboutDialog = nullptr;
    SuccessWindow* m_successWindow = nullptr;
    // Discarded when closed, created anew at the next opening.
    QPointer<ConfigWindow> m_configWindow;
    QPointer<HistoryWindow> m_historyWindow;
};

} // namespace quaddle
