#include "gui/QtDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace quaddle;

namespace {

// The program's own dialogs are not needed here.
class MessageBoxesOnly : public QtDialogs {
public:
    MasterPasswordResult askMasterPassword(MasterPasswordMode, QString&) override {
        return MasterPasswordResult::Abort;
    }
    bool askLogin(const LoginTarget&, LoginAnswer&) override { return false; }
    FileExistsAnswer askFileExists(const QString&) override { return {}; }
    MissingDirAnswer askMissingDir(const QString&) override { return MissingDirAnswer::Cancel; }
};

// Keeps the message box a question would show, and answers it as told.
class RecordedBoxes : public MessageBoxesOnly {
public:
    MessageAnswer answer = MessageAnswer::Ok;
    QString text;
    MessageKind kind = MessageKind::Plain;
    MessageButtons buttons = MessageButtons::Ok;

    MessageAnswer showMessage(const QString& shown, MessageKind shownKind,
                              MessageButtons shownButtons) override {
        text = shown;
        kind = shownKind;
        buttons = shownButtons;
        return answer;
    }
};

const QString Details = "Why it is not trusted: self-signed\nSHA-256 fingerprint: AB:CD";

// Each question as the engine asks it, by the name of its row.
bool ask(Dialogs& dialogs, const QString& question) {
    const QHash<QString, std::function<bool()>> questions{
        {"new host key",
         [&] {
             return dialogs.trustIdentity({IdentityKind::HostKey, false, false, "ssh-ed25519",
                                           "  ssh-ed25519 255 SHA256:k3y", QString()});
         }},
        {"changed host key",
         [&] {
             return dialogs.trustIdentity({IdentityKind::HostKey, true, false, "rsa2",
                                           "  ssh-rsa 3072 SHA256:n3w", QString()});
         }},
        {"new certificate",
         [&] {
             return dialogs.trustIdentity(
                 {IdentityKind::Certificate, false, false, QString(), "ABCD", Details});
         }},
        {"changed certificate",
         [&] {
             return dialogs.trustIdentity(
                 {IdentityKind::Certificate, true, false, QString(), "ABCD", Details});
         }},
        {"certificate the system trusted before",
         [&] {
             return dialogs.trustIdentity(
                 {IdentityKind::Certificate, true, true, QString(), "ABCD", Details});
         }},
        {"login refused",
         [&] {
             return dialogs.retryLogin({"Local FTP", "127.0.0.1", false}, "alice");
         }},
        {"login refused, no user",
         [&] {
             return dialogs.retryLogin({QString(), "::1", false}, QString());
         }},
        {"locked logins lost", [&] { return dialogs.confirmLosingLockedLogins(); }},
        {"unencrypted, none set", [&] { return dialogs.confirmUnencryptedPassword(false); }},
        {"unencrypted, locked", [&] { return dialogs.confirmUnencryptedPassword(true); }},
    };
    return questions.value(question)();
}

// Runs act on the message box the code under test shows; the box is modal, so it is read and
// answered from the event loop it runs.
void whenBoxShows(QObject* context, const std::function<void(QMessageBox&)>& act) {
    QTimer::singleShot(0, context, [act] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                act(*box);
    });
}

} // namespace

