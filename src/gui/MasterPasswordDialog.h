#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quaddle {

// The master-password dialog: asks for the password (mode Enter, or EnterAgain after a wrong
// one, which it says) or for a new one, typed twice (mode Set). Its result is OK, cancel (also
// by the close box), or Abort (also Quit, where it is offered).
class MasterPasswordDialog : public QDialog {
    Q_OBJECT

public:
    enum { ResultAbort = 2 };

    explicit MasterPasswordDialog(QWidget* parent = nullptr);

    void setMode(MasterPasswordMode mode);
    // A "Quit" button beside the entering buttons, for when the program has no window yet.
    void setQuitOffered(bool offered);
    QString password() const;
    void setPassword(const QString& password);
    MasterPasswordResult outcome() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void acceptPassword() { done(Accepted); }
    void declinePassword() { done(Rejected); }
    void setNewPassword();
    void abortDialog() { done(ResultAbort); }

    MasterPasswordMode m_mode = MasterPasswordMode::Enter;
    QLabel* m_passwordLabel = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLabel* m_wrongLabel = nullptr;
    QPushButton* m_quitButton = nullptr;
    QWidget* m_enterPanel = nullptr;
    QPushButton* m_okButton = nullptr;
    QWidget* m_setPanel = nullptr;
    QLineEdit* m_repeatEdit = nullptr;
    QPushButton* m_setButton = nullptr;
};

} // namespace quaddle
