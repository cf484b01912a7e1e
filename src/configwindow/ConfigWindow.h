#pragma once

#include <QHash>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quaddle {

class TCfg;

// What the configuration window needs from the main window.
struct TCfgWindowHost {
    std::function<void()> RefreshServerDisplay;
    std::function<void()> ShowMain;
};

// "Configuration": the general options, generated from the settings, and the server manager
// with its tree of servers and folders. Every change goes straight into the configuration in
// memory; the file is written when the program ends or after an upload. Deletes itself when
// closed.
class TFormCfg : public QWidget {
    Q_OBJECT

public:
    enum TPage { GeneralOptions = 0, ServerManagement = 1 };

    TFormCfg(TCfg& cfg, TCfgWindowHost host, QWidget* parent = nullptr);

    // Shows the given page, as choosing it in the page selector does.
    void ChoosePage(TPage page);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window and the options page.
    void CreateOptionsPage();
    QGroupBox* Group(const QString& title, int top, int height);
    void PlaceInPanel(const char* name, QWidget* group, int left, int width, const QString& label,
                      const QString& setting);
    void PlaceCheckBox(QWidget* group, int left, int top, int width, const QString& setting,
                       const QString& caption);
    void ComboWasChange(int index);
    void GroessenAenderung();
    void CContextClick();

    // The server manager.
    void CreateServerPage();
    QLineEdit* Field(QWidget* group, const char* name, const QString& label, int left, int top,
                     int width);
    void ServersGet();
    QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& text, int image, int data);
    void TreeServersClick();
    void TreeServersEdited(QTreeWidgetItem* item);
    void TreePopup(const QPoint& position);
    void ButtonsAnAus(bool on);
    void ButtonNewClick();
    void ButtonFolderClick();
    void ButtonSaveClick();
    void RenameNode();
    void DeleteNode();
    void CTypChange(int index);
    void MarkDefault(QLineEdit* edit, const QString& value);
    void RevealDefault(QLineEdit* edit);
    QString EditValue(QLineEdit* edit) const;
    void LayoutServerPage();
    int ServerOf(QTreeWidgetItem* item) const;
    void ReportError(const QString& message);

    TCfg& Cfg;
    TCfgWindowHost Host;
    QComboBox* ComboWas = nullptr;
    QWidget* OptionGeneral = nullptr;
    QWidget* OptionServer = nullptr;
    QWidget* CurrentPage = nullptr;
    QCheckBox* CContext = nullptr;

    QTreeWidget* TreeServers = nullptr;
    QTreeWidgetItem* Root = nullptr;
    QLabel* LWarning = nullptr;
    QPushButton* ButtonNew = nullptr;
    QPushButton* ButtonFolder = nullptr;
    QWidget* FieldPanel = nullptr;
    QPushButton* ButtonSave = nullptr;
    QLineEdit* EditHost = nullptr;
    QLineEdit* EPort = nullptr;
    QLineEdit* EditUser = nullptr;
    QLineEdit* EditPass = nullptr;
    QLineEdit* EditDefaultDir = nullptr;
    QLineEdit* EditDir = nullptr;
    QComboBox* CTyp = nullptr;
    QLineEdit* EditURL = nullptr;
    QMenu* PopupServer = nullptr;
    int EditedServer = -1;
    // Edits that stand for a default value while they read "Default" or are empty.
    QHash<QLineEdit*, QString> DefaultValues;
};

} // namespace quaddle
