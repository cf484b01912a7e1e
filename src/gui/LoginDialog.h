#pragma once

#include <QDialog>

class QLineEdit;

namespace quaddle {

// The "Remote Login" prompt for a user name and password that were not stored.
class LoginDialog : public QDialog {
    Q_OBJECT

public:
    explicit LoginDialog(QWidget* parent = nullptr);

    // Shows the prompt with user filled in and an empty password. On OK both are handed back
    // and the result is true; Cancel changes nothing.
    bool ask(QString& user, QString& password);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
};

} // namespace quaddle
