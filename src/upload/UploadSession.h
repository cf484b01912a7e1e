#pragma once

#include "config/FileList.h"
#include "platform/Dialogs.h"
#include "upload/ProtocolDriver.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace quaddle {

// What to do with a file that exists on the server already.
enum OverwritePolicy : int {
    PolicyAsk = 0,
    PolicyOverwrite = 1,
    PolicyRename = 2,
    PolicySkip = 128
};

// Log levels: protocol traffic and progress, the cancel notice, errors.
enum LogLevel : int { LogTraffic = 0, LogCancel = 1, LogError = 2 };

// Which file is being sent: index >= 0 the file at that place in the list, -2 its thumbnail,
// -1 the end of the run.
using StatusEvent = std::function<void(const QString& text, int index)>;
// Progress of the current file: remote name, size (0 when unknown) and bytes sent.
using ProgressEvent = std::function<void(const QString& name, qint64 size, qint64 sent)>;
// Where one of the files given to uploadFiles stands: on its way (sent of size bytes), on the
// server, left as it was there, or failed (reason says why).
struct FileReport {
    enum class Stage { Sending, Sent, Skipped, Failed };
    QString path;
    Stage stage = Stage::Sending;
    qint64 sent = 0;
    qint64 size = 0;
    QString reason;
};
using FileEvent = std::function<void(const FileReport& report)>;

class UploadSession;
// Makes the driver for a server type; nothing for a type without one.
using DriverFactory =
    std::function<std::unique_ptr<ProtocolDriver>(UploadSession& session, int serverType)>;

// One upload run, from login to the list of uploaded names: the existing-file policy, the
// questions to the user, the byte counters behind the progress display and the log.
class UploadSession {
public:
    // Throws Error when there is no driver for serverType. logTraffic: keep log entries
    // below the error level (the setting "Log").
    UploadSession(ProgressEvent onProgress, StatusEvent onStatus, int serverType, int overwrite,
                  bool logTraffic, const DriverFactory& makeDriver);
    ~UploadSession();
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    ProtocolDriver& driver() { return *m_driver; }

    // Octal permissions such as 644 for every uploaded file; empty leaves them as the server
    // makes them. Throws Error for anything but three or four octal digits.
    void setPermissions(const QString& mode);
    // The most connections a batch of files may use, for drivers that take extra ones.
    void setConnections(int count) { m_connections = std::max(1, count); }
    // Told of every file's stage, of each file's every step; thumbnails are not told of.
    void setFileEvent(FileEvent event) { m_onFile = std::move(event); }
    // Each file goes up as NAME.part and takes its real name only once complete.
    void setTempNames(bool on) { m_tempNames = on; }
    // What a file goes up as while temporary names are on: its name and this.
    static inline const QString PartSuffix = QStringLiteral(".part");

    // The server's name, which the login prompt shows beside the host.
    void setServerName(const QString& name) { m_serverName = name; }
    // Called once a login succeeded with a password the user asked to have remembered.
    void setRememberLogin(std::function<void(const QString& user, const QString& password)> store) {
        m_rememberLogin = std::move(store);
    }
    // For the login prompt: this session's server; offerRemember for a password (not a
    // passphrase) that may be stored with it.
    LoginTarget loginTarget(bool offerRemember) const {
        return {m_serverName, m_login.host, offerRemember};
    }
    // For drivers that ask for the password themselves: what the user typed, to be remembered
    // once the login succeeds when so asked.
    void typedLogin(const LoginAnswer& login) { m_typedLogin = login; }

