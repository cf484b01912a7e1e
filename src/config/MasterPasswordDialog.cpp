#include "config/MasterPasswordDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace quaddle {

namespace {

constexpr int DialogWidth = 300;
constexpr int RowGap = 5;

QPushButton* Button(const QString& caption, const char* name, QWidget* parent, int left,
                    int width) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 0, width, 25);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* PasswordField(const char* name, QWidget* parent, int left, int top, int width) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    field->setEchoMode(QLineEdit::Password);
    field->setGeometry(left, top, width, 21);
    return field;
}

} // namespace

TFMasterPass::TFMasterPass(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Master Password"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    LPass = new QLabel(this);
    LPass->setObjectName(QStringLiteral("LPass"));
    LPass->setGeometry(8, 8, DialogWidth - 16, 16);
    EPass = PasswordField("EPass", this, 8, 26, DialogWidth - 16);
    LPass->setBuddy(EPass);

    const int rowTop = EPass->geometry().bottom() + 1 + RowGap;
    PEingabe = new QWidget(this);
    PEingabe->setObjectName(QStringLiteral("PEingabe"));
    PEingabe->setGeometry(8, rowTop, DialogWidth - 16, 25);
    BOk = Button(tr("OK"), "BOk", PEingabe, 0, 80);
    QPushButton* dontLoad = Button(tr("Disable encryption"), "BDontLoad", PEingabe, 88, 140);
    connect(BOk, &QPushButton::clicked, this, &TFMasterPass::BOkClick);
    connect(dontLoad, &QPushButton::clicked, this, &TFMasterPass::BDontLoadClick);

    PSetzen = new QWidget(this);
    PSetzen->setObjectName(QStringLiteral("PSetzen"));
    PSetzen->setGeometry(8, rowTop, DialogWidth - 16, 76);
    auto* repeatLabel = new QLabel(tr("Repeat:"), PSetzen);
    repeatLabel->setGeometry(0, 0, DialogWidth - 16, 16);
    ERepeat = PasswordField("ERepeat", PSetzen, 0, 18, DialogWidth - 16);
    repeatLabel->setBuddy(ERepeat);
    BSet = Button(tr("Set"), "BSet", PSetzen, 0, 60);
    QPushButton* disable = Button(tr("Disable Master Password"), "BDiable", PSetzen, 66, 150);
    QPushButton* abort = Button(tr("Abort"), "BAbort", PSetzen, 222, 62);
    for (QPushButton* button : {BSet, disable, abort})
        button->move(button->x(), 51);
    connect(BSet, &QPushButton::clicked, this, &TFMasterPass::BSetClick);
    connect(disable, &QPushButton::clicked, this, &TFMasterPass::BDontLoadClick);
    connect(abort, &QPushButton::clicked, this, &TFMasterPass::BAbortClick);

    SetMode(TMasterPassMode::Eingabe);
}

void TFMasterPass::SetMode(TMasterPassMode mode) {
    Mode = mode;
    const bool entering = mode == TMasterPassMode::Eingabe;
    LPass->setText(entering ? tr("Please enter your master password:")
                            : tr("New master password:"));
    PEingabe->setVisible(entering);
    PSetzen->setVisible(!entering);
    BOk->setDefault(entering);
    BSet->setDefault(!entering);
    const QWidget* row = entering ? PEingabe : PSetzen;
    setFixedSize(DialogWidth, row->geometry().bottom() + 1 + RowGap);
}

QString TFMasterPass::Password() const {
    return EPass->text();
}

void TFMasterPass::SetPassword(const QString& password) {
    EPass->setText(password);
}

TMasterPassResult TFMasterPass::Outcome() const {
    switch (result()) {
    case Accepted:
        return TMasterPassResult::Ok;
    case Rejected:
        return TMasterPassResult::Cancel;
    default:
        return TMasterPassResult::Abort;
    }
}

void TFMasterPass::BSetClick() {
    if (EPass->text() != ERepeat->text()) {
        Dialogs().ShowMessage(tr("The passwords do not match."), TMsgKind::Error, TMsgButtons::Ok);
        return;
    }
    done(Accepted);
}

void TFMasterPass::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    EPass->setFocus();
}

void TFMasterPass::keyPressEvent(QKeyEvent* event) {
    // Esc presses the visible row's cancel button: Abort when setting, else cancel.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (Mode == TMasterPassMode::Setzen)
            BAbortClick();
        else
            BDontLoadClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quaddle
