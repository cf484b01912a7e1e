#include "upload/SftpDriver.h"

#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "upload/UploadSession.h"
#include "upload/UploadErrors.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTimer>

namespace quaddle {

namespace {

constexpr int TimeoutRounds = 200; // of 150 ms: 30 seconds
constexpr int NoTimeout = -1;
constexpr int LoggedIn = 2;

const QString Prompt = QStringLiteral("psftp> ");

// psftp's answers, as it prints them after its prompt.
// Newer releases also say why a rename failed.
const QRegularExpression
    RenameFailed(QStringLiteral("^psftp> mv (.+?): (failure|no such file or directory)$"));
const QRegularExpression Renamed(QStringLiteral("^psftp> (.+?) -> (.+?)$"));
const QRegularExpression PromptAlone(QStringLiteral("^psftp> $"));
const QRegularExpression ListingHeader(QStringLiteral("^psftp> Listing directory (.+?)$"));
const QRegularExpression MadeDir(QStringLiteral("^psftp> mkdir (.+?): (.+?)$"));
const QRegularExpression Put(QStringLiteral("^psftp> local:(.+?) => remote:(.+?)$"));
const QRegularExpression
    NoSuchDir(QStringLiteral("^psftp> Directory (.+?): no such file or directory$"));
const QRegularExpression DirIsNow(QStringLiteral("^psftp> Remote directory is now (.+?)$"));
const QRegularExpression WorkingDir(QStringLiteral("^Remote working directory is (.+?)$"));
const QRegularExpression
    WorkingDirAfterKey(QStringLiteral("^.+? Remote working directory is .+?$"));
// Older releases name only rsa2 keys; newer ones every key type.
const QRegularExpression Fingerprint(QStringLiteral("^The server's .+ key fingerprint is:$"));
// The question's wording grew over releases; its beginning stayed.
const QRegularExpression StoreKey(QStringLiteral("^Store key in cache\\? \\(y/n"));
const QRegularExpression PermissionDenied(QStringLiteral(": permission denied$"));
// At login it begins the line; during a command it follows the prompt psftp printed before.
const QRegularExpression Fatal(QStringLiteral("^(psftp> )?(Fatal:|FATAL ERROR:)"));

bool HasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// psftp splits its commands at blanks; a quoted argument, with its quotes doubled, is one.
QString Quoted(QString argument) {
    argument.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + argument + QLatin1Char('"');
}

// A short wait that keeps the window alive.
void PauseWithEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

TUploadSFTP::TUploadSFTP(TUpload& session, QString psftp)
    : TUploadProtokoll(session), Psftp(std::move(psftp)) {
    Runner.OnNewLine = [this](const QString& line, TOutputType type) { NewLine(line, type); };
    // psftp gone without an answer (connection refused, crash): the wait ends at once.
    Runner.OnExit = [this] {
        Exited = true;
        if (!Answered) {
            SetErrorText(LastLine);
            GiveAnswer(Failure);
        }
    };
}

TUploadSFTP::~TUploadSFTP() {
    Abort();
}

void TUploadSFTP::Abort() {
    Answer = Failure;
    Answered.store(true, std::memory_order_release);
    Runner.StopProcess();
}

bool TUploadSFTP::Connect(const QString& host, const QString&, const QString& user,
                          const QString& password) {
    State = 1;
    Answered = false;
    Answer = Failure;
    Exited = false;
    FatalSeen = false;
    if (Psftp.isEmpty())
        throw TError(UploadErrors::HelperMissing);
    // The password goes in a file only the user can read, never on the command line, which
    // every local user can see in the process list.
    PasswordStore = std::make_unique<QTemporaryFile>();
    if (!PasswordStore->open() || PasswordStore->write(password.toLocal8Bit() + '\n') < 0 ||
        !PasswordStore->flush())
        throw TError(QStringLiteral("Cannot write a temporary file: ") +
                     PasswordStore->errorString());
    Runner.CommandLine = {
        Psftp, QStringLiteral("-pwfile"), PasswordStore->fileName(), QStringLiteral("-l"), user,
        host};
    try {
        Runner.StartProcess();
    } catch (const TCreateProcessError&) {
        PasswordStore.reset();
        throw TError(UploadErrors::HelperMissing);
    }

    int result = WaitForAnswer(TimeoutRounds);
    if (result == UnknownHostKey) {
        const QString question =
            AppName + QStringLiteral(" does not recognize the server's host key.") +
            QStringLiteral(" If this is the first time you are connecting to this server,") +
            QStringLiteral(" you should click OK to save the key.") +
            QStringLiteral(" If you think you server might be compromised, click Cancel to "
                           "abort the upload.") +
            LineBreak + QStringLiteral("The server's rsa2 key fingerprint is:") + LineBreak +
            [this] {
                const QMutexLocker lock(&Shared);
                return HostKey;
            }();
        if (Dialogs().ShowMessage(question, TMsgKind::Confirmation, TMsgButtons::OkCancel) ==
            TMsgAnswer::Ok) {
            ++State;
            result = SendCommand(QStringLiteral("y"), TimeoutRounds);
        } else {
            result = Failure;
        }
    }
    PasswordStore.reset();
    if (result != Success)
        Runner.StopProcess();
    return result == Success;
}

bool TUploadSFTP::ChangeDir(const QString& dir) {
    State = 35;
    if (SendCommand(QStringLiteral("cd ") + Quoted(dir), TimeoutRounds) == Success)
        return true;
    // psftp ended during cd (the network went): no missing directory to offer to create.
    if (!Session.Cancelled() && Gone())
        throw TError(UploadErrors::ConnectionLost);
    return false;
}

bool TUploadSFTP::FileExists(const QString& name) {
    State = 40;
    {
        const QMutexLocker lock(&Shared);
        ProbeName = name;
        if (!Listing.isEmpty())
            return ListingHas(name);
    }
    return SendCommand(QStringLiteral("dir"), TimeoutRounds) == Success;
}

bool TUploadSFTP::MakeDir(const QString& dir) {
    State = 30;
    return SendCommand(QStringLiteral("mkdir ") + Quoted(dir), TimeoutRounds) == Success;
}

bool TUploadSFTP::PutFile(const QString& localPath) {
    State = 20;
    const bool stored =
        SendCommand(QStringLiteral("put ") + Quoted(localPath), NoTimeout) == Success;
    if (stored) {
        // The listing was taken before; it must know what this session added.
        const QMutexLocker lock(&Shared);
        Listing.append(QLatin1Char(' ') + FileNameOf(localPath));
    }
    return stored;
}

bool TUploadSFTP::RenameFile(const QString& oldName, const QString& newName) {
    State = 50;
    const bool renamed =
        SendCommand(QStringLiteral("ren ") + Quoted(oldName) + QLatin1Char(' ') + Quoted(newName),
                    TimeoutRounds) == Success;
    if (renamed) {
        const QMutexLocker lock(&Shared);
        Listing.append(QLatin1Char(' ') + newName);
    }
    return renamed;
}

QString TUploadSFTP::LastError() {
    const QMutexLocker lock(&Shared);
    QString error = ErrorText.isEmpty() ? QStringLiteral("No error message available.") : ErrorText;
    if (!ProbeName.isEmpty())
        error += QStringLiteral(" (while uploading file \"") + ProbeName + QStringLiteral("\")");
    return error;
}

int TUploadSFTP::WaitForAnswer(int limit) {
    for (int rounds = 0; !Answered.load(std::memory_order_acquire);) {
        for (int i = 0; i < 3 && !Answered.load(std::memory_order_acquire); ++i)
            PauseWithEvents(50);
        if (++rounds == limit) {
            Session.AddLog(QStringLiteral("Time-out, aborting..."), LogError);
            Session.Cancel();
            break;
        }
        if (Session.Cancelled())
            break;
    }
    const int result = Answer;
    Answer = Failure;
    Answered = false;
    if (result == Unexpected)
        throw TError(UploadErrors::UnexpectedResponse);
    return result;
}

int TUploadSFTP::SendCommand(const QString& text, int limit) {
    if (Session.Cancelled())
        return -1;
    // A line break would end the command early and start another one.
    if (HasLineBreak(text)) {
        SetErrorText(QStringLiteral("The name contains a line break, which cannot be sent to "
                                    "the server."));
        return Failure;
    }
    // Without psftp every further command would fail, each asked about on its own.
    if (Gone())
        throw TError(UploadErrors::ConnectionLost);
    Runner.SendInput(text, true);
    return WaitForAnswer(limit);
}

void TUploadSFTP::NewLine(const QString& line, TOutputType type) {
    Session.AddLog(line + QLatin1Char('|') + QString::number(State), LogTraffic);
    {
        const QMutexLocker lock(&Shared);
        LastLine = line;
    }
    if (!Answered.load(std::memory_order_acquire))
        HandleLine(line, type);
}

void TUploadSFTP::GiveAnswer(int answer) {
    Answer = answer;
    Answered.store(true, std::memory_order_release);
}

void TUploadSFTP::SetErrorText(const QString& text) {
    const QMutexLocker lock(&Shared);
    ErrorText = text;
}

bool TUploadSFTP::ListingHas(const QString& name) const {
    // Compared literally: a name may hold characters that mean something in a pattern.
    const QString ending = QLatin1Char(' ') + name;
    return std::any_of(Listing.begin(), Listing.end(),
                       [&](const QString& line) { return line.endsWith(ending); });
}

void TUploadSFTP::HandleLine(const QString& line, TOutputType type) {
    const int state = State;
    if (state == 50 && RenameFailed.match(line).hasMatch()) {
        SetErrorText(QStringLiteral("Renaming file failed."));
        GiveAnswer(Failure);
    } else if (state == 50 && Renamed.match(line).hasMatch()) {
        GiveAnswer(Success);
    } else if (state == 41) {
        if (PromptAlone.match(line).hasMatch()) {
            Answered.store(true, std::memory_order_release);
            return;
        }
        // A piece of a line could end in the probed name and still name another file.
        if (type != TOutputType::EntireLine)
            return;
        const QMutexLocker lock(&Shared);
        Listing.append(line);
        if (line.endsWith(QLatin1Char(' ') + ProbeName))
            Answer = Success;
    } else if (state == 40 && ListingHeader.match(line).hasMatch()) {
        State = 41;
    } else if (const QRegularExpressionMatch made = MadeDir.match(line);
               state == 30 && made.hasMatch()) {
        GiveAnswer(made.captured(2) == QLatin1String("OK") ? Success : Failure);
    } else if (state == 20 && Put.match(line).hasMatch()) {
        State = 21;
        GiveAnswer(Success);
    } else if (state == 35 && NoSuchDir.match(line).hasMatch()) {
        SetErrorText(QStringLiteral("Directory does not exist."));
        State = 36;
        GiveAnswer(Failure);
    } else if ((state == LoggedIn || state == 35) && DirIsNow.match(line).hasMatch()) {
        State = state + 1;
        GiveAnswer(Success);
    } else if ((state == 1 || state == 7) && WorkingDir.match(line).hasMatch()) {
        // After "y" newer releases print the working directory on a line of its own.
        State = state == 1 ? LoggedIn : 8;
        GiveAnswer(Success);
    } else if (state == 7 && WorkingDirAfterKey.match(line).hasMatch()) {
        State = 8;
        GiveAnswer(Success);
    } else if (state == 7 && line.contains(QLatin1String("Using username \""))) {
        return;
    } else if ((state == 1 || state == 7) && line == QLatin1String("Access denied")) {
        // After a stored key a wrong password is no unexpected answer either.
        SetErrorText(QStringLiteral("Login incorrect."));
        GiveAnswer(Failure);
    } else if (state == 1 && Fingerprint.match(line).hasMatch()) {
        State = 5;
    } else if (state == 5) {
        // psftp writes its questions unbuffered, so a line may come in pieces; the key is
        // the whole line after the header.
        if (type != TOutputType::EntireLine || Fingerprint.match(line).hasMatch())
            return;
        State = 6;
        const QMutexLocker lock(&Shared);
        HostKey = line;
    } else if (state == 6) {
        if (StoreKey.match(line).hasMatch())
            GiveAnswer(UnknownHostKey);
    } else if (PermissionDenied.match(line).hasMatch()) {
        SetErrorText(QStringLiteral("Permission denied."));
        GiveAnswer(Failure);
    } else if (Fatal.match(line).hasMatch()) {
        SetErrorText(line);
        FatalSeen = true;
        GiveAnswer(Failure);
    } else if (state > 1 && line != Prompt && type == TOutputType::EntireLine) {
        // Only a whole line can be judged unexpected: a piece may still become an answer.
        Session.AddLog(line, LogError);
        GiveAnswer(Unexpected);
    }
}

} // namespace quaddle
