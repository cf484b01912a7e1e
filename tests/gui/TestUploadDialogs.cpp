#include "WidgetLookup.h"
#include "gui/FileExistsDialog.h"
#include "gui/LoginDialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quaddle;
using quaddle::test::control;

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
void whenShown(QDialog& dialog, const std::function<void()>& act) {
    QTimer::singleShot(0, &dialog, [&dialog, act] {
        act();
        if (dialog.isVisible())
            dialog.done(-1);
    });
}

FileExistsAnswer askFile(FileExistsDialog& dialog, const QString& name,
                         const std::function<void()>& act) {
    whenShown(dialog, act);
    return dialog.askFileExists(name);
}

MissingDirAnswer askDir(FileExistsDialog& dialog, const QString& dir,
                        const std::function<void()>& act) {
    whenShown(dialog, act);
    return dialog.askMissingDir(dir);
}

void click(const QWidget& dialog, const char* button) {
    control<QPushButton>(dialog, button)->click();
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
    void markupInNamesShowsAsTyped();

    void loginPromptFillsUserAndFocus();
    void loginPromptLimitsAndMasks();
    void loginCancelledChangesNothing();
    void loginPromptNamesServerAndOffersRemembering_data();
    void loginPromptNamesServerAndOffersRemembering();
    void fileExistsKeysAndDefault_data();
    void fileExistsKeysAndDefault();
};

void TestUploadDialogs::fileModeTextsAndButtons() {
    FileExistsDialog dialog;
    bool checked = false;
    askFile(dialog, "a.jpg", [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("File Exists"));
        QCOMPARE(control<QLabel>(dialog, "whatLabel")->text(), QStringLiteral("Filename:"));
        QCOMPARE(control<QLineEdit>(dialog, "nameEdit")->text(), QStringLiteral("a.jpg"));
        QVERIFY(control<QLineEdit>(dialog, "nameEdit")->isReadOnly());
        QCOMPARE(control<QLabel>(dialog, "textLabel")->text(), FileQuestion);
        QCOMPARE(control<QPushButton>(dialog, "renameButton")->text(), QStringLiteral("&Rename"));
        QCOMPARE(control<QPushButton>(dialog, "overwriteButton")->text(),
                 QStringLiteral("&Overwrite"));
        QCOMPARE(control<QPushButton>(dialog, "skipButton")->text(), QStringLiteral("&Skip"));
        QVERIFY(control<QPushButton>(dialog, "renameButton")->isVisible());
        QVERIFY(control<QCheckBox>(dialog, "rememberBox")->isVisible());
        QCOMPARE(control<QCheckBox>(dialog, "rememberBox")->text(),
                 QStringLiteral("Re&member for this session"));
        // Left to right: the checkbox, Rename, Overwrite, Skip.
        QVERIFY(control<QCheckBox>(dialog, "rememberBox")->x() <
                control<QPushButton>(dialog, "renameButton")->x());
        QVERIFY(control<QPushButton>(dialog, "renameButton")->x() <
                control<QPushButton>(dialog, "overwriteButton")->x());
        QVERIFY(control<QPushButton>(dialog, "overwriteButton")->x() <
                control<QPushButton>(dialog, "skipButton")->x());
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        checked = true;
        click(dialog, "skipButton");
    });
    QVERIFY(checked);
}

void TestUploadDialogs::directoryModeTextsAndButtons() {
    FileExistsDialog dialog;
    askFile(dialog, "a.jpg", [&] { click(dialog, "skipButton"); });
    bool checked = false;
    askDir(dialog, "/htdocs/new", [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Directory Not Found"));
        QCOMPARE(control<QLabel>(dialog, "whatLabel")->text(), QStringLiteral("Directory:"));
        QCOMPARE(control<QLineEdit>(dialog, "nameEdit")->text(), QStringLiteral("/htdocs/new"));
        QCOMPARE(control<QLabel>(dialog, "textLabel")->text(), DirectoryQuestion);
        QCOMPARE(control<QPushButton>(dialog, "overwriteButton")->text(),
                 QStringLiteral("&Create"));
        QCOMPARE(control<QPushButton>(dialog, "skipButton")->text(), QStringLiteral("C&ancel"));
        QVERIFY(!control<QPushButton>(dialog, "renameButton")->isVisible());
        QVERIFY(!control<QCheckBox>(dialog, "rememberBox")->isVisible());
        checked = true;
        click(dialog, "skipButton");
    });
    QVERIFY(checked);
    // Back in file mode, Rename and the checkbox return.
    askFile(dialog, "b.jpg", [&] {
        QVERIFY(control<QPushButton>(dialog, "renameButton")->isVisible());
        QVERIFY(control<QCheckBox>(dialog, "rememberBox")->isVisible());
        click(dialog, "skipButton");
    });
}

