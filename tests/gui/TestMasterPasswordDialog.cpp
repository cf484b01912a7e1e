#include "ScriptedDialogs.h"
#include "WidgetLookup.h"
#include "gui/MasterPasswordDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quaddle;
using quaddle::test::control;

namespace {

// Shows the dialog modally, lets act do what the user does, and returns the outcome.
MasterPasswordResult run(MasterPasswordDialog& dialog, const std::function<void()>& act) {
    // A check failing inside act leaves the dialog open, so it is closed then.
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act();
        if (dialog.isVisible())
            dialog.done(-1);
    });
    dialog.exec();
    return dialog.outcome();
}

void type(MasterPasswordDialog& dialog, const char* field, const QString& text) {
    QTest::keyClicks(control<QLineEdit>(dialog, field), text);
}

} // namespace

class TestMasterPasswordDialog : public QObject {
    Q_OBJECT

private slots:
    void init() { m_dialogs = std::make_unique<test::ScriptedDialogs>(); }
    void cleanup() {
        QUADDLE_VERIFY_DIALOGS(*m_dialogs);
        m_dialogs.reset();
    }

    void enterModeShowsOnlyItsRow();
    void setModeShowsOnlyItsRow();
    void wrongPasswordIsSaidAndQuitAborts();
    void okReturnsTheTypedPassword();
    void disableEncryptionCancels();
    void escapeAndCloseBoxCancelWhenEntering();
    void setWithMatchingFields();
    void mismatchKeepsDialogOpen();
    void disableMasterPasswordCancels();
    void abortAndEscapeAreNeitherOkNorCancel();
    void closeBoxCancelsWhenSetting();

private:
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
};

void TestMasterPasswordDialog::enterModeShowsOnlyItsRow() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Enter);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Master Password"));
    QCOMPARE(control<QLabel>(dialog, "passwordLabel")->text(),
             QStringLiteral("Please enter your master password:"));
    QVERIFY(control<QWidget>(dialog, "enterPanel")->isVisible());
    QVERIFY(!control<QWidget>(dialog, "setPanel")->isVisible());
    QCOMPARE(control<QPushButton>(dialog, "okButton")->text(), QStringLiteral("OK"));
    QVERIFY(control<QPushButton>(dialog, "okButton")->isDefault());
    QCOMPARE(control<QPushButton>(dialog, "dontLoadButton")->text(),
             QStringLiteral("Disable encryption"));
    QCOMPARE(control<QLineEdit>(dialog, "passwordEdit")->echoMode(), QLineEdit::Password);
    QVERIFY(control<QLineEdit>(dialog, "passwordEdit")->hasFocus());
    QVERIFY(!control<QLabel>(dialog, "wrongLabel")->isVisible());
    QVERIFY(!control<QPushButton>(dialog, "quitButton")->isVisible());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
}

void TestMasterPasswordDialog::wrongPasswordIsSaidAndQuitAborts() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::EnterAgain);
    dialog.setQuitOffered(true);
    const MasterPasswordResult result = run(dialog, [&] {
        QCOMPARE(control<QLabel>(dialog, "passwordLabel")->text(),
                 QStringLiteral("Please enter your master password:"));
        QVERIFY(control<QLabel>(dialog, "wrongLabel")->isVisible());
        QCOMPARE(control<QLabel>(dialog, "wrongLabel")->text(),
                 QStringLiteral("Wrong master password"));
        QVERIFY(control<QPushButton>(dialog, "okButton")->isDefault());
        auto* quit = control<QPushButton>(dialog, "quitButton");
        QCOMPARE(quit->text(), QStringLiteral("Quit"));
        quit->click();
    });
    QCOMPARE(result, MasterPasswordResult::Abort);
}

