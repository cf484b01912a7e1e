#include "WidgetLookup.h"
#include "upload/FileExistsDialog.h"
#include "upload/LoginDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quaddle;
using quaddle::test::Control;

namespace {

const QString FileQuestion =
    "A file you are trying to upload already exists on the server. You can either skip this "
    "upload, rename the old file to make space for the new one or overwrite the old file with "
    "the new one. What do you want to do?";
const QString DirectoryQuestion =
    "The directory you are trying to upload files to does not exist on the server. Quaddle can "
    "try to create this directory for you, but this may fail for various reasons. If you would "
    "rather create the folder yourself or choose another one, you can cancel the upload here.";

// Lets act do what the user does once the dialog shows; a check failing inside act leaves
// the dialog open, so it is closed then.
void WhenShown(QDialog& dialog, const std::function<void()>& act) {
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act();
        if (dialog.isVisible())
            dialog.done(-1);
    });
}

int AskAndAct(TFormDialog& dialog, TAskMode mode, const QString& name,
              const std::function<void()>& act) {
    WhenShown(dialog, act);
    return dialog.Ask(mode, name);
}

void Click(const QWidget& dialog, const char* button) {
    Control<QPushButton>(dialog, button)->click();
}

} // namespace

class TestUploadDialogs : public QObject {
    Q_OBJECT

private slots:
    void fileModeTextsAndButtons();
    void directoryModeTextsAndButtons();
    void buttonsAnswerWithTheirTags_data();
    void buttonsAnswerWithTheirTags();
    void rememberCountsInFileModeOnly();
    void closeBoxAndEscapeSkip();
    void longNameWrapsQuestionAndMovesButtons();

    void loginPromptFillsUserAndFocus();
    void loginPromptLimitsAndMasks();
    void loginCancelledChangesNothing();
};

void TestUploadDialogs::fileModeTextsAndButtons() {
    TFormDialog dialog;
    bool checked = false;
    AskAndAct(dialog, TAskMode::File, "a.jpg", [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("File Exists"));
        QCOMPARE(Control<QLabel>(dialog, "LWhat")->text(), QStringLiteral("Filename:"));
        QCOMPARE(Control<QLineEdit>(dialog, "EditFilename")->text(), QStringLiteral("a.jpg"));
        QVERIFY(Control<QLineEdit>(dialog, "EditFilename")->isReadOnly());
        QCOMPARE(Control<QLabel>(dialog, "LText")->text(), FileQuestion);
        QCOMPARE(Control<QPushButton>(dialog, "Button3")->text(), QStringLiteral("Rename"));
        QCOMPARE(Control<QPushButton>(dialog, "Button2")->text(), QStringLiteral("Overwrite"));
        QCOMPARE(Control<QPushButton>(dialog, "Button1")->text(), QStringLiteral("Skip"));
        QVERIFY(Control<QPushButton>(dialog, "Button3")->isVisible());
        QVERIFY(Control<QCheckBox>(dialog, "CRemember")->isVisible());
        QCOMPARE(Control<QCheckBox>(dialog, "CRemember")->text(),
                 QStringLiteral("Remember for this session"));
        // Left to right: the checkbox, Rename, Overwrite, Skip.
        QVERIFY(Control<QCheckBox>(dialog, "CRemember")->x() <
                Control<QPushButton>(dialog, "Button3")->x());
        QVERIFY(Control<QPushButton>(dialog, "Button3")->x() <
                Control<QPushButton>(dialog, "Button2")->x());
        QVERIFY(Control<QPushButton>(dialog, "Button2")->x() <
                Control<QPushButton>(dialog, "Button1")->x());
        QCOMPARE(dialog.width(), 444);
        checked = true;
        Click(dialog, "Button1");
    });
    QVERIFY(checked);
}

void TestUploadDialogs::directoryModeTextsAndButtons() {
    TFormDialog dialog;
    AskAndAct(dialog, TAskMode::File, "a.jpg", [&] { Click(dialog, "Button1"); });
    bool checked = false;
    AskAndAct(dialog, TAskMode::Directory, "/htdocs/new", [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Directory Not Found"));
        QCOMPARE(Control<QLabel>(dialog, "LWhat")->text(), QStringLiteral("Directory:"));
        QCOMPARE(Control<QLineEdit>(dialog, "EditFilename")->text(), QStringLiteral("/htdocs/new"));
        QCOMPARE(Control<QLabel>(dialog, "LText")->text(), DirectoryQuestion);
        QCOMPARE(Control<QPushButton>(dialog, "Button2")->text(), QStringLiteral("Create"));
        QCOMPARE(Control<QPushButton>(dialog, "Button1")->text(), QStringLiteral("Cancel"));
        QVERIFY(!Control<QPushButton>(dialog, "Button3")->isVisible());
        QVERIFY(!Control<QCheckBox>(dialog, "CRemember")->isVisible());
        checked = true;
        Click(dialog, "Button1");
    });
    QVERIFY(checked);
    // Back in file mode, Rename and the checkbox return.
    AskAndAct(dialog, TAskMode::File, "b.jpg", [&] {
        QVERIFY(Control<QPushButton>(dialog, "Button3")->isVisible());
        QVERIFY(Control<QCheckBox>(dialog, "CRemember")->isVisible());
        Click(dialog, "Button1");
    });
}

void TestUploadDialogs::buttonsAnswerWithTheirTags_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answer");
    QTest::newRow("Skip") << "Button1" << 128;
    QTest::newRow("Overwrite") << "Button2" << 1;
    QTest::newRow("Rename") << "Button3" << 2;
}

