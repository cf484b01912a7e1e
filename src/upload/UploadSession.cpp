#include "upload/UploadSession.h"

#include "config/Config.h"
#include "platform/Error.h"
#include "upload/UploadErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSet>
#include <utility>

namespace quaddle {

UploadSession::UploadSession(ProgressEvent onProgress, StatusEvent onStatus, int serverType,
                             int overwrite, bool logTraffic, const DriverFactory& makeDriver)
    : m_overwrite(overwrite), m_onProgress(std::move(onProgress)), m_onStatus(std::move(onStatus)),
      m_keepTraffic(logTraffic), m_makeDriver(makeDriver), m_serverType(serverType) {
    m_driver = makeDriver(*this, serverType);
    if (!m_driver)
        throw Error(QStringLiteral("The server's type %1 is unknown. Please choose FTP or SFTP "
                                   "in the server settings.")
                        .arg(serverType));
}

UploadSession::~UploadSession() {
    if (m_driver)
        m_driver->abort();
}

void UploadSession::setPermissions(const QString& mode) {
    if (!isPermissionsText(mode))
        throw Error(QStringLiteral("The permissions \"%1\" of the server are no octal number "
                                   "such as 644. Please correct them in the server settings.")
                        .arg(mode));
    m_permissions = mode;
}

bool UploadSession::login(const QString& host, const QString& port, QString user, QString password,
                          const QString& keyFile) {
    m_driver->setKeyFile(keyFile);
    m_login.host = host;
    const bool asksItself = m_driver->asksForPassword();
    const auto ask = [&] {
        LoginAnswer typed{user, password, false};
        if (!dialogs().askLogin(loginTarget(!asksItself), typed))
            return false;
        user = typed.user;
        password = typed.password;
        m_typedLogin = typed;
        return true;
    };
    for (;;) {
        const bool needsPassword = password.isEmpty() && !asksItself;
        const bool needsUser = user.isEmpty() && m_driver->needsUserName();
        if ((needsUser || needsPassword) && !ask())
            return false;
        if (m_cancelled)
            return false;
        const bool loggedIn = m_driver->connect(host, port, user, password);
        // A login cut short by Cancel was not refused: nothing to report, nothing to retry.
        if (m_cancelled)
            return false;
        if (loggedIn) {
            addLog(QStringLiteral("Connected to ") + host, LogTraffic);
            m_login = {host, port, user, password, keyFile};
            rememberTypedLogin();
            return true;
        }
        if (!dialogs().retryLogin(loginTarget(false), user) || !ask())
            return false;
    }
}

void UploadSession::rememberTypedLogin() {
    if (m_typedLogin.remember && m_rememberLogin)
        m_rememberLogin(m_typedLogin.user, m_typedLogin.password);
    m_typedLogin = {};
}

bool UploadSession::enterDir(const QString& dir, bool createWithoutAsking, bool createIfMissing) {
    if (dir.isEmpty())
        return true;
    if (m_driver->changeDir(dir)) {
        m_enteredDirs.append(dir);
        return true;
    }
    // After Cancel the directory is not missing, the connection is gone: nothing to ask.
    if (m_cancelled)
        return false;
    if (!createIfMissing)
        throw Error(UploadErrors::ChangeDirFailed);
    if (!createWithoutAsking && dialogs().askMissingDir(dir) != MissingDirAnswer::Create)
        return false;
    if (!createDirPath(dir))
        return false;
    m_enteredDirs.append(dir);
    return true;
}

UploadResults UploadSession::uploadFiles(const FileList& files,
                                         const std::function<FileList()>& thumbnailsMade) {
    m_uploaded.clear();
    m_sentDigests.clear();
    m_skipped.clear();
    m_uploadedEntries.clear();
    addLog(QStringLiteral("Preparing files..."), LogTraffic);
    for (const FileEntry& entry : files) {
        if (!QFileInfo::exists(entry.path))
            throw Error(UploadErrors::fileMissing(entry.path));
        const qint64 size = localFileSize(entry.path);
        m_fileSizes.insert(entry.path, size);
        // A file that cannot be read adds nothing, so the overall share stays right.
        if (size > 0)
            m_bytesTotal += size;
    }
    addLog(QStringLiteral("Uploading %1 files...").arg(files.size()), LogTraffic);

    Counts counts;
    QList<PlannedFile> candidates;
    for (qsizetype index = 0; index < files.size(); ++index) {
        candidates.append({files[index].path, index, false, true});
        if (!files[index].thumbnail.isEmpty())
            candidates.append({files[index].thumbnail, index, true, true});
    }
    try {
        sendPlanned(planFiles(candidates, counts), counts);
        if (thumbnailsMade && !counts.stopped && !m_cancelled)
            sendThumbnailsMade(files, thumbnailsMade(), counts);
    } catch (const Error&) {
        // A lost connection leaves its file's temporary name behind, as Cancel does.
        removePartsLeft();
        throw;
    }
    logCounts(counts);
    removePartsLeft();
    m_onStatus(QString(), -1);
    return m_uploaded;
}

void UploadSession::sendThumbnailsMade(const FileList& files, const FileList& made,
                                       Counts& counts) {
    QList<PlannedFile> candidates;
    for (qsizetype index = 0; index < files.size() && index < made.size(); ++index)
        // A picture that did not go up has no line to show its thumbnail in.
        if (files[index].thumbnail.isEmpty() && !made[index].thumbnail.isEmpty() &&
            m_uploadedEntries.contains(index))
            candidates.append({made[index].thumbnail, index, true, true});
    sendPlanned(planFiles(candidates, counts), counts);
}

QList<UploadSession::PlannedFile> UploadSession::planFiles(const QList<PlannedFile>& candidates,
                                                           Counts& counts) {
    if (m_overwrite != PolicyOverwrite) {
        QStringList names;
        for (const PlannedFile& candidate : candidates)
            names.append(fileNameOf(candidate.path));
        m_driver->prefetchExistence(names);
    }
    QList<PlannedFile> plan;
    QSet<qsizetype> failedEntries;
    QSet<QString> sending;
    for (const PlannedFile& candidate : candidates) {
        if (m_cancelled)
            break;
        // A file that failed takes no thumbnail.
        if (failedEntries.contains(candidate.entry))
            continue;
        const QString name = fileNameOf(candidate.path);
        const bool twice = sending.contains(name);
        const Decision decision = twice ? Decision::Fail : planFile(candidate);
        if (decision != Decision::Fail) {
            if (decision == Decision::Send)
                sending.insert(name);
            plan.append(
                {candidate.path, candidate.entry, candidate.thumbnail, decision == Decision::Send});
            continue;
        }
        if (m_cancelled)
            break;
        failedEntries.insert(candidate.entry);
        ++(candidate.thumbnail ? counts.failedThumbnails : counts.failed);
        const QString error =
            twice ? UploadErrors::sameNameTwice(candidate.path, name) : m_driver->lastError();
        if (!candidate.thumbnail)
            reportFile(candidate.path, FileReport::Stage::Failed, error);
        if (!askIgnoreError(error)) {
            counts.stopped = true;
            break;
        }
    }
    return plan;
}

void UploadSession::sendPlanned(const QList<PlannedFile>& plan, Counts& counts) {
    QList<FileTransfer> transfers;
    QList<qsizetype> planned; // the plan's index of each transfer
    for (qsizetype index = 0; index < plan.size(); ++index) {
        if (!plan[index].send)
            continue;
        const QString name = fileNameOf(plan[index].path);
        // Visitors of the real name see the old file or the whole new one, never a cut one.
        transfers.append({plan[index].path, m_tempNames ? name + PartSuffix : name,
                          m_tempNames ? name : QString(), m_permissions});
        planned.append(index);
    }
    qsizetype recorded = 0;
    bool goOn = true;
    // The files left as they were on the server, up to end, in their places among the others.
    const auto recordSkipped = [&](qsizetype end) {
        for (; recorded < end; ++recorded)
            // One to send that was never told of did not go: it is missing.
            if (!plan[recorded].send)
                record(plan[recorded], TransferResult{}, counts);
    };
    TransferEvents events;
    events.started = [&](qsizetype index) {
        // A file sent again after its connection dropped is on its way under the same name.
        if (!transfers[index].finalName.isEmpty() &&
            !m_partsOnTheirWay.contains(transfers[index].remoteName))
            m_partsOnTheirWay.append(transfers[index].remoteName);
        const PlannedFile& file = plan[planned[index]];
        const QString connections = m_openConnections > 1
                                        ? QStringLiteral(" (%1 connections)").arg(m_openConnections)
                                        : QString();
        if (file.thumbnail) {
            m_onStatus(QStringLiteral("Uploading thumbnail...") + connections, -2);
        } else {
            reportFile(file.path, FileReport::Stage::Sending);
            m_onStatus(fileNameOf(file.path) + connections, static_cast<int>(file.entry));
        }
    };
    events.progress = [&](qsizetype index, qint64 sent) {
        showProgress(transfers[index].localPath, fileNameOf(transfers[index].localPath), sent);
    };
    events.finished = [&](qsizetype index, const TransferResult& result) {
        m_sentInFlight.remove(transfers[index].localPath);
        // A temporary name stays listed for removePartsLeft until it is known to be gone:
        // renamed, or removed over a connection that outlived the failure. Over several
        // connections the one that sent it has removed it already.
        if (result.sent || (!m_parallel && (transfers[index].finalName.isEmpty() ||
                                            discardPart(transfers[index].remoteName))))
            m_partsOnTheirWay.removeOne(transfers[index].remoteName);
        if (!result.modeError.isEmpty())
            addLog(
                QStringLiteral("Could not set the permissions %1 of %2: %3")
                    .arg(m_permissions, fileNameOf(transfers[index].localPath), result.modeError),
                LogError);
        recordSkipped(planned[index]);
        // Once the run stops, the files still on their way end all the same: each that
        // arrived is counted in its place, one that did not is merely missing.
        const PlannedFile& file = plan[recorded++];
        if (goOn || result.sent)
            goOn = record(file, result, counts) && goOn;
        return goOn && !m_cancelled;
    };
    if (m_connections > 1 && transfers.size() > 1 && m_driver->takesExtraConnections())
        sendInParallel(transfers, events);
    else
        m_driver->sendFiles(transfers, events);
    recordSkipped(goOn && !m_cancelled ? plan.size() : recorded);
    counts.stopped = counts.stopped || !goOn;
}

bool UploadSession::record(const PlannedFile& file, const TransferResult& result, Counts& counts) {
    const bool onServer = result.sent || !file.send;
    if (!onServer) {
        if (m_cancelled)
            return false;
        ++(file.thumbnail ? counts.failedThumbnails : counts.failed);
        if (!file.thumbnail)
            reportFile(file.path, FileReport::Stage::Failed, result.error);
        return askIgnoreError(UploadErrors::uploadFailed(fileNameOf(file.path), workingDirShown(),
                                                         m_login.host, m_login.port, result.error,
                                                         result.refused));
    }
    if (file.thumbnail) {
        // A picture that failed has no line to show its thumbnail in.
        const qsizetype line = m_uploadedEntries.indexOf(file.entry);
        if (line >= 0)
            m_uploaded[line].thumbnail = fileNameOf(file.path);
        return true;
    }
    ++(result.sent ? counts.uploaded : counts.skipped);
    reportFile(file.path, result.sent ? FileReport::Stage::Sent : FileReport::Stage::Skipped);
    if (!result.sent)
        m_skipped.append(m_uploaded.size());
    m_uploaded.append({fileNameOf(file.path), QString()});
    m_sentDigests.append(result.sha256);
    m_uploadedEntries.append(file.entry);
    m_bytesFinished += std::max<qint64>(0, fileSizeOf(file.path).value_or(0));
    countBytesDone();
    return true;
}

void UploadSession::logCounts(const Counts& counts) {
    addLog(QStringLiteral("%1 files uploaded.").arg(counts.uploaded), LogTraffic);
    const std::pair<int, const char*> others[] = {
        {counts.skipped, "%1 files skipped."},
        {counts.failed, "%1 files failed."},
        {counts.failedThumbnails, "%1 thumbnails failed."}};
    for (const auto& [count, text] : others)
        if (count > 0)
            addLog(QString::fromLatin1(text).arg(count), LogTraffic);
}

UploadSession::Decision UploadSession::planFile(const PlannedFile& candidate) {
    const QString& path = candidate.path;
    if (!QFileInfo::exists(path))
        throw Error(UploadErrors::fileMissing(path));
    const QString name = fileNameOf(path);
    if (m_overwrite != PolicyOverwrite && m_driver->fileExists(name)) {
        const int answer = fileExistsPolicy(path, candidate.entry, candidate.thumbnail);
        if (answer == PolicyRename && !renameExisting(name))
            return Decision::Fail;
        const QString decision = QStringLiteral(" [overwrite = %1]").arg(answer);
        if ((answer == PolicyOverwrite || answer == PolicyRename) && !m_cancelled) {
            addLog(QStringLiteral("Uploading file ") + path + decision, LogTraffic);
            return Decision::Send;
        }
        if (!m_cancelled) {
            // The file on the server stands for this one.
            addLog(QStringLiteral("Skipping ") + path + decision, LogTraffic);
            return Decision::Skip;
        }
    } else if (!m_cancelled) {
        addLog(QStringLiteral("Uploading file ") + path, LogTraffic);
        return Decision::Send;
    }
    addLog(QStringLiteral("Skipping ") + path + QStringLiteral(" [cancel]"), LogTraffic);
    return Decision::Fail;
}

bool UploadSession::discardPart(const QString& partName) {
    // Cancel has dropped the connection already.
    if (m_cancelled || !m_driver->isConnected())
        return false;
    try {
        if (m_driver->removeFile(partName))
            addLog(QStringLiteral("Removed ") + partName, LogTraffic);
    } catch (const Error&) {
        // The connection is gone; the next operation reports that.
    }
    return m_driver->isConnected();
}

bool UploadSession::renameExisting(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? name : name.left(dot);
    const QString extension = dot < 0 ? QString() : name.mid(dot);
    QString candidate;
    for (int n = 1;; ++n) {
        candidate = base + QLatin1Char('_') + zeroPad(QString::number(n), 3) + extension;
        // Past 999 the next name is taken without asking the server.
        if (m_cancelled || n > 999 || !m_driver->fileExists(candidate))
            break;
    }
    if (m_cancelled || !m_driver->renameFile(name, candidate))
        return false;
    m_renamedFiles.append({name, candidate});
    return true;
}

bool UploadSession::createDirPath(const QString& path) {
    const bool absolute = path.startsWith(QLatin1Char('/'));
    qsizetype start = path.startsWith(QLatin1String("./")) ? 2 : (absolute ? 1 : 0);
    while (!m_cancelled && start < path.size()) {
        qsizetype end = path.indexOf(QLatin1Char('/'), start);
        if (end < 0)
            end = path.size();
        QString segment = path.mid(start, end - start);
        if (absolute && start == 1)
            segment.prepend(QLatin1Char('/'));
        // An empty segment, from a doubled "/", names no directory of its own.
        if (!segment.isEmpty() && segment != QLatin1String("/") && !m_driver->changeDir(segment) &&
            (!m_driver->makeDir(segment) || !m_driver->changeDir(segment)))
            throw Error(UploadErrors::makeDirFailed(segment, m_login.host, m_login.port,
                                                    m_driver->lastError()));
        start = end + 1;
    }
    return true;
}

int UploadSession::fileExistsPolicy(const QString& path, qsizetype entry, bool thumbnail) {
    if (m_overwrite != PolicyAsk)
        return m_overwrite;
    if (thumbnail && m_entryAnswers.contains(entry))
        return m_entryAnswers.value(entry);
    const int answer = askFileExists(fileNameOf(path));
    if (!thumbnail)
        m_entryAnswers.insert(entry, answer);
    return answer;
}

int UploadSession::askFileExists(const QString& name) {
    const FileExistsAnswer answer = dialogs().askFileExists(name);
    const int policy = answer.choice == FileExistsChoice::Overwrite ? PolicyOverwrite
                       : answer.choice == FileExistsChoice::Rename  ? PolicyRename
                                                                    : PolicySkip;
    if (answer.remember)
        m_overwrite = policy;
    return policy;
}

bool UploadSession::askIgnoreError(const QString& message) {
    addLog(message, LogError);
    if (m_cancelled)
        return false;
    const ErrorAnswer answer = dialogs().continueAfterError(message);
    m_serverEditWanted = m_serverEditWanted || answer == ErrorAnswer::EditServer;
    return answer == ErrorAnswer::Continue;
}

QString UploadSession::workingDirShown() const {
    QString shown;
    for (const QString& dir : m_enteredDirs)
        shown = shown.isEmpty() || dir.startsWith(QLatin1Char('/')) ? dir : shown + u'/' + dir;
    return shown.isEmpty() ? QStringLiteral("(where the login starts)") : QDir::cleanPath(shown);
}

void UploadSession::cancel() {
    addLog(QStringLiteral("CANCEL"), LogCancel);
    m_cancelled = true;
    // A file moving to its real name ends the move; the connection ends with the session.
    if (!m_inLastStep)
        m_driver->abort();
    cancelExtraConnections();
}

bool UploadSession::lastStep(const std::function<bool()>& step) {
    m_inLastStep = true;
    const auto after = qScopeGuard([this] { m_inLastStep = false; });
    return step();
}

void UploadSession::addLog(const QString& text, int level) {
    if (m_logTarget)
        m_logTarget->appendLog(m_logPrefix + text, level);
    else
        appendLog(m_logPrefix + text, level);
}

void UploadSession::appendLog(const QString& text, int level) {
    if (level <= LogCancel && !m_keepTraffic)
        return;
    const QMutexLocker locker(&m_logLock);
    if (m_logCut)
        return;
    QString line = text + QLatin1Char('\t') + QString::number(level);
    m_logSize += line.size() + LogLineCost;
    if (m_logSize <= LogBudget) {
        m_logLines.append(std::move(line));
        return;
    }
    // A server that never stops talking must not fill the memory.
    m_logCut = true;
    m_logLines.append(
        QStringLiteral("The log is cut here: it grew too long to keep more lines.\t") +
        QString::number(LogError));
}

QStringList UploadSession::logLines() const {
    const QMutexLocker locker(&m_logLock);
    return m_logLines;
}

std::optional<qint64> UploadSession::fileSizeOf(const QString& localPath) const {
    const auto found = m_fileSizes.constFind(localPath);
    if (found == m_fileSizes.constEnd())
        return std::nullopt;
    return *found;
}

void UploadSession::reportProgress(const QString& localPath, const QString& remoteName,
                                   qint64 sent) {
    showProgress(localPath, shownName(remoteName), sent);
}

void UploadSession::showProgress(const QString& localPath, const QString& shown, qint64 sent) {
    const std::optional<qint64> size = fileSizeOf(localPath);
    // Thumbnails are not among the run's bytes.
    if (!size) {
        m_onProgress(shown, 0, sent);
        return;
    }
    m_sentInFlight.insert(localPath, sent);
    m_onFile({localPath, FileReport::Stage::Sending, sent, *size, {}});
    // Files of one size take turns by name, so the bar follows one of them to its end.
    bool largest = true;
    for (auto file = m_sentInFlight.cbegin(); file != m_sentInFlight.cend(); ++file) {
        const qint64 other = fileSizeOf(file.key()).value_or(0);
        largest = largest && (other < *size || (other == *size && file.key() >= localPath));
    }
    countBytesDone();
    // With several files on their way, the file's bar follows the largest of them.
    if (largest)
        m_onProgress(shown, *size, sent);
}

void UploadSession::reportFile(const QString& path, FileReport::Stage stage,
                               const QString& reason) {
    const qint64 size = std::max<qint64>(0, fileSizeOf(path).value_or(0));
    m_onFile({path, stage, stage == FileReport::Stage::Sent ? size : 0, size, reason});
}

void UploadSession::countBytesDone() {
    // The files still on their way over other connections count too.
    qint64 inFlight = 0;
    for (const qint64 sent : std::as_const(m_sentInFlight))
        inFlight += sent;
    m_bytesDone = m_bytesFinished + inFlight;
}

qint64 UploadSession::localFileSize(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.size() : -1;
}

QString UploadSession::zeroPad(const QString& text, int width) {
    return text.rightJustified(width, QLatin1Char('0'));
}

} // namespace quaddle
