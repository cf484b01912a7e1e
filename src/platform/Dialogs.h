#pragma once

#include <QString>
#include <QStringList>

namespace quaddle {

// The icon a message box shows, which also tells the user what kind of notice it is.
enum class MessageKind { Plain, Error, Information, Question, Confirmation };

// YesNoDefaultNo: a warning whose Yes must be a deliberate choice, so Enter answers No.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo, OkCancel, OkAbort };

enum class MessageAnswer { Ok, Cancel, Yes, No, Abort };

// The master-password dialog either asks for the password (Enter; EnterAgain after a wrong
// one) or sets a new one (Set). Its result: OK, cancel ("Disable encryption", "Disable Master
// Password" or the close box), or Abort, which is neither; when entering, Abort means quit.
enum class MasterPasswordMode { Enter, EnterAgain, Set };
enum class MasterPasswordResult { Ok, Cancel, Abort };

// The question about a remote clash: a file that exists already, or a directory that does not.
enum class AskMode { File, Directory };

// What a server shows to prove who it is: an SSH host key or a TLS certificate.
enum class IdentityKind { HostKey, Certificate };

// The question whether to trust a server's identity that is not remembered yet, or that
// differs from the one remembered (changed). The text is the whole question; icon and buttons
// are how a window shows it.
struct IdentityQuestion {
    IdentityKind kind = IdentityKind::HostKey;
    bool changed = false;
    QString text;
    MessageKind icon = MessageKind::Confirmation;
    MessageButtons buttons = MessageButtons::OkCancel;
};

// Line breaks inside message texts.
const QString LineBreak = QStringLiteral("\n");

// Every message box and every question the program puts to the user goes through this
// interface, so that logic code stays free of widgets and tests can answer from a script.
// The program's own dialogs live in the libraries above this one; the program's
// implementation of this interface brings them together.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    virtual MessageAnswer showMessage(const QString& text, MessageKind kind,
                                      MessageButtons buttons) = 0;

    // Lets the user pick existing files; an empty list means the choice was cancelled.
    virtual QStringList chooseFiles(const QString& title) = 0;

    // Shows the master-password dialog; password receives the typed text.
    virtual MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) = 0;

    // The "Remote Login" prompt: user comes in and both go out; false when cancelled.
    virtual bool askLogin(QString& user, QString& password) = 0;

    // The file-exists or directory-not-found question about name. The answer is 1 (overwrite
    // or create), 2 (rename) or 128 (skip or cancel), plus 1024 when the user asked to
    // remember it for the session.
    virtual int askUser(AskMode mode, const QString& name) = 0;

    // True when the user trusts the identity. Windows show the question as a message box; an
    // implementation without windows may decide by its own rules, knowing what is asked.
    virtual bool trustIdentity(const IdentityQuestion& question);
};

// The implementation in use. The program installs the one that shows real windows;
// tests install a scripted one. Not owned. Installing returns the one installed before.
Dialogs& dialogs();
Dialogs* installDialogs(Dialogs* dialogs);

} // namespace quaddle
