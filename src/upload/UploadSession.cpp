#include "upload/UploadSession.h"

#include "platform/Error.h"
#include "upload/UploadErrors.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace quaddle {

TUpload::TUpload(TProgressEvent onProgress, TStatusEvent onStatus, int serverType, int overwrite,
                 bool logTraffic, const TDriverFactory& makeDriver)
    : Overwrite(overwrite), OnProgress(std::move(onProgress)), OnStatus(std::move(onStatus)),
      KeepTraffic(logTraffic) {
    Protokoll_ = makeDriver(*this, serverType);
    if (!Protokoll_)
        throw TError(QStringLiteral("The server's type %1 is unknown. Please choose FTP or SFTP "
                                    "in the server settings.")
                         .arg(serverType));
}

TUpload::~TUpload() {
    if (Protokoll_)
        Protokoll_->Abort();
}

bool TUpload::Login(const QString& host, const QString& port, QString user, QString password) {
    for (;;) {
        if ((user.isEmpty() || password.isEmpty()) && !Dialogs().AskLogin(user, password))
            return false;
        if (Protokoll_->Connect(host, port, user, password)) {
            AddLog(QStringLiteral("Connected to ") + host, LogTraffic);
            return true;
        }
        const TMsgAnswer retry =
            Dialogs().ShowMessage(QStringLiteral("Login incorrect. Please try again."),
                                  TMsgKind::Error, TMsgButtons::OkAbort);
        if (retry != TMsgAnswer::Ok || !Dialogs().AskLogin(user, password))
            return false;
    }
}

bool TUpload::EnterDir(const QString& dir, bool createWithoutAsking, bool createIfMissing) {
    if (dir.isEmpty())
        return true;
    if (Protokoll_->ChangeDir(dir))
        return true;
    // After Cancel the directory is not missing, the connection is gone: nothing to ask.
    if (Cancelled_)
        return false;
    if (!createIfMissing)
        throw TError(UploadErrors::ChangeDirFailed);
    if (!createWithoutAsking && AskUser(TAskMode::Directory, dir) != PolicyOverwrite)
        return false;
    return CreateDirPath(dir);
}

TUploadResults TUpload::UploadFiles(const TFileList& files) {
    TUploadResults results;
    AddLog(QStringLiteral("Preparing files..."), LogTraffic);
    for (const TFileEntry& entry : files) {
        if (!QFileInfo::exists(entry.Path))
            throw TError(UploadErrors::FileMissing);
        const qint64 size = LocalFileSize(entry.Path);
        FileSizes.insert(entry.Path, size);
        // A file that cannot be read adds nothing, so the overall share stays right.
        if (size > 0)
            BytesTotal_ += size;
    }
    AddLog(QStringLiteral("Uploading %1 files...").arg(files.size()), LogTraffic);

    qsizetype processed = 0;
    for (; processed < files.size(); ++processed) {
        const TFileEntry& entry = files[processed];
        OnStatus(FileNameOf(entry.Path), static_cast<int>(processed));
        if (!UploadFile(entry.Path)) {
            if (Cancelled_ || !AskIgnoreError(Protokoll_->LastError()))
                break;
            continue;
        }
        results.append({FileNameOf(entry.Path), QString()});
        if (Cancelled_)
            break;
        if (!entry.Thumbnail.isEmpty()) {
            OnStatus(QStringLiteral("Uploading thumbnail..."), -2);
            if (UploadFile(entry.Thumbnail))
                results.last().Thumbnail = FileNameOf(entry.Thumbnail);
        }
        BytesFinished += std::max<qint64>(0, FileSizeOf(entry.Path).value_or(0));
    }
    AddLog(QStringLiteral("%1 files uploaded.").arg(processed), LogTraffic);
    OnStatus(QString(), -1);
    return results;
}

