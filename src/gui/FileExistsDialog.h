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

    // Shows the question modally; the answer as Dialogs::askUser describes it.
    int ask(AskMode mode, const QString& name);

    // The next showings appear centred over window; none leaves the placing to the system.
    void setCentredOver(QWidget* window);

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setMode(AskMode mode, const QString& name);
    void answerWith(int tag);

    int m_answer = 0;
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
