#pragma once

#include "upload/ConsoleProcess.h"
#include "upload/ProtocolDriver.h"

#include <QMutex>
#include <QStringList>
#include <QTemporaryFile>
#include <atomic>
#include <memory>

namespace quaddle {

// The driver for SFTP servers. It drives PuTTY's psftp through its standard input and output:
// each operation writes one command and waits for the answer that the output handler, on the
// runner's reader thread, recognises in psftp's lines. The state number tells the handler
// which answer is awaited.
class TUploadSFTP : public TUploadProtokoll {
public:
    // Answers: success, failure, an unknown host key, and output that fits nothing.
    enum TAnswer { Failure = 0, Success = 1, UnknownHostKey = 2, Unexpected = 128 };

    // psftp: the client's path; empty when there is none.
    TUploadSFTP(TUpload& session, QString psftp);
    ~TUploadSFTP() override;

    void Abort() override;
    bool Connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool ChangeDir(const QString& dir) override;
    bool FileExists(const QString& name) override;
    bool MakeDir(const QString& dir) override;
    bool PutFile(const QString& localPath) override;
    bool RenameFile(const QString& oldName, const QString& newName) override;
    QString LastError() override;

    int GetState() const { return State; }

private:
    // The harness that feeds psftp output to the handler in any state, without a psftp.
    friend class TSftpOutputFeed;

    int WaitForAnswer(int limit);
    int SendCommand(const QString& text, int limit);
    void NewLine(const QString& line, TOutputType type);
    void HandleLine(const QString& line, TOutputType type);
    void GiveAnswer(int answer);
    void SetErrorText(const QString& text);
    bool ListingHas(const QString& name) const;
    // psftp has ended or is ending: the connection is gone.
    bool Gone() const { return Exited || FatalSeen; }
    bool PasswordFile(const QString& password);

    QString Psftp;
    TDosCommand Runner;
    std::atomic<bool> Answered = false;
    std::atomic<int> Answer = 0;
    std::atomic<int> State = 0;
    std::atomic<bool> Exited = false;
    // psftp printed a fatal error; it ends right after.
    std::atomic<bool> FatalSeen = false;
    // Written by the reader thread, read by the waiting one.
    mutable QMutex Shared;
    QString ProbeName;
    QString HostKey;
    QString ErrorText;
    QString LastLine;
    QStringList Listing;
    std::unique_ptr<QTemporaryFile> PasswordStore;
};

} // namespace quaddle