bool TUpload::UploadFile(const QString& path) {
    if (!QFileInfo::exists(path))
        throw TError(UploadErrors::FileMissing);
    const QString name = FileNameOf(path);
    if (Overwrite != PolicyOverwrite && Protokoll_->FileExists(name)) {
        const int answer = Overwrite == PolicyAsk ? AskUser(TAskMode::File, name) : Overwrite;
        if (answer == PolicyRename && !RenameExisting(name))
            return false;
        const QString decision = QStringLiteral(" [overwrite = %1]").arg(answer);
        if ((answer == PolicyOverwrite || answer == PolicyRename) && !Cancelled_) {
            AddLog(QStringLiteral("Uploading file ") + path + decision, LogTraffic);
            return Protokoll_->PutFile(path);
        }
        if (!Cancelled_) {
            // The file on the server stands for this one.
            AddLog(QStringLiteral("Skipping ") + path + decision, LogTraffic);
            return true;
        }
    } else if (!Cancelled_) {
        AddLog(QStringLiteral("Uploading file ") + path, LogTraffic);
        return Protokoll_->PutFile(path);
    }
    AddLog(QStringLiteral("Skipping ") + path + QStringLiteral(" [cancel]"), LogTraffic);
    return false;
}

bool TUpload::RenameExisting(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    QString candidate;
    for (int n = 1;; ++n) {
        candidate = base + QLatin1Char('_') + ZeroPad(QString::number(n), 3) + extension;
        // Past 999 the next name is taken without asking the server.
        if (Cancelled_ || n > 999 || !Protokoll_->FileExists(candidate))
            break;
    }
    if (Cancelled_ || !Protokoll_->RenameFile(name, candidate))
        return false;
    RenamedFiles_.append({name, candidate});
    return true;
}

bool TUpload::CreateDirPath(const QString& path) {
    const bool absolute = path.startsWith(QLatin1Char('/'));
    qsizetype start = path.startsWith(QLatin1String("./")) ? 2 : (absolute ? 1 : 0);
    while (!Cancelled_ && start < path.size()) {
        qsizetype end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = path.size();
        QString segment = path.mid(start, end - start);
        if (absolute && start == 1)
            segment.prepend(QLatin1Char('/'));
        // An empty segment, from a doubled "/", names no directory of its own.
        if (!segment.isEmpty() && segment != QLatin1String("/") &&
            !Protokoll_->ChangeDir(segment) &&
            (!Protokoll_->MakeDir(segment) || !Protokoll_->ChangeDir(segment)))
            throw TError(UploadErrors::MakeDirFailed);
        start = end + 1;
    }
    return true;
}

int TUpload::AskUser(TAskMode mode, const QString& name) {
    const int answer = Dialogs().AskUser(mode, name);
    const int withoutRemember = answer & ~RememberBit;
    if (answer & RememberBit)
        Overwrite = withoutRemember;
    return withoutRemember;
}

bool TUpload::AskIgnoreError(const QString& message) {
    AddLog(message, LogError);
    if (Cancelled_)
        return false;
    const QString question = QStringLiteral("An error occured: ") + LineBreak + message +
                             LineBreak + QStringLiteral("Ignore and continue?");
    return Dialogs().ShowMessage(question, TMsgKind::Error, TMsgButtons::YesNo) == TMsgAnswer::Yes;
}

void TUpload::Cancel() {
    AddLog(QStringLiteral("CANCEL"), LogCancel);
    Cancelled_ = true;
    Protokoll_->Abort();
}

void TUpload::AddLog(const QString& text, int level) {
    if (level <= LogCancel && !KeepTraffic)
        return;
    const QMutexLocker locker(&LogLock);
    LogLines_.append(text + QLatin1Char('\t') + QString::number(level));
}

QStringList TUpload::LogLines() const {
    const QMutexLocker locker(&LogLock);
    return LogLines_;
}

std::optional<qint64> TUpload::FileSizeOf(const QString& localPath) const {
    const auto found = FileSizes.constFind(localPath);
    if (found == FileSizes.constEnd())
        return std::nullopt;
    return *found;
}

void TUpload::ReportProgress(const QString& localPath, const QString& remoteName, qint64 sent) {
    const std::optional<qint64> size = FileSizeOf(localPath);
    if (size)
        BytesDone_ = BytesFinished + sent;
    OnProgress(remoteName, size.value_or(0), sent);
}

qint64 TUpload::LocalFileSize(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.size() : -1;
}

QString TUpload::ZeroPad(const QString& text, int width) {
    return text.rightJustified(width, QLatin1Char('0'));
}

} // namespace quaddle