class TestQtDialogs : public QObject {
    Q_OBJECT

private slots:
    void namesShowAsTyped_data();
    void namesShowAsTyped();
    void enterTakesTheDefaultAnswer_data();
    void enterTakesTheDefaultAnswer();
    void boxBelongsToTheVisibleWindow();
    void questionsAreWorded_data();
    void questionsAreWorded();
    void errorQuestionOffersServerEdit_data();
    void errorQuestionOffersServerEdit();
    void thumbnailOfferKeepsItsAnswerWhenAsked_data();
    void thumbnailOfferKeepsItsAnswerWhenAsked();
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
    whenBoxShows(this, [&](QMessageBox& box) {
        if (const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            format = label->textFormat();
            shown = label->text();
        }
        box.button(QMessageBox::Ok)->click();
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

void TestQtDialogs::questionsAreWorded_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("yes"); // the answer that says yes; closing the box says no
    const int ok = int(MessageAnswer::Ok);
    const int yes = int(MessageAnswer::Yes);
    const int yesNo = int(MessageButtons::YesNo);
    const int warning = int(MessageButtons::YesNoDefaultNo);
    const int confirmation = int(MessageKind::Confirmation);
    const int error = int(MessageKind::Error);
    QTest::newRow("new host key")
        << "Quaddle does not recognize the server's host key. If this is the first time you are "
           "connecting to this server, you should click OK to save the key. If you think you "
           "server might be compromised, click Cancel to abort the upload.\nThe server's "
           "ssh-ed25519 key fingerprint is:\n  ssh-ed25519 255 SHA256:k3y"
        << confirmation << int(MessageButtons::OkCancel) << ok;
    QTest::newRow("changed host key")
        << "WARNING: the server's host key has changed since the last connection.\nSomeone may "
           "be intercepting the connection to read your password and files, or the server was "
           "reinstalled or given a new key.\nThe server's new rsa2 key fingerprint is:\n  "
           "ssh-rsa 3072 SHA256:n3w\nClick Yes only if you know that the key was changed: the "
           "new key is then remembered. No ends the upload."
        << error << warning << yes;
    QTest::newRow("new certificate")
        << "The server's certificate could not be verified.\n" + Details +
               "\nTrust this certificate for this server? Yes connects and remembers it; No "
               "ends the upload."
        << confirmation << warning << yes;
    const QString changedCertificate =
        "\nSomeone may be intercepting the connection to read your password and files, or the "
        "server got a new certificate.\n" +
        Details +
        "\nTrust the new certificate for this server? Click Yes only if you know that it was "
        "changed; No ends the upload.";
    QTest::newRow("changed certificate")
        << "WARNING: the server's certificate has changed since you trusted it." +
               changedCertificate
        << error << warning << yes;
    QTest::newRow("certificate the system trusted before")
        << "WARNING: the server's certificate has changed: the system trusted the one it showed "
           "before, but not this one." +
               changedCertificate
        << error << warning << yes;
    // The design's words first, then whom the server refused.
    QTest::newRow("login refused") << "Login incorrect. Please try again.\nThe server \"Local "
                                      "FTP\" (127.0.0.1) refused the login of the user \"alice\"."
                                   << error << int(MessageButtons::OkAbort) << ok;
    QTest::newRow("login refused, no user")
        << "Login incorrect. Please try again.\nThe server ::1 refused the login." << error
        << int(MessageButtons::OkAbort) << ok;
    QTest::newRow("locked logins lost")
        << "You did not enter your old master password yet. If you change your master password "
           "now, you will lose all login information saved with the old master password. Are "
           "you sure you want to change your master password?"
        << confirmation << yesNo << yes;
    const QString unencrypted = " Passwords will not be encrypted and can easily be obtained by "
                                "anyone with access to your computer. Do you still want to save "
                                "this password?\nA master password is set in File > Options..., "
                                "under \"Security\": \"Set Master Password\".";
    QTest::newRow("unencrypted, none set")
        << "You have not set a master password yet." + unencrypted << confirmation << yesNo << yes;
    QTest::newRow("unencrypted, locked")
        << "You have disabled encryption by not entering your master password." + unencrypted
        << confirmation << yesNo << yes;
}

void TestQtDialogs::questionsAreWorded() {
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(int, buttons);
    QFETCH(int, yes);
    RecordedBoxes boxes;
    boxes.answer = MessageAnswer(yes);
    QVERIFY(ask(boxes, QString::fromLatin1(QTest::currentDataTag())));
    QCOMPARE(boxes.text, text);
    QCOMPARE(int(boxes.kind), kind);
    QCOMPARE(int(boxes.buttons), buttons);
    boxes.answer = closingAnswer(boxes.buttons);
    QVERIFY(!ask(boxes, QString::fromLatin1(QTest::currentDataTag())));
}

void TestQtDialogs::errorQuestionOffersServerEdit_data() {
    QTest::addColumn<QString>("button"); // the button's text, or empty for Escape
    QTest::addColumn<ErrorAnswer>("answer");
    QTest::newRow("yes") << "&Yes" << ErrorAnswer::Continue;
    QTest::newRow("no") << "&No" << ErrorAnswer::Stop;
    QTest::newRow("edit server") << "&Edit Server\u2026" << ErrorAnswer::EditServer;
    QTest::newRow("escape") << QString() << ErrorAnswer::Stop;
}

void TestQtDialogs::errorQuestionOffersServerEdit() {
    QFETCH(QString, button);
    QFETCH(ErrorAnswer, answer);
    QString shown;
    QStringList buttons;
    whenBoxShows(this, [&](QMessageBox& box) {
        shown = box.text();
        QAbstractButton* chosen = nullptr;
        for (QAbstractButton* offered : box.buttons()) {
            buttons.append(offered->text());
            if (offered->text() == button)
                chosen = offered;
        }
        if (chosen)
            chosen->click();
        else
            QTest::keyClick(&box, Qt::Key_Escape);
    });
    MessageBoxesOnly dialogs;
    QCOMPARE(dialogs.continueAfterError("550 <i>denied</i>"), answer);
    QCOMPARE(shown, "An error occurred: \n550 <i>denied</i>\nIgnore and continue?");
    buttons.sort();
    QCOMPARE(buttons, QStringList({"&Edit Server\u2026", "&No", "&Yes"}));
}

void TestQtDialogs::thumbnailOfferKeepsItsAnswerWhenAsked_data() {
    QTest::addColumn<int>("images");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<int>("key"); // what the user presses: Y, N, or Esc
    QTest::addColumn<bool>("make");
    const QString jpeg = "Looks like you are uploading some JPEG images. Do you want to create "
                         "thumbnails for them?";
    const QString other = "Looks like you are uploading some images. Do you want to create "
                          "thumbnails for them?";
    const int jpegs = int(ThumbnailImages::Jpeg);
    QTest::newRow("JPEG, yes") << jpegs << jpeg << false << int(Qt::Key_Y) << true;
    QTest::newRow("JPEG, no") << jpegs << jpeg << false << int(Qt::Key_N) << false;
    QTest::newRow("others, yes, never ask")
        << int(ThumbnailImages::Mixed) << other << true << int(Qt::Key_Y) << true;
    QTest::newRow("JPEG, no, never ask") << jpegs << jpeg << true << int(Qt::Key_N) << false;
    QTest::newRow("Esc, never ask") << jpegs << jpeg << true << int(Qt::Key_Escape) << false;
}

void TestQtDialogs::thumbnailOfferKeepsItsAnswerWhenAsked() {
    QFETCH(int, images);
    QFETCH(QString, text);
    QFETCH(bool, tick);
    QFETCH(int, key);
    QFETCH(bool, make);
    QString shown;
    QString boxCaption;
    whenBoxShows(this, [&](QMessageBox& box) {
        shown = box.text();
        auto* neverAsk = box.findChild<QCheckBox*>("neverAskBox");
        if (!neverAsk) {
            box.reject();
            return;
        }
        boxCaption = neverAsk->text();
        if (tick)
            QTest::mouseClick(neverAsk, Qt::LeftButton);
        QCOMPARE(neverAsk->isChecked(), tick);
        QTest::keyClick(&box, Qt::Key(key));
    });
    MessageBoxesOnly dialogs;
    const ThumbnailAnswer answer = dialogs.offerThumbnails(ThumbnailImages(images));
    QCOMPARE(shown, text);
    QCOMPARE(boxCaption, QStringLiteral("&Don't ask again"));
    QCOMPARE(answer, (ThumbnailAnswer{make, tick}));
}

QTEST_MAIN(TestQtDialogs)
#include "TestQtDialogs.moc"
