#pragma once

#include "platform/Dialogs.h"

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quaddle {

// The question about a remote clash: what to do with a file that exists on the server
// already, or whether to create a missing directory. Kept and reused; the "Remember" tick
// stays from one showing to the next.
class FileExistsDialog : public QDialog {
    Q_OBJECT

public:
    explicit FileExistsDialog(QWidget* parent = nullptr);

    // Show the question modally.
    FileExistsAnswer askFileExists(const QString& name);
    MissingDirAnswer askMissingDir(const QString& dir);

    // The next showings appear centred over window; none leaves the placing to the system.
    void setCentredOver(QWidget* window);

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum class Mode { File, Directory };

    void ask(Mode mode, const QString& name);
    void setMode(Mode mode, const QString& name);
    // The directory question's Create and Cancel are the file question's Overwrite and Skip.
    void answerWith(FileExistsChoice choice);

    FileExistsAnswer m_answer;
    QLabel* m_whatLabel = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLabel* m_textLabel = nullptr;
    QWidget* m_buttonPanel = nullptr;
    QCheckBox* m_rememberBox = nullptr;
    QPushButton* m_skipButton = nullptr;
    QPushButton* m_overwriteButton = nullptr;
    QPushButton* m_renameButton = nullptr;
    QPointer<QWidget> m_centreOver;
};

} // namespace quaddle