    // keyFile: a private key for the drivers that use one; empty for none.
    bool login(const QString& host, const QString& port, QString user, QString password,
               const QString& keyFile = QString());
    bool enterDir(const QString& dir, bool createWithoutAsking, bool createIfMissing);
    // thumbnailsMade: for thumbnails still being made when the run begins; it is called once
    // every file has gone, waits for them, and returns the files with them, and they go last.
    UploadResults uploadFiles(const FileList& files,
                              const std::function<FileList()>& thumbnailsMade = {});
    // The files uploadFiles has put on the server so far, in their order: all that arrived,
    // also when it threw or the run was cancelled or stopped.
    const UploadResults& uploadedFiles() const { return m_uploaded; }
    // The places in uploadedFiles() of the files left as they were on the server.
    const QList<qsizetype>& skippedFiles() const { return m_skipped; }
    // The SHA-256 of what was sent of each of uploadedFiles(), as lower-case hex; empty for a
    // file left as it was and where the driver could not tell.
    const QStringList& sentDigests() const { return m_sentDigests; }
    void cancel();
    bool cancelled() const { return m_cancelled; }
    // For drivers: runs a file's last, short step, its move to its real name. Cancel meanwhile
    // lets it end, so that a file that reached its real name is told as sent.
    bool lastStep(const std::function<bool()>& step);

    // Safe to call from any thread. Past LogBudget (characters, LogLineCost more for each line)
    // the log keeps no more lines, and says once that it was cut.
    void addLog(const QString& text, int level);
    static constexpr qsizetype LogBudget = qsizetype(8) << 20;
    static constexpr qsizetype LogLineCost = 32;
    QStringList logLines() const;
    const RenamedFiles& renamedFiles() const { return m_renamedFiles; }

    // For drivers: bytes of the current file sent so far. Updates the overall count and
    // reports the progress under the file's remote name (its real one, also while it goes up
    // under a temporary name).
    void reportProgress(const QString& localPath, const QString& remoteName, qint64 sent);
    void reportFileStart(const QString& remoteName) { m_onProgress(shownName(remoteName), 0, 0); }

    qint64 bytesDone() const { return m_bytesDone; }
    qint64 bytesTotal() const { return m_bytesTotal; }

    // Logs message as an error and asks whether to go on; false when cancelled, or when the
    // user stops to edit the server.
    bool askIgnoreError(const QString& message);
    // Whether the user stopped at an error to mend the server's settings.
    bool serverEditWanted() const { return m_serverEditWanted; }

    // The size of a local file, -1 when it cannot be opened for reading.
    static qint64 localFileSize(const QString& path);
    static QString zeroPad(const QString& text, int width);

private:
    // What becomes of a file: sent, left as it is on the server (it counts as skipped), or
    // failed already (told through lastError).
    enum class Decision { Send, Skip, Fail };
    struct Counts {
        int uploaded = 0;
        int skipped = 0;
        int failed = 0;
        int failedThumbnails = 0;
        bool stopped = false; // the user chose to stop at a file that failed
    };

    QString shownName(const QString& remoteName) const {
        return m_tempNames && remoteName.endsWith(PartSuffix)
                   ? remoteName.chopped(PartSuffix.size())
                   : remoteName;
    }
    // A file to send, or one the server has already, in the order they are given.
    struct PlannedFile {
        QString path;
        qsizetype entry;
        bool thumbnail;
        bool send;
    };

    // Decides for each file, asking where the policy says so, what becomes of it.
    QList<PlannedFile> planFiles(const QList<PlannedFile>& candidates, Counts& counts);
    // Sends the thumbnails made while the files went, of those pictures that went.
    void sendThumbnailsMade(const FileList& files, const FileList& made, Counts& counts);
    Decision planFile(const PlannedFile& candidate);
    void sendPlanned(const QList<PlannedFile>& plan, Counts& counts);
    // Counts how a planned file ended and keeps its name; false when the run stops here.
    bool record(const PlannedFile& file, const TransferResult& result, Counts& counts);
    void logCounts(const Counts& counts);
    // Removes a temporary name over this session's connection; false when the connection is
    // gone, so the name may be left on the server.
    bool discardPart(const QString& partName);
    // Sends one file with this session's driver; discards its temporary name if it failed.
    // dropped tells whether the connection is gone after it.
    TransferResult sendOne(const FileTransfer& transfer, bool& dropped);
    // Whether a file that sendOne sent may have left its temporary name on the server.
    static bool partLeftBy(const FileTransfer& transfer, const TransferResult& result,
                           bool dropped);
    // Counts the bytes of the file at localPath sent so far and shows them under the name
    // shown.
    void showProgress(const QString& localPath, const QString& shown, qint64 sent);
    void countBytesDone();
    void reportFile(const QString& path, FileReport::Stage stage, const QString& reason = {});

