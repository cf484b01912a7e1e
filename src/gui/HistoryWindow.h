#pragma once

#include "config/Config.h"
#include "gui/HistoryModel.h"
#include "history/History.h"

#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace quaddle {

// "History": the uploads kept in the history, newest first, with a search over names,
// addresses and servers; the selected ones can be copied in a tag style, opened in the browser,
// deleted from their servers, or removed from the history. It shows what other programs add
// while it is open, and opens where and as large as it was left.
class HistoryWindow : public QWidget {
    Q_OBJECT

public:
    // Throws Error when the history cannot be opened.
    explicit HistoryWindow(Config& config, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    void copySelected();
    void openSelected();
    void deleteSelected();
    void removeSelected();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void search(const QString& text);
    // Shows what another program changed in the history since the last look.
    void showChanges();
    HistoryEntries selectedEntries() const;
    // The selected rows, each once, as first and last row.
    QList<std::pair<int, int>> selectedRanges() const;
    bool selectionHasUndeleted() const;
    void showCount();
    void updateButtons();
    // Where and how large the window was left, on a screen that shows it.
    void restorePlace();
    void rememberPlace();
    // Tells the user why the history failed them.
    void showError(const QString& message);

    Config& m_config;
    std::unique_ptr<History> m_history;
    HistoryModel* m_model = nullptr;
    QLineEdit* m_searchEdit = nullptr;
    QTableView* m_view = nullptr;
    QLabel* m_countLabel = nullptr;
    QComboBox* m_tagStyleBox = nullptr;
    QPushButton* m_copyButton = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QTimer* m_changeCheck = nullptr;
};

} // namespace quaddle