void TestUploadDialogs::buttonsAnswerWithTheirTags_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answer");
    QTest::newRow("Skip") << "skipButton" << int(FileExistsChoice::Skip);
    QTest::newRow("Overwrite") << "overwriteButton" << int(FileExistsChoice::Overwrite);
    QTest::newRow("Rename") << "renameButton" << int(FileExistsChoice::Rename);
}

void TestUploadDialogs::buttonsAnswerWithTheirTags() {
    QFETCH(QString, button);
    QFETCH(int, answer);
    FileExistsDialog dialog;
    QCOMPARE(askFile(dialog, "a.jpg", [&] { click(dialog, qPrintable(button)); }),
             (FileExistsAnswer{FileExistsChoice(answer), false}));
}

void TestUploadDialogs::rememberCountsInFileModeOnly() {
    FileExistsDialog dialog;
    QCOMPARE(askFile(dialog, "a.jpg",
                     [&] {
                         QTest::mouseClick(control<QCheckBox>(dialog, "rememberBox"),
                                           Qt::LeftButton);
                         click(dialog, "overwriteButton");
                     }),
             (FileExistsAnswer{FileExistsChoice::Overwrite, true}));
    // The tick stays for the next showing.
    QCOMPARE(askFile(dialog, "b.jpg", [&] { click(dialog, "skipButton"); }),
             (FileExistsAnswer{FileExistsChoice::Skip, true}));
    QCOMPARE(askDir(dialog, "/x", [&] { click(dialog, "overwriteButton"); }),
             MissingDirAnswer::Create);
}

void TestUploadDialogs::closeBoxAndEscapeSkip() {
    FileExistsDialog dialog;
    QCOMPARE(askFile(dialog, "a.jpg", [&] { click(dialog, "overwriteButton"); }),
             (FileExistsAnswer{FileExistsChoice::Overwrite, false}));
    QCOMPARE(askFile(dialog, "a.jpg", [&] { dialog.close(); }), FileExistsAnswer());
    QCOMPARE(askDir(dialog, "/x", [&] { QTest::keyClick(&dialog, Qt::Key_Escape); }),
             MissingDirAnswer::Cancel);
}

void TestUploadDialogs::longNameWrapsQuestionAndMovesButtons() {
    FileExistsDialog dialog;
    int shortBottom = 0;
    askFile(dialog, "a.jpg", [&] {
        shortBottom = control<QWidget>(dialog, "buttonPanel")->geometry().bottom();
        click(dialog, "skipButton");
    });
    const QString longName = QString(300, 'n') + ".jpg";
    askFile(dialog, longName, [&] {
        const QLabel* text = control<QLabel>(dialog, "textLabel");
        const QWidget* row = control<QWidget>(dialog, "buttonPanel");
        // Wrapped at least as wide as the buttons below, and whole.
        QVERIFY(text->width() >= 428 && text->width() >= row->width());
        QVERIFY(text->height() >= text->heightForWidth(text->width()));
        QVERIFY(row->y() > text->geometry().bottom());
        QVERIFY(dialog.height() > row->geometry().bottom());
        QCOMPARE(row->geometry().bottom(), shortBottom);
        QCOMPARE(control<QLineEdit>(dialog, "nameEdit")->text(), longName);
        click(dialog, "skipButton");
    });
}

