#include "gui/QtDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace quaddle;

namespace {

// The program's own dialogs are not needed here.
class MessageBoxesOnly : public QtDialogs {
public:
    MasterPasswordResult askMasterPassword(MasterPasswordMode, QString&) override {
        return MasterPasswordResult::Abort;
    }
    bool askLogin(QString&, QString&) override { return false; }
    int askUser(AskMode, const QString&) override { return 128; }
};

} // namespace

class TestQtDialogs : public QObject {
    Q_OBJECT

private slots:
    void namesShowAsTyped_data();
    void namesShowAsTyped();
    void enterTakesTheDefaultAnswer_data();
    void enterTakesTheDefaultAnswer();
    void boxBelongsToTheVisibleWindow();
};

void TestQtDialogs::namesShowAsTyped_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::newRow("bold file name") << "Could not open \"<b>x</b>.jpg\"" << int(MessageKind::Error);
    QTest::newRow("server reply") << "550 <i>denied</i>\nIgnore and continue?"
                                  << int(MessageKind::Question);
    QTest::newRow("markup only") << "<img src=\"/etc/passwd\">" << int(MessageKind::Plain);
}

void TestQtDialogs::namesShowAsTyped() {
    QFETCH(QString, text);
    QFETCH(int, kind);
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    // The box is modal: it is read and closed from the event loop it runs.
    QTimer::singleShot(0, this, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(window);
            if (!box || !box->isVisible())
                continue;
            if (const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
                format = label->textFormat();
                shown = label->text();
            }
            box->button(QMessageBox::Ok)->click();
        }
    });
    MessageBoxesOnly dialogs;
    QCOMPARE(dialogs.showMessage(text, MessageKind(kind), MessageButtons::Ok), MessageAnswer::Ok);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, text);
}

void TestQtDialogs::enterTakesTheDefaultAnswer_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");
    QTest::newRow("question") << int(MessageButtons::YesNo) << int(MessageAnswer::Yes);
    QTest::newRow("warning") << int(MessageButtons::YesNoDefaultNo) << int(MessageAnswer::No);
    QTest::newRow("confirmation") << int(MessageButtons::OkCancel) << int(MessageAnswer::Ok);
}

void TestQtDialogs::enterTakesTheDefaultAnswer() {
    QFETCH(int, buttons);
    QFETCH(int, answer);
    QTimer::singleShot(0, this, [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(window) && window->isVisible())
                QTest::keyClick(window, Qt::Key_Return);
    });
    MessageBoxesOnly dialogs;
    QCOMPARE(dialogs.showMessage("The server's host key changed.", MessageKind::Error,
                                 MessageButtons(buttons)),
             MessageAnswer(answer));
}

void TestQtDialogs::boxBelongsToTheVisibleWindow() {
    QCOMPARE(askingWindow(), nullptr);
    QWidget hidden;
    hidden.setWindowTitle("hidden");
    hidden.show();
    hidden.hide();
    QWidget asking;
    asking.setWindowTitle("asking");
    asking.show();
    QVERIFY(QTest::qWaitForWindowExposed(&asking));
    // As when the program is not the one in front: no window of it is active.
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!QApplication::activeWindow());
    QWidget* parent = nullptr;
    QTimer::singleShot(0, this, [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(window) && window->isVisible()) {
                parent = window->parentWidget();
                QTest::keyClick(window, Qt::Key_Return);
            }
    });
    MessageBoxesOnly dialogs;
    dialogs.showMessage("Upload failed.", MessageKind::Error, MessageButtons::Ok);
    QCOMPARE(parent, &asking);
}

QTEST_MAIN(TestQtDialogs)
#include "TestQtDialogs.moc"
