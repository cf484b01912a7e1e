#include "platform/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace quaddle {

namespace {

QMessageBox::Icon IconOf(TMsgKind kind) {
    switch (kind) {
    case TMsgKind::Error:
        return QMessageBox::Critical;
    case TMsgKind::Information:
        return QMessageBox::Information;
    case TMsgKind::Question:
        return QMessageBox::Question;
    case TMsgKind::Confirmation:
        return QMessageBox::Warning;
    case TMsgKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ButtonsOf(TMsgButtons buttons) {
    switch (buttons) {
    case TMsgButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case TMsgButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case TMsgButtons::OkAbort:
        return QMessageBox::Ok | QMessageBox::Abort;
    case TMsgButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

TMsgAnswer AnswerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return TMsgAnswer::Yes;
    case QMessageBox::No:
        return TMsgAnswer::No;
    case QMessageBox::Cancel:
        return TMsgAnswer::Cancel;
    case QMessageBox::Abort:
        return TMsgAnswer::Abort;
    default:
        return TMsgAnswer::Ok;
    }
}

// Closing the box with Escape or its close button picks the cautious answer.
QMessageBox::StandardButton EscapeOf(TMsgButtons buttons) {
    switch (buttons) {
    case TMsgButtons::YesNo:
        return QMessageBox::No;
    case TMsgButtons::OkCancel:
        return QMessageBox::Cancel;
    case TMsgButtons::OkAbort:
        return QMessageBox::Abort;
    case TMsgButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

TMsgAnswer TQtDialogs::ShowMessage(const QString& text, TMsgKind kind, TMsgButtons buttons) {
    QMessageBox box(IconOf(kind), QApplication::applicationDisplayName(), text, ButtonsOf(buttons),
                    QApplication::activeWindow());
    box.setEscapeButton(EscapeOf(buttons));
    return AnswerOf(box.exec());
}

QStringList TQtDialogs::ChooseFiles(const QString& title) {
    return QFileDialog::getOpenFileNames(QApplication::activeWindow(), title);
}

} // namespace quaddle
