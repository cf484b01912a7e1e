#include "upload/LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

namespace {

constexpr int MaxLength = 31;

QLineEdit* Field(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(MaxLength);
    return field;
}

} // namespace

TFormLogin::TFormLogin(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Remote Login"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    EUser = Field("EUser", this);
    EPassword = Field("EPassword", this);
    EPassword->setEchoMode(QLineEdit::Password);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(tr("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("BOk"));
    ok->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("BCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QFormLayout(this);
    auto* userLabel = new QLabel(tr("&User Name:"), this);
    userLabel->setBuddy(EUser);
    auto* passwordLabel = new QLabel(tr("&Password:"), this);
    passwordLabel->setBuddy(EPassword);
    layout->addRow(userLabel, EUser);
    layout->addRow(passwordLabel, EPassword);
    layout->addRow(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool TFormLogin::Ask(QString& user, QString& password) {
    EUser->setText(user);
    EPassword->clear();
    if (exec() != Accepted)
        return false;
    user = EUser->text();
    password = EPassword->text();
    return true;
}

void TFormLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    (EUser->text().isEmpty() ? EUser : EPassword)->setFocus();
}

} // namespace quaddle
