#include "gui/LoginDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

namespace {

constexpr int MaxLength = 31;

QLineEdit* field(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setMaxLength(MaxLength);
    return field;
}

} // namespace

LoginDialog::LoginDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Remote Login"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_userEdit = field("userEdit", this);
    m_passwordEdit = field("passwordEdit", this);
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(tr("&OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QFormLayout(this);
    auto* userLabel = new QLabel(tr("&User Name:"), this);
    userLabel->setBuddy(m_userEdit);
    auto* passwordLabel = new QLabel(tr("&Password:"), this);
    passwordLabel->setBuddy(m_passwordEdit);
    // No text here is markup; plain text keeps whatever ends up in it from being read as such.
    for (QLabel* label : {userLabel, passwordLabel})
        label->setTextFormat(Qt::PlainText);
    layout->addRow(userLabel, m_userEdit);
    layout->addRow(passwordLabel, m_passwordEdit);
    layout->addRow(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool LoginDialog::ask(QString& user, QString& password) {
    m_userEdit->setText(user);
    m_passwordEdit->clear();
    if (exec() != Accepted)
        return false;
    user = m_userEdit->text();
    password = m_passwordEdit->text();
    return true;
}

void LoginDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    (m_userEdit->text().isEmpty() ? m_userEdit : m_passwordEdit)->setFocus();
}

} // namespace quaddle
