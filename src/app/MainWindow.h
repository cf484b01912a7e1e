#pragma once

#include "config/Config.h"
#include "config/FileList.h"
#include "platform/Clock.h"
#include "upload/UploadSession.h"

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

class TFormCfg;
class TFormSuccess;

// The program's one main window: the file list, the server and remote directory to upload to,
// the Upload and Cancel buttons and the status bar.
class TFormMain : public QMainWindow {
    Q_OBJECT

public:
    // arguments: the command line after the program's own path.
    explicit TFormMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~TFormMain() override;

    TCfg& Cfg() { return *Cfg_; }
    const TFileList& Files() const { return Files_; }
    bool AutoUpload() const { return AutoUpload_; }

    void RefreshFiles();
    void RefreshServerDisplay(const QString& status, const QString& detail);
    void BuildServersMenu();
    void ServersClick(QAction* entry);
    void UploadStatus(const QString& text, int index);
    void UploadProgress(const QString& name, qint64 size, qint64 position);
    void StatusDrawPanel(QPainter& painter, const QRect& rect);
    void SetControlsEnabled(bool on);
    // Tests step time themselves.
    void SetClock(TClock clock) { Clock = std::move(clock); }

    void BFileAddClick();
    void BFileRemoveClick();
    void BUploadClick();
    void BCancelClick();
    const TUploadResults& GetUploadResults() const { return UploadResults; }
    const TRenamedFiles& GetRenamedFiles() const { return RenamedFiles; }
    void MenuReloadClick();
    void MenuOptionsClick();
    void ManageClick();
    void AboutClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate(const QStringList& arguments);
    void CreateControls();
    void CreateMenus();
    void CreateStatusBar();
    QMenu* FindMenu(const QString& caption) const;
    void InsertSeparatorAfter(const QString& menuCaption, const QString& entryCaption);
    void ApplySelector(const QString& selector);
    int SelectedFileRow() const;
    void SetCaption(const QString& caption);
    // The parts of an upload run.
    bool CheckServerChosen(const TServer& server);
    void OfferThumbnails();
    void RunUpload(const TServer& server, const QString& remoteDir);
    void EndUpload();
    void WriteLog(const QStringList& lines);
    void ShowResults();
    // Saves the configuration; a failure is reported to the user.
    void SaveConfigReporting();
    // The share of all bytes of the running upload sent so far; none while idle.
    std::optional<double> OverallProgress() const;

    QTableWidget* StringFiles = nullptr;
    QPushButton* BFileAdd = nullptr;
    QPushButton* BFileRemove = nullptr;
    QComboBox* CSubdir = nullptr;
    QPushButton* BUpload = nullptr;
    QPushButton* BCancel = nullptr;
    QWidget* StatusProgress = nullptr;
    QLabel* StatusServer = nullptr;
    QLabel* StatusDetail = nullptr;
    QAction* MenuReload = nullptr;
    // What the Servers menu lists: each server's index and name, and the current server.
    struct TServersMenuContents {
        bool NoServers = true; // not even deleted ones
        QList<std::pair<qint32, QString>> Servers;
        qint32 Current = -1;
        bool operator==(const TServersMenuContents&) const = default;
    };
    std::optional<TServersMenuContents> ServersMenuShown;

    std::unique_ptr<TCfg> Cfg_;
    // The session of the running upload; none while idle.
    std::unique_ptr<TUpload> Upload;
    TFileList Files_;
    bool AutoUpload_ = false;
    bool UserCancelled = false;
    TUploadResults UploadResults;
    TRenamedFiles RenamedFiles;
    // Progress display: fraction of the current file last shown, and the last speed sample
    // and display update, in milliseconds of Clock.
    double FileProgress = 0;
    qint64 SpeedBytes = 0;
    qint64 SpeedTime = 0;
    qint64 DisplayTime = 0;
    TClock Clock = MonotonicClock();
    QDialog* FormAbout = nullptr;
    TFormSuccess* FormSuccess = nullptr;
    // Discarded when closed, created anew at the next opening.
    QPointer<TFormCfg> FormCfg;
};

} // namespace quaddle
