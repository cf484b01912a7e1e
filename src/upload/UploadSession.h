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

// What to do with a file that exists on the server already; also the answers of the
// file-exists question.
enum TOverwritePolicy : int {
    PolicyAsk = 0,
    PolicyOverwrite = 1,
    PolicyRename = 2,
    PolicySkip = 128
};
// Added to an answer when the user asked to remember it for the session.
constexpr int RememberBit = 1024;

// Log levels: protocol traffic and progress, the cancel notice, errors.
enum TLogLevel : int { LogTraffic = 0, LogCancel = 1, LogError = 2 };

// Which file is being sent: index >= 0 the file at that place in the list, -2 its thumbnail,
// -1 the end of the run.
using TStatusEvent = std::function<void(const QString& text, int index)>;
// Progress of the current file: remote name, size (0 when unknown) and bytes sent.
using TProgressEvent = std::function<void(const QString& name, qint64 size, qint64 sent)>;

class TUpload;
// Makes the driver for a server type; nothing for a type without one.
using TDriverFactory =
    std::function<std::unique_ptr<TUploadProtokoll>(TUpload& session, int serverType)>;

// One upload run, from login to the list of uploaded names: the existing-file policy, the
// questions to the user, the byte counters behind the progress display and the log.
class TUpload {
public:
    // Throws TError when there is no driver for serverType. logTraffic: keep log entries
    // below the error level (the setting "Log").
    TUpload(TProgressEvent onProgress, TStatusEvent onStatus, int serverType, int overwrite,
            bool logTraffic, const TDriverFactory& makeDriver);
    ~TUpload();
    TUpload(const TUpload&) = delete;
    TUpload& operator=(const TUpload&) = delete;

    TUploadProtokoll& Protokoll() { return *Protokoll_; }

    bool Login(const QString& host, const QString& port, QString user, QString password);
    bool EnterDir(const QString& dir, bool createWithoutAsking, bool createIfMissing);
    TUploadResults UploadFiles(const TFileList& files);
    void Cancel();
    bool Cancelled() const { return Cancelled_; }

    // Safe to call from any thread.
    void AddLog(const QString& text, int level);
    QStringList LogLines() const;
    const TRenamedFiles& RenamedFiles() const { return RenamedFiles_; }

    // For drivers: bytes of the current file sent so far. Updates the overall count and
    // reports the progress under the file's remote name.
    void ReportProgress(const QString& localPath, const QString& remoteName, qint64 sent);
    void ReportFileStart(const QString& remoteName) { OnProgress(remoteName, 0, 0); }

    qint64 BytesDone() const { return BytesDone_; }
    qint64 BytesTotal() const { return BytesTotal_; }

    // Logs message as an error and asks whether to go on; false when cancelled.
    bool AskIgnoreError(const QString& message);

    // The size of a local file, -1 when it cannot be opened for reading.
    static qint64 LocalFileSize(const QString& path);
    static QString ZeroPad(const QString& text, int width);

private:
    bool UploadFile(const QString& path);
    bool RenameExisting(const QString& name);
    bool CreateDirPath(const QString& path);
    int AskUser(TAskMode mode, const QString& name);
    std::optional<qint64> FileSizeOf(const QString& localPath) const;

    std::unique_ptr<TUploadProtokoll> Protokoll_;
    int Overwrite;
    TProgressEvent OnProgress;
    TStatusEvent OnStatus;
    TRenamedFiles RenamedFiles_;
    mutable QMutex LogLock;
    QStringList LogLines_;
    const bool KeepTraffic;
    qint64 BytesDone_ = 0;
    qint64 BytesFinished = 0;
    qint64 BytesTotal_ = 0;
    QHash<QString, qint64> FileSizes;
    std::atomic<bool> Cancelled_ = false;
};

} // namespace quaddle
