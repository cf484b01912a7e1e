#pragma once

#include <QDialog>

class QLineEdit;

namespace quaddle {

// The "Remote Login" prompt for a user name and password that were not stored.
class TFormLogin : public QDialog {
    Q_OBJECT

public:
    explicit TFormLogin(QWidget* parent = nullptr);

    // Shows the prompt with user filled in and an empty password. On OK both are handed back
    // and the result is true; Cancel changes nothing.
    bool Ask(QString& user, QString& password);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* EUser = nullptr;
    QLineEdit* EPassword = nullptr;
};

} // namespace quaddle
