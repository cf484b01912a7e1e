#include "gui/QtDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace quaddle {

namespace {

QMessageBox::Icon iconOf(MessageKind kind) {
    switch (kind) {
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Question:
        return QMessageBox::Question;
    case MessageKind::Confirmation:
        return QMessageBox::Warning;
    case MessageKind::Plain:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons buttonsOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::OkAbort:
        return QMessageBox::Ok | QMessageBox::Abort;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

MessageAnswer answerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Abort:
        return MessageAnswer::Abort;
    default:
        return MessageAnswer::Ok;
    }
}

// Closing the box with Escape or its close button picks the cautious answer.
QMessageBox::StandardButton escapeOf(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoDefaultNo:
        return QMessageBox::No;
    case MessageButtons::OkCancel:
        return QMessageBox::Cancel;
    case MessageButtons::OkAbort:
        return QMessageBox::Abort;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

QWidget* askingWindow() {
    for (QWidget* candidate : {QApplication::activeModalWidget(), QApplication::activeWindow()})
        if (candidate && candidate->isVisible())
            return candidate;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Dialog))
            return window;
    }
    return nullptr;
}

MessageAnswer QtDialogs::showMessage(const QString& text, MessageKind kind,
                                     MessageButtons buttons) {
    QMessageBox box(iconOf(kind), QApplication::applicationDisplayName(), text, buttonsOf(buttons),
                    askingWindow());
    // Texts carry file, server and host names and server replies, which must show as typed.
    box.setTextFormat(Qt::PlainText);
    box.setEscapeButton(escapeOf(buttons));
    if (buttons == MessageButtons::YesNoDefaultNo)
        box.setDefaultButton(QMessageBox::No);
    return answerOf(box.exec());
}

QStringList QtDialogs::chooseFiles(const QString& title) {
    return QFileDialog::getOpenFileNames(askingWindow(), title);
}

} // namespace quaddle