void TestUploadDialogs::markupInNamesShowsAsTyped() {
    const QString name = "<b>x</b>.jpg";
    const auto allLabelsPlain = [](const QWidget& dialog) {
        const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
        return !labels.isEmpty() && std::all_of(labels.begin(), labels.end(), [](QLabel* label) {
            return label->textFormat() == Qt::PlainText;
        });
    };
    FileExistsDialog exists;
    const auto checkShown = [&] {
        QCOMPARE(control<QLineEdit>(exists, "nameEdit")->displayText(), name);
        QVERIFY(allLabelsPlain(exists));
        click(exists, "skipButton");
    };
    askFile(exists, name, checkShown);
    askDir(exists, name, checkShown);
    LoginDialog login;
    LoginAnswer typed{name, QString(), false};
    whenShown(login, [&] {
        QCOMPARE(control<QLineEdit>(login, "userEdit")->displayText(), name);
        QCOMPARE(control<QLabel>(login, "targetLabel")->text(),
                 "Log in to \"" + name + "\" (" + name + ")");
        QVERIFY(allLabelsPlain(login));
        control<QPushButton>(login, "cancelButton")->click();
    });
    QVERIFY(!login.ask({name, name, true}, typed));
}

void TestUploadDialogs::loginPromptFillsUserAndFocus() {
    LoginDialog dialog;
    LoginAnswer login{"alice", "stale", false};
    whenShown(dialog, [&] {
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Remote Login"));
        QCOMPARE(control<QLineEdit>(dialog, "userEdit")->text(), QStringLiteral("alice"));
        QCOMPARE(control<QLineEdit>(dialog, "passwordEdit")->text(), QString());
        QCOMPARE(dialog.focusWidget(), control<QLineEdit>(dialog, "passwordEdit"));
        QTest::keyClicks(control<QLineEdit>(dialog, "passwordEdit"), "s3cret");
        QTest::keyClick(control<QLineEdit>(dialog, "passwordEdit"), Qt::Key_Return);
    });
    QVERIFY(dialog.ask({"Local FTP", "127.0.0.1", true}, login));
    QCOMPARE(login.user, QStringLiteral("alice"));
    QCOMPARE(login.password, QStringLiteral("s3cret"));
    QVERIFY(!login.remember);

    LoginAnswer nobody;
    whenShown(dialog, [&] {
        QCOMPARE(dialog.focusWidget(), control<QLineEdit>(dialog, "userEdit"));
        QTest::keyClicks(control<QLineEdit>(dialog, "userEdit"), "bob");
        control<QPushButton>(dialog, "okButton")->click();
    });
    QVERIFY(dialog.ask({"Local FTP", "127.0.0.1", true}, nobody));
    QCOMPARE(nobody.user, QStringLiteral("bob"));
    QCOMPARE(nobody.password, QString());
}

void TestUploadDialogs::loginPromptLimitsAndMasks() {
    LoginDialog dialog;
    LoginAnswer login;
    whenShown(dialog, [&] {
        QCOMPARE(control<QLineEdit>(dialog, "passwordEdit")->echoMode(), QLineEdit::Password);
        QTest::keyClicks(control<QLineEdit>(dialog, "userEdit"), QString(40, 'u'));
        QTest::keyClicks(control<QLineEdit>(dialog, "passwordEdit"), QString(40, 'p'));
        QCOMPARE(control<QPushButton>(dialog, "okButton")->text(), QStringLiteral("&OK"));
        QVERIFY(control<QPushButton>(dialog, "okButton")->isDefault());
        control<QPushButton>(dialog, "okButton")->click();
    });
    QVERIFY(dialog.ask({"Local FTP", "127.0.0.1", false}, login));
    QCOMPARE(login.user, QString(31, 'u'));
    QCOMPARE(login.password, QString(31, 'p'));
}

void TestUploadDialogs::loginCancelledChangesNothing() {
    LoginDialog dialog;
    LoginAnswer login{"alice", "kept", false};
    whenShown(dialog, [&] {
        QTest::keyClicks(control<QLineEdit>(dialog, "passwordEdit"), "typed");
        QTest::mouseClick(control<QCheckBox>(dialog, "rememberBox"), Qt::LeftButton);
        control<QPushButton>(dialog, "cancelButton")->click();
    });
    QVERIFY(!dialog.ask({"Local FTP", "127.0.0.1", true}, login));
    QCOMPARE(login.user, QStringLiteral("alice"));
    QCOMPARE(login.password, QStringLiteral("kept"));
    QVERIFY(!login.remember);
}

