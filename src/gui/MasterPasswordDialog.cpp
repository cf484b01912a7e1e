#include "gui/MasterPasswordDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quaddle {

namespace {

constexpr int FieldWidth = 284;

QPushButton* button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

QLineEdit* passwordField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setMinimumWidth(FieldWidth);
    return field;
}

QHBoxLayout* buttonRow(QWidget* panel, const QList<QPushButton*>& buttons) {
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* button : buttons)
        row->addWidget(button);
    row->addStretch();
    return row;
}

} // namespace

MasterPasswordDialog::MasterPasswordDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Master Password"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_passwordLabel = new QLabel(this);
    m_passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    m_passwordEdit = passwordField("passwordEdit", this);
    m_passwordLabel->setBuddy(m_passwordEdit);
    m_wrongLabel = new QLabel(tr("Wrong master password"), this);
    m_wrongLabel->setObjectName(QStringLiteral("wrongLabel"));
    QPalette red = m_wrongLabel->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    m_wrongLabel->setPalette(red);

    m_enterPanel = new QWidget(this);
    m_enterPanel->setObjectName(QStringLiteral("enterPanel"));
    m_okButton = button(tr("OK"), "okButton", m_enterPanel);
    QPushButton* dontLoad = button(tr("Disable encryption"), "dontLoadButton", m_enterPanel);
    m_quitButton = button(tr("Quit"), "quitButton", m_enterPanel);
    buttonRow(m_enterPanel, {m_okButton, dontLoad})->addWidget(m_quitButton);
    m_quitButton->hide();
    connect(m_okButton, &QPushButton::clicked, this, &MasterPasswordDialog::acceptPassword);
    connect(dontLoad, &QPushButton::clicked, this, &MasterPasswordDialog::declinePassword);
    connect(m_quitButton, &QPushButton::clicked, this, &MasterPasswordDialog::abortDialog);

    m_setPanel = new QWidget(this);
    m_setPanel->setObjectName(QStringLiteral("setPanel"));
    auto* repeatLabel = new QLabel(tr("Repeat:"), m_setPanel);
    m_repeatEdit = passwordField("repeatEdit", m_setPanel);
    repeatLabel->setBuddy(m_repeatEdit);
    m_setButton = button(tr("Set"), "setButton", m_setPanel);
    QPushButton* disable = button(tr("Disable Master Password"), "BDiable", m_setPanel);
    QPushButton* abort = button(tr("Abort"), "abortButton", m_setPanel);
    auto* setLayout = new QVBoxLayout(m_setPanel);
    setLayout->setContentsMargins(0, 0, 0, 0);
    setLayout->addWidget(repeatLabel);
    setLayout->addWidget(m_repeatEdit);
    auto* setButtons = new QWidget(m_setPanel);
    buttonRow(setButtons, {m_setButton, disable})->addWidget(abort);
    setLayout->addWidget(setButtons);
    connect(m_setButton, &QPushButton::clicked, this, &MasterPasswordDialog::setNewPassword);
    connect(disable, &QPushButton::clicked, this, &MasterPasswordDialog::declinePassword);
    connect(abort, &QPushButton::clicked, this, &MasterPasswordDialog::abortDialog);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_passwordLabel);
    layout->addWidget(m_passwordEdit);
    layout->addWidget(m_wrongLabel);
    layout->addWidget(m_enterPanel);
    layout->addWidget(m_setPanel);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setMode(MasterPasswordMode::Enter);
}

void MasterPasswordDialog::setMode(MasterPasswordMode mode) {
    m_mode = mode;
    const bool entering = mode != MasterPasswordMode::Set;
    m_passwordLabel->setText(entering ? tr("Please enter your master password:")
                                      : tr("New master password:"));
    m_wrongLabel->setVisible(mode == MasterPasswordMode::EnterAgain);
    m_enterPanel->setVisible(entering);
    m_setPanel->setVisible(!entering);
    m_okButton->setDefault(entering);
    m_setButton->setDefault(!entering);
}

void MasterPasswordDialog::setQuitOffered(bool offered) {
    m_quitButton->setVisible(offered);
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
