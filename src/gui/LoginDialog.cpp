#include "gui/LoginDialog.h"

#include <QCheckBox>
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
    m_targetLabel = new QLabel(this);
    m_targetLabel->setObjectName(QStringLiteral("targetLabel"));
    m_rememberBox = new QCheckBox(tr("&Remember password"), this);
    m_rememberBox->setObjectName(QStringLiteral("rememberBox"));
    m_rememberBox->setToolTip(tr("Store the password with the server, as the server manager "
                                 "does, so the next upload logs in without asking."));

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
    for (QLabel* label : {m_targetLabel, userLabel, passwordLabel})
        label->setTextFormat(Qt::PlainText);
    layout->addRow(m_targetLabel);
    layout->addRow(userLabel, m_userEdit);
    layout->addRow(passwordLabel, m_passwordEdit);
    layout->addRow(m_rememberBox);
    layout->addRow(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool LoginDialog::ask(const LoginTarget& target, LoginAnswer& login) {
    m_targetLabel->setText(tr("Log in to %1").arg(serverName(target)));
    m_userEdit->setText(login.user);
    m_passwordEdit->clear();
    m_rememberBox->setChecked(false);
    m_rememberBox->setVisible(target.offerRemember);
    if (exec() != Accepted)
        return false;
    login = {m_userEdit->text(), m_passwordEdit->text(),
             target.offerRemember && m_rememberBox->isChecked()};
    return true;
}

void LoginDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    (m_userEdit->text().isEmpty() ? m_userEdit : m_passwordEdit)->setFocus();
}

} // namespace quaddle