void TestUploadDialogs::loginPromptNamesServerAndOffersRemembering_data() {
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("named");
    QTest::newRow("password, remembered")
        << "Local FTP"
        << "127.0.0.1" << true << true << "Log in to \"Local FTP\" (127.0.0.1)";
    QTest::newRow("password, not remembered")
        << "Web"
        << "::1" << true << false << "Log in to \"Web\" (::1)";
    // A key's passphrase is never stored: no box to tick.
    QTest::newRow("passphrase") << "Local SFTP"
                                << "localhost" << false << false
                                << "Log in to \"Local SFTP\" (localhost)";
    QTest::newRow("server without a name")
        << QString() << "ftp.example.org" << true << false << "Log in to ftp.example.org";
}

void TestUploadDialogs::loginPromptNamesServerAndOffersRemembering() {
    QFETCH(QString, server);
    QFETCH(QString, host);
    QFETCH(bool, offered);
    QFETCH(bool, tick);
    QFETCH(QString, named);
    LoginDialog dialog;
    // The same dialog asks twice: the second showing starts unticked again.
    for (int showing = 0; showing < 2; ++showing) {
        LoginAnswer login{"alice", QString(), false};
        const bool ticking = tick && showing == 0;
        whenShown(dialog, [&] {
            QCOMPARE(control<QLabel>(dialog, "targetLabel")->text(), named);
            auto* remember = control<QCheckBox>(dialog, "rememberBox");
            QCOMPARE(remember->isVisible(), offered);
            QVERIFY(!remember->isChecked());
            QCOMPARE(remember->text(), QStringLiteral("&Remember password"));
            // Below the password field, above the buttons.
            if (offered)
                QVERIFY(remember->y() > control<QLineEdit>(dialog, "passwordEdit")->y());
            QTest::keyClicks(control<QLineEdit>(dialog, "passwordEdit"), "pw");
            if (ticking)
                QTest::mouseClick(remember, Qt::LeftButton);
            control<QPushButton>(dialog, "okButton")->click();
        });
        QVERIFY(dialog.ask({server, host, offered}, login));
        QCOMPARE(login.password, QStringLiteral("pw"));
        QCOMPARE(login.remember, ticking);
    }
}

void TestUploadDialogs::fileExistsKeysAndDefault_data() {
    QTest::addColumn<bool>("file");
    QTest::addColumn<QStringList>("texts"); // Rename, Overwrite, Skip, Remember
    QTest::newRow("file exists") << true
                                 << QStringList{"&Rename", "&Overwrite", "&Skip",
                                                "Re&member for this session"};
    QTest::newRow("directory missing") << false << QStringList{"&Rename", "&Create", "C&ancel"};
}

void TestUploadDialogs::fileExistsKeysAndDefault() {
    QFETCH(bool, file);
    QFETCH(QStringList, texts);
    FileExistsDialog dialog;
    QStringList shown;
    QList<QChar> letters;
    bool checked = false;
    const auto look = [&] {
        for (const char* name : {"renameButton", "overwriteButton", "skipButton", "rememberBox"}) {
            auto* button = dialog.findChild<QAbstractButton*>(QLatin1String(name));
            if (!button->isVisible())
                continue;
            shown.append(button->text());
            const qsizetype mark = button->text().indexOf('&');
            QVERIFY(mark >= 0);
            letters.append(button->text().at(mark + 1).toLower());
        }
        QVERIFY(control<QPushButton>(dialog, "skipButton")->isDefault());
        QVERIFY(!control<QPushButton>(dialog, "overwriteButton")->isDefault());
        checked = true;
        // Enter, wherever the focus is, takes the default: the file stays, nothing is created.
        QTest::keyClick(control<QLineEdit>(dialog, "nameEdit"), Qt::Key_Return);
    };
    if (file)
        QCOMPARE(askFile(dialog, "a.jpg", look), (FileExistsAnswer{FileExistsChoice::Skip, false}));
    else
        QCOMPARE(askDir(dialog, "/x", look), MissingDirAnswer::Cancel);
    QVERIFY(checked);
    QCOMPARE(shown, file ? texts : texts.mid(1));
    // No two controls share a letter.
    QCOMPARE(QSet<QChar>(letters.begin(), letters.end()).size(), letters.size());
}

QTEST_MAIN(TestUploadDialogs)
#include "TestUploadDialogs.moc"