void TestUploadDialogs::buttonsAnswerWithTheirTags() {
    QFETCH(QString, button);
    QFETCH(int, answer);
    TFormDialog dialog;
    QCOMPARE(AskAndAct(dialog, TAskMode::File, "a.jpg", [&] { Click(dialog, qPrintable(button)); }),
             answer);
}

void TestUploadDialogs::rememberCountsInFileModeOnly() {
    TFormDialog dialog;
    QCOMPARE(AskAndAct(dialog, TAskMode::File, "a.jpg",
                       [&] {
                           QTest::mouseClick(Control<QCheckBox>(dialog, "CRemember"),
                                             Qt::LeftButton);
                           Click(dialog, "Button2");
                       }),
             1025);
    // The tick stays for the next showing.
    QCOMPARE(AskAndAct(dialog, TAskMode::File, "b.jpg", [&] { Click(dialog, "Button1"); }),
             128 + 1024);
    QCOMPARE(AskAndAct(dialog, TAskMode::Directory, "/x", [&] { Click(dialog, "Button2"); }), 1);
}

void TestUploadDialogs::closeBoxAndEscapeSkip() {
    TFormDialog dialog;
    QCOMPARE(AskAndAct(dialog, TAskMode::File, "a.jpg", [&] { Click(dialog, "Button2"); }), 1);
    QCOMPARE(AskAndAct(dialog, TAskMode::File, "a.jpg", [&] { dialog.close(); }), 128);
    QCOMPARE(AskAndAct(dialog, TAskMode::Directory, "/x",
                       [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             128);
}

void TestUploadDialogs::longNameWrapsQuestionAndMovesButtons() {
    TFormDialog dialog;
    int shortBottom = 0;
    AskAndAct(dialog, TAskMode::File, "a.jpg", [&] {
        shortBottom = Control<QWidget>(dialog, "PUnten")->geometry().bottom();
        Click(dialog, "Button1");
    });
    const QString longName = QString(300, 'n') + ".jpg";
    AskAndAct(dialog, TAskMode::File, longName, [&] {
        const QLabel* text = Control<QLabel>(dialog, "LText");
        const QWidget* row = Control<QWidget>(dialog, "PUnten");
        QCOMPARE(text->width(), 428);
        QVERIFY(text->height() > text->fontMetrics().height() * 2);
        QCOMPARE(row->y(), text->geometry().bottom() + 1 + 8);
        QCOMPARE(dialog.height(), row->geometry().bottom() + 1 + 8);
        QCOMPARE(row->geometry().bottom(), shortBottom);
        QCOMPARE(Control<QLineEdit>(dialog, "EditFilename")->text(), longName);
        QCOMPARE(dialog.width(), 444);
        Click(dialog, "Button1");
    });
}

void TestUploadDialogs::loginPromptFillsUserAndFocus() {
    TFormLogin dialog;
    QString user = "alice";
    QString password = "stale";
    WhenShown(dialog, [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Remote Login"));
        QCOMPARE(Control<QLineEdit>(dialog, "EUser")->text(), QStringLiteral("alice"));
        QCOMPARE(Control<QLineEdit>(dialog, "EPassword")->text(), QString());
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, "EPassword"));
        QTest::keyClicks(Control<QLineEdit>(dialog, "EPassword"), "s3cret");
        QTest::keyClick(Control<QLineEdit>(dialog, "EPassword"), Qt::Key_Return);
    });
    QVERIFY(dialog.Ask(user, password));
    QCOMPARE(user, QStringLiteral("alice"));
    QCOMPARE(password, QStringLiteral("s3cret"));

    QString nobody;
    WhenShown(dialog, [&] {
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, "EUser"));
        QTest::keyClicks(Control<QLineEdit>(dialog, "EUser"), "bob");
        Control<QPushButton>(dialog, "BOk")->click();
    });
    QVERIFY(dialog.Ask(nobody, password));
    QCOMPARE(nobody, QStringLiteral("bob"));
    QCOMPARE(password, QString());
}

void TestUploadDialogs::loginPromptLimitsAndMasks() {
    TFormLogin dialog;
    QString user;
    QString password;
    WhenShown(dialog, [&] {
        QCOMPARE(Control<QLineEdit>(dialog, "EPassword")->echoMode(), QLineEdit::Password);
        QTest::keyClicks(Control<QLineEdit>(dialog, "EUser"), QString(40, 'u'));
        QTest::keyClicks(Control<QLineEdit>(dialog, "EPassword"), QString(40, 'p'));
        QCOMPARE(Control<QPushButton>(dialog, "BOk")->text(), QStringLiteral("&OK"));
        QVERIFY(Control<QPushButton>(dialog, "BOk")->isDefault());
        Control<QPushButton>(dialog, "BOk")->click();
    });
    QVERIFY(dialog.Ask(user, password));
    QCOMPARE(user, QString(31, 'u'));
    QCOMPARE(password, QString(31, 'p'));
}

void TestUploadDialogs::loginCancelledChangesNothing() {
    TFormLogin dialog;
    QString user = "alice";
    QString password = "kept";
    WhenShown(dialog, [&] {
        QTest::keyClicks(Control<QLineEdit>(dialog, "EPassword"), "typed");
        Control<QPushButton>(dialog, "BCancel")->click();
    });
    QVERIFY(!dialog.Ask(user, password));
    QCOMPARE(user, QStringLiteral("alice"));
    QCOMPARE(password, QStringLiteral("kept"));
}

QTEST_MAIN(TestUploadDialogs)
#include "TestUploadDialogs.moc"
