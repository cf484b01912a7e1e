#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quaddle {

// The "Remote Login" prompt for a user name and password that were not stored, naming the
// server it asks for.
class LoginDialog : public QDialog {
    Q_OBJECT

public:
    explicit LoginDialog(QWidget* parent = nullptr);

    // Shows the prompt for target with login's user filled in and an empty password, and
    // "Remember password" where target offers it. On OK all of login is handed back and the
    // result is true; Cancel changes nothing.
    bool ask(const LoginTarget& target, LoginAnswer& login);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_targetLabel = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_rememberBox = nullptr;
};

} // namespace quaddle