    // Spreads the batch over this connection and extra ones (ParallelUpload.cpp).
    struct ParallelRun;
    void sendInParallel(const QList<FileTransfer>& transfers, const TransferEvents& events);
    // Sends the file at index over this connection; false once it dropped.
    bool sendOwnShare(qsizetype index, ParallelRun& run);
    // On a thread of its own: an extra connection that logs in like this session and sends
    // files of the run until none are left.
    void runExtraConnection(int number, ParallelRun& run);
    // Makes this session, made for another connection of main, log in and work as main, its log
    // lines going to main's after logPrefix.
    void followSession(const UploadSession& main, const QString& logPrefix);
    // After Cancel or a lost connection: removes over a short connection of its own the
    // temporary names that were on their way, where the driver can log in again without
    // asking anything.
    void removePartsLeft();
    static constexpr int PartRemovalTimeoutMs = 5000;
    // Logs in and enters the folders as main did, without asking anything; false when refused.
    bool connectLike(const UploadSession& main);
    void cancelExtraConnections();
    void appendLog(const QString& text, int level);
    bool renameExisting(const QString& name);
    bool createDirPath(const QString& path);
    // Hands a password the user asked to have remembered to whoever stores it.
    void rememberTypedLogin();
    // The policy for this clash; the one for the rest of the session too when so asked.
    int askFileExists(const QString& name);
    // The policy for path of entry: a thumbnail takes its picture's answer, asked only when
    // the picture was not asked about.
    int fileExistsPolicy(const QString& path, qsizetype entry, bool thumbnail);
    std::optional<qint64> fileSizeOf(const QString& localPath) const;
    // The folder the files go to, as the user set it, for messages.
    QString workingDirShown() const;

    std::unique_ptr<ProtocolDriver> m_driver;
    int m_overwrite;
    QString m_permissions;
    bool m_tempNames = false;
    ProgressEvent m_onProgress;
    StatusEvent m_onStatus;
    FileEvent m_onFile = [](const FileReport&) {};
    RenamedFiles m_renamedFiles;
    UploadResults m_uploaded;
    QList<qsizetype> m_skipped;
    QStringList m_sentDigests;
    mutable QMutex m_logLock;
    QStringList m_logLines;
    qsizetype m_logSize = 0;
    bool m_logCut = false;
    const bool m_keepTraffic;
    qint64 m_bytesDone = 0;
    qint64 m_bytesFinished = 0;
    qint64 m_bytesTotal = 0;
    QHash<QString, qint64> m_fileSizes;
    // The temporary names of the files on their way, to remove after Cancel.
    QStringList m_partsOnTheirWay;
    // Bytes sent so far of the files on their way, by local path.
    QHash<QString, qint64> m_sentInFlight;
    // Which of the given files each uploaded one is.
    QList<qsizetype> m_uploadedEntries;
    std::atomic<bool> m_cancelled = false;
    // Set on the session's own thread, where its cancel() runs too.
    bool m_inLastStep = false;

    // What extra connections need to do as this session did.
    DriverFactory m_makeDriver;
    int m_serverType;
    int m_connections = 1;
    int m_openConnections = 1;
    struct Login {
        QString host;
        QString port;
        QString user;
        QString password;
        QString keyFile;
    } m_login;
    QString m_serverName;
    LoginAnswer m_typedLogin;
    std::function<void(const QString& user, const QString& password)> m_rememberLogin;
    // The answer each given file got to the file-exists question, by its place in the files.
    QHash<qsizetype, int> m_entryAnswers;
    QStringList m_enteredDirs;
    bool m_serverEditWanted = false;
    // While a batch goes over several connections: the run, to cancel them all.
    ParallelRun* m_parallel = nullptr;
    // Where the log lines of an extra connection go, after its number.
    UploadSession* m_logTarget = nullptr;
    QString m_logPrefix;
};

} // namespace quaddle
