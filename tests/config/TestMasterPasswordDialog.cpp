#include "ScriptedDialogs.h"
#include "WidgetLookup.h"
#include "config/MasterPasswordDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quaddle;
using quaddle::test::Control;

namespace {

// Shows the dialog modally, lets act do what the user does, and returns the outcome.
TMasterPassResult Run(TFMasterPass& dialog, const std::function<void()>& act) {
    // A check failing inside act leaves the dialog open, so it is closed then.
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act();
        if (dialog.isVisible())
            dialog.done(-1);
    });
    dialog.exec();
    return dialog.Outcome();
}

void Type(TFMasterPass& dialog, const char* field, const QString& text) {
    QTest::keyClicks(Control<QLineEdit>(dialog, field), text);
}

} // namespace

class TestMasterPasswordDialog : public QObject {
    Q_OBJECT

private slots:
    void init() { Dialogs = std::make_unique<test::TScriptedDialogs>(); }
    void cleanup() {
        QUADDLE_VERIFY_DIALOGS(*Dialogs);
        Dialogs.reset();
    }

    void enterModeShowsOnlyItsRow();
    void setModeShowsOnlyItsRow();
    void okReturnsTheTypedPassword();
    void disableEncryptionCancels();
    void escapeAndCloseBoxCancelWhenEntering();
    void setWithMatchingFields();
    void mismatchKeepsDialogOpen();
    void disableMasterPasswordCancels();
    void abortAndEscapeAreNeitherOkNorCancel();
    void closeBoxCancelsWhenSetting();

private:
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
};

void TestMasterPasswordDialog::enterModeShowsOnlyItsRow() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Eingabe);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Master Password"));
    QCOMPARE(Control<QLabel>(dialog, "LPass")->text(),
             QStringLiteral("Please enter your master password:"));
    QVERIFY(Control<QWidget>(dialog, "PEingabe")->isVisible());
    QVERIFY(!Control<QWidget>(dialog, "PSetzen")->isVisible());
    QCOMPARE(Control<QPushButton>(dialog, "BOk")->text(), QStringLiteral("OK"));
    QVERIFY(Control<QPushButton>(dialog, "BOk")->isDefault());
    QCOMPARE(Control<QPushButton>(dialog, "BDontLoad")->text(),
             QStringLiteral("Disable encryption"));
    QCOMPARE(Control<QLineEdit>(dialog, "EPass")->echoMode(), QLineEdit::Password);
    QVERIFY(Control<QLineEdit>(dialog, "EPass")->hasFocus());
    const QRect row = Control<QWidget>(dialog, "PEingabe")->geometry();
    QCOMPARE(row.top(), Control<QLineEdit>(dialog, "EPass")->geometry().bottom() + 1 + 5);
    QCOMPARE(dialog.height(), row.bottom() + 1 + 5);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
}

void TestMasterPasswordDialog::setModeShowsOnlyItsRow() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(Control<QLabel>(dialog, "LPass")->text(), QStringLiteral("New master password:"));
    QVERIFY(!Control<QWidget>(dialog, "PEingabe")->isVisible());
    QVERIFY(Control<QWidget>(dialog, "PSetzen")->isVisible());
    QCOMPARE(Control<QPushButton>(dialog, "BSet")->text(), QStringLiteral("Set"));
    QVERIFY(Control<QPushButton>(dialog, "BSet")->isDefault());
    QCOMPARE(Control<QPushButton>(dialog, "BDiable")->text(),
             QStringLiteral("Disable Master Password"));
    QCOMPARE(Control<QPushButton>(dialog, "BAbort")->text(), QStringLiteral("Abort"));
    QCOMPARE(Control<QLineEdit>(dialog, "ERepeat")->echoMode(), QLineEdit::Password);
    const QRect row = Control<QWidget>(dialog, "PSetzen")->geometry();
    QCOMPARE(dialog.height(), row.bottom() + 1 + 5);
}

void TestMasterPasswordDialog::okReturnsTheTypedPassword() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Eingabe);
    const TMasterPassResult result = Run(dialog, [&] {
        Type(dialog, "EPass", "s3cret");
        QTest::keyClick(Control<QLineEdit>(dialog, "EPass"), Qt::Key_Return);
    });
    QCOMPARE(result, TMasterPassResult::Ok);
    QCOMPARE(dialog.Password(), QStringLiteral("s3cret"));
}

void TestMasterPasswordDialog::disableEncryptionCancels() {
    TFMasterPass dialog;
    const TMasterPassResult result =
        Run(dialog, [&] { Control<QPushButton>(dialog, "BDontLoad")->click(); });
    QCOMPARE(result, TMasterPassResult::Cancel);
}

void TestMasterPasswordDialog::escapeAndCloseBoxCancelWhenEntering() {
    TFMasterPass dialog;
    QCOMPARE(Run(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             TMasterPassResult::Cancel);
    QCOMPARE(Run(dialog, [&] { dialog.close(); }), TMasterPassResult::Cancel);
}

void TestMasterPasswordDialog::setWithMatchingFields() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    const TMasterPassResult result = Run(dialog, [&] {
        Type(dialog, "EPass", "Same");
        Type(dialog, "ERepeat", "Same");
        QTest::keyClick(Control<QLineEdit>(dialog, "ERepeat"), Qt::Key_Return);
    });
    QCOMPARE(result, TMasterPassResult::Ok);
    QCOMPARE(dialog.Password(), QStringLiteral("Same"));
}

void TestMasterPasswordDialog::mismatchKeepsDialogOpen() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    Dialogs->ExpectMessage("The passwords do not match.");
    bool stayedOpen = false;
    const TMasterPassResult result = Run(dialog, [&] {
        Type(dialog, "EPass", "Same");
        Type(dialog, "ERepeat", "same");
        Control<QPushButton>(dialog, "BSet")->click();
        stayedOpen = dialog.isVisible() &&
                     Control<QLineEdit>(dialog, "ERepeat")->text() == QStringLiteral("same");
        Control<QPushButton>(dialog, "BAbort")->click();
    });
    QVERIFY(stayedOpen);
    QCOMPARE(Dialogs->Asked().first().Kind, TMsgKind::Error);
    QCOMPARE(result, TMasterPassResult::Abort);
}

void TestMasterPasswordDialog::disableMasterPasswordCancels() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    QCOMPARE(Run(dialog, [&] { Control<QPushButton>(dialog, "BDiable")->click(); }),
             TMasterPassResult::Cancel);
}

void TestMasterPasswordDialog::abortAndEscapeAreNeitherOkNorCancel() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    QCOMPARE(Run(dialog, [&] { Control<QPushButton>(dialog, "BAbort")->click(); }),
             TMasterPassResult::Abort);
    QCOMPARE(Run(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             TMasterPassResult::Abort);
}

void TestMasterPasswordDialog::closeBoxCancelsWhenSetting() {
    TFMasterPass dialog;
    dialog.SetMode(TMasterPassMode::Setzen);
    QCOMPARE(Run(dialog, [&] { dialog.close(); }), TMasterPassResult::Cancel);
}

QTEST_MAIN(TestMasterPasswordDialog)
#include "TestMasterPasswordDialog.moc"
