#pragma once

#include "config/Cfg.h"
#include "config/FileList.h"

#include <QMainWindow>
#include <memory>

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QWidget;

namespace quaddle {

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
    void SetControlsEnabled(bool on);

    void BFileAddClick();
    void BFileRemoveClick();
    void BUploadClick();
    void MenuReloadClick();

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

    std::unique_ptr<TCfg> Cfg_;
    TFileList Files_;
    bool AutoUpload_ = false;
    bool UserCancelled = false;
};

} // namespace quaddle
