#include "config/MasterPasswordDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

namespace {

constexpr int DialogWidth = 300;
constexpr int RowGap = 5;

QPushButton* button(const QString& caption, const char* name, QWidget* parent, int left,
                    int width) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 0, width, 25);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* passwordField(const char* name, QWidget* parent, int left, int top, int width) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setGeometry(left, top, width, 21);
    return field;
}

} // namespace

MasterPasswordDialog::MasterPasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Master Password"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_passwordLabel = new QLabel(this);
    m_passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    m_passwordLabel->setGeometry(8, 8, DialogWidth - 16, 16);
    m_passwordEdit = passwordField("passwordEdit", this, 8, 26, DialogWidth - 16);
    m_passwordLabel->setBuddy(m_passwordEdit);

    const int rowTop = m_passwordEdit->geometry().bottom() + 1 + RowGap;
    m_enterPanel = new QWidget(this);
    m_enterPanel->setObjectName(QStringLiteral("enterPanel"));
    m_enterPanel->setGeometry(8, rowTop, DialogWidth - 16, 25);
    m_okButton = button(tr("OK"), "okButton", m_enterPanel, 0, 80);
    QPushButton* dontLoad =
        button(tr("Disable encryption"), "dontLoadButton", m_enterPanel, 88, 140);
    connect(m_okButton, &QPushButton::clicked, this, &MasterPasswordDialog::acceptPassword);
    connect(dontLoad, &QPushButton::clicked, this, &MasterPasswordDialog::declinePassword);

    m_setPanel = new QWidget(this);
    m_setPanel->setObjectName(QStringLiteral("setPanel"));
    m_setPanel->setGeometry(8, rowTop, DialogWidth - 16, 76);
    auto* repeatLabel = new QLabel(tr("Repeat:"), m_setPanel);
    repeatLabel->setGeometry(0, 0, DialogWidth - 16, 16);
    m_repeatEdit = passwordField("repeatEdit", m_setPanel, 0, 18, DialogWidth - 16);
    repeatLabel->setBuddy(m_repeatEdit);
    m_setButton = button(tr("Set"), "setButton", m_setPanel, 0, 60);
    QPushButton* disable = button(tr("Disable Master Password"), "BDiable", m_setPanel, 66, 150);
    QPushButton* abort = button(tr("Abort"), "abortButton", m_setPanel, 222, 62);
    for (QPushButton* button : {m_setButton, disable, abort})
        button->move(button->x(), 51);
    connect(m_setButton, &QPushButton::clicked, this, &MasterPasswordDialog::setNewPassword);
    connect(disable, &QPushButton::clicked, this, &MasterPasswordDialog::declinePassword);
    connect(abort, &QPushButton::clicked, this, &MasterPasswordDialog::abortDialog);

    setMode(MasterPasswordMode::Enter);
}

void MasterPasswordDialog::setMode(MasterPasswordMode mode) {
    m_mode = mode;
    const bool entering = mode == MasterPasswordMode::Enter;
    m_passwordLabel->setText(entering ? tr("Please enter your master password:")
                                      : tr("New master password:"));
    m_enterPanel->setVisible(entering);
    m_setPanel->setVisible(!entering);
    m_okButton->setDefault(entering);
    m_setButton->setDefault(!entering);
    const QWidget* row = entering ? m_enterPanel : m_setPanel;
    setFixedSize(DialogWidth, row->geometry().bottom() + 1 + RowGap);
}

QString MasterPasswordDialog::password() const {
    return m_passwordEdit->text();
}

void MasterPasswordDialog::setPassword(const QString& password) {
    m_passwordEdit->setText(password);
}

MasterPasswordResult MasterPasswordDialog::outcome() const {
    switch (result()) {
    case Accepted:
        return MasterPasswordResult::Ok;
    case Rejected:
        return MasterPasswordResult::Cancel;
    default:
        return MasterPasswordResult::Abort;
    }
}

void MasterPasswordDialog::setNewPassword() {
    if (m_passwordEdit->text() != m_repeatEdit->text()) {
        dialogs().showMessage(tr("The passwords do not match."), MessageKind::Error,
                              MessageButtons::Ok);
        return;
    }
    done(Accepted);
}

void MasterPasswordDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_passwordEdit->setFocus();
}

void MasterPasswordDialog::keyPressEvent(QKeyEvent* event) {
    // Esc presses the visible row's cancel button: Abort when setting, else cancel.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (m_mode == MasterPasswordMode::Set)
            abortDialog();
        else
            declinePassword();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quaddle