void TestMasterPasswordDialog::setModeShowsOnlyItsRow() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(control<QLabel>(dialog, "passwordLabel")->text(),
             QStringLiteral("New master password:"));
    QVERIFY(!control<QWidget>(dialog, "enterPanel")->isVisible());
    QVERIFY(control<QWidget>(dialog, "setPanel")->isVisible());
    QCOMPARE(control<QPushButton>(dialog, "setButton")->text(), QStringLiteral("Set"));
    QVERIFY(control<QPushButton>(dialog, "setButton")->isDefault());
    QCOMPARE(control<QPushButton>(dialog, "BDiable")->text(),
             QStringLiteral("Disable Master Password"));
    QCOMPARE(control<QPushButton>(dialog, "abortButton")->text(), QStringLiteral("Abort"));
    QCOMPARE(control<QLineEdit>(dialog, "repeatEdit")->echoMode(), QLineEdit::Password);
    QVERIFY(!control<QLabel>(dialog, "wrongLabel")->isVisible());
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
}

void TestMasterPasswordDialog::okReturnsTheTypedPassword() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Enter);
    const MasterPasswordResult result = run(dialog, [&] {
        type(dialog, "passwordEdit", "s3cret");
        QTest::keyClick(control<QLineEdit>(dialog, "passwordEdit"), Qt::Key_Return);
    });
    QCOMPARE(result, MasterPasswordResult::Ok);
    QCOMPARE(dialog.password(), QStringLiteral("s3cret"));
}

void TestMasterPasswordDialog::disableEncryptionCancels() {
    MasterPasswordDialog dialog;
    const MasterPasswordResult result =
        run(dialog, [&] { control<QPushButton>(dialog, "dontLoadButton")->click(); });
    QCOMPARE(result, MasterPasswordResult::Cancel);
}

void TestMasterPasswordDialog::escapeAndCloseBoxCancelWhenEntering() {
    MasterPasswordDialog dialog;
    QCOMPARE(run(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             MasterPasswordResult::Cancel);
    QCOMPARE(run(dialog, [&] { dialog.close(); }), MasterPasswordResult::Cancel);
}

void TestMasterPasswordDialog::setWithMatchingFields() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    const MasterPasswordResult result = run(dialog, [&] {
        type(dialog, "passwordEdit", "Same");
        type(dialog, "repeatEdit", "Same");
        QTest::keyClick(control<QLineEdit>(dialog, "repeatEdit"), Qt::Key_Return);
    });
    QCOMPARE(result, MasterPasswordResult::Ok);
    QCOMPARE(dialog.password(), QStringLiteral("Same"));
}

void TestMasterPasswordDialog::mismatchKeepsDialogOpen() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    m_dialogs->expectMessage("The passwords do not match.");
    bool stayedOpen = false;
    const MasterPasswordResult result = run(dialog, [&] {
        type(dialog, "passwordEdit", "Same");
        type(dialog, "repeatEdit", "same");
        control<QPushButton>(dialog, "setButton")->click();
        stayedOpen = dialog.isVisible() &&
                     control<QLineEdit>(dialog, "repeatEdit")->text() == QStringLiteral("same");
        control<QPushButton>(dialog, "abortButton")->click();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(m_dialogs->asked().first().kind, MessageKind::Error);
    QCOMPARE(result, MasterPasswordResult::Abort);
}

void TestMasterPasswordDialog::disableMasterPasswordCancels() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    QCOMPARE(run(dialog, [&] { control<QPushButton>(dialog, "BDiable")->click(); }),
             MasterPasswordResult::Cancel);
}

void TestMasterPasswordDialog::abortAndEscapeAreNeitherOkNorCancel() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    QCOMPARE(run(dialog, [&] { control<QPushButton>(dialog, "abortButton")->click(); }),
             MasterPasswordResult::Abort);
    QCOMPARE(run(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             MasterPasswordResult::Abort);
}

void TestMasterPasswordDialog::closeBoxCancelsWhenSetting() {
    MasterPasswordDialog dialog;
    dialog.setMode(MasterPasswordMode::Set);
    QCOMPARE(run(dialog, [&] { dialog.close(); }), MasterPasswordResult::Cancel);
}

QTEST_MAIN(TestMasterPasswordDialog)
#include "TestMasterPasswordDialog.moc"
