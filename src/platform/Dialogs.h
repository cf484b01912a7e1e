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

// The answer to the question about a file that exists on the server already.
enum class FileExistsChoice { Overwrite, Rename, Skip };
struct FileExistsAnswer {
    FileExistsChoice choice = FileExistsChoice::Skip;
    // The user asked to give the same answer to every further clash of the session.
    bool remember = false;

    bool operator==(const FileExistsAnswer&) const = default;
};

// The answer to the question about a remote directory that does not exist.
enum class MissingDirAnswer { Create, Cancel };

// The answer to the question whether to go on after a file failed: go on, stop, or stop and
// open the server's settings to mend them.
enum class ErrorAnswer { Continue, Stop, EditServer };

// What a server shows to prove who it is: an SSH host key or a TLS certificate.
enum class IdentityKind { HostKey, Certificate };

// A server's identity that is not remembered yet, or that differs from the one remembered
// (changed).
struct IdentityQuestion {
    IdentityKind kind = IdentityKind::HostKey;
    bool changed = false;
    // The certificate shown before was one the system trusted, not one the user accepted.
    bool systemTrustedBefore = false;
    // The host key's algorithm as the server names it ("ssh-ed25519"); empty for certificates.
    QString keyType;
    QString fingerprint;
    // What a certificate says of itself and why it is not trusted.
    QString details;
};

// What ssh wants for a prompt the program does not answer itself: a typed secret, or yes or no.
enum class SshPromptKind { Secret, Confirmation };

// The pictures of a run that could get thumbnails: JPEG images only, or others among them.
enum class ThumbnailImages { Jpeg, Mixed };

// The answer to the offer of thumbnails; neverAsk: the user wants the answer kept for every
// later run, instead of being asked.
struct ThumbnailAnswer {
    bool make = false;
    bool neverAsk = false;

    bool operator==(const ThumbnailAnswer&) const = default;
};

// For which server the "Remote Login" prompt asks: its name and host. offerRemember: the
// password typed may be stored with the server (a key's passphrase never is).
struct LoginTarget {
    QString server;
    QString host;
    bool offerRemember = false;
};

// What the "Remote Login" prompt hands back; remember: store the password with the server.
struct LoginAnswer {
    QString user;
    QString password;
    bool remember = false;
};

// Line breaks inside message texts.
const QString LineBreak = QStringLiteral("\n");

// Every message box and every question the program puts to the user goes through this
// interface, so that logic code stays free of widgets and tests can answer from a script.
// Each question is a call of its own with a typed answer; the face that shows it words it.
// The program's own dialogs live in the libraries above this one; the program's
// implementation of this interface brings them together.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // A message box of the windows' own; logic code tells through notify and asks through the
    // questions below. A face without windows only tells it and takes the cautious answer.
    virtual MessageAnswer showMessage(const QString& text, MessageKind kind,
                                      MessageButtons buttons);

    // A question whose yes is the action named on its button ("Delete Server"), so the answer
    // reads without the question; the other button, also Enter's and Esc's, keeps things as they
    // are. True when the action was chosen. A face without windows takes the keeping answer.
    virtual bool confirmAction(const QString& question, const QString& action);

    // Tells the user something that needs no decision.
    virtual void notify(MessageKind kind, const QString& text) = 0;

    // Lets the user pick existing files; an empty list means the choice was cancelled.
    virtual QStringList chooseFiles(const QString& title) = 0;

    // Shows the master-password dialog; password receives the typed text.
    virtual MasterPasswordResult askMasterPassword(MasterPasswordMode mode, QString& password) = 0;
    // True when a new master password may replace the one not entered, losing the logins
    // stored under it.
    virtual bool confirmLosingLockedLogins() = 0;
    // True when a password may be stored without encryption: there is no master password, or
    // it was not entered (locked).
    virtual bool confirmUnencryptedPassword(bool locked) = 0;

    // The "Remote Login" prompt: login's user comes in and all of it goes out; false when
    // cancelled.
    virtual bool askLogin(const LoginTarget& target, LoginAnswer& login) = 0;
    // True when the user wants to log in again after the server refused user's login.
    virtual bool retryLogin(const LoginTarget& target, const QString& user) = 0;
    // A prompt of ssh's in its own words, which name who asks (a ProxyJump host, a security
    // key's PIN): answer receives the typed secret; false when cancelled or, confirming, no. A
    // face that cannot ask declines.
    virtual bool answerSshPrompt(const QString& prompt, SshPromptKind kind, QString& answer);

    virtual FileExistsAnswer askFileExists(const QString& name) = 0;
    virtual MissingDirAnswer askMissingDir(const QString& dir) = 0;

    // True when the user trusts the identity.
    virtual bool trustIdentity(const IdentityQuestion& question) = 0;

    // Whether the other files go on after one failed with message.
    virtual ErrorAnswer continueAfterError(const QString& message) = 0;

    // Whether thumbnails are to be made of the pictures of a run.
    virtual ThumbnailAnswer offerThumbnails(ThumbnailImages images) = 0;
};

// The server a login question is about, as both faces name it: "Local FTP" (127.0.0.1).
QString serverName(const LoginTarget& target);
// What the faces tell beside "Login incorrect. Please try again.": whose login was refused.
QString refusedLogin(const LoginTarget& target, const QString& user);

// The answer of a message box closed without choosing: the cautious one.
MessageAnswer closingAnswer(MessageButtons buttons);

// The implementation in use. The program installs the one that shows real windows;
// tests install a scripted one. Not owned. Installing returns the one installed before.
// Called on another thread, dialogs() puts the question on the main thread and waits for the
// answer, so the main thread must keep its event loop running while such threads work.
Dialogs& dialogs();
Dialogs* installDialogs(Dialogs* dialogs);

} // namespace quaddle
