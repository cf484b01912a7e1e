#pragma once

#include "config/FileList.h"

#include <QString>
#include <functional>
#include <optional>

namespace quaddle {

class UploadSession;

// One file for ProtocolDriver::sendFiles.
struct FileTransfer {
    QString localPath;
    // What it goes up as, in the working directory.
    QString remoteName;
    // Where it then moves, replacing a file of that name; empty to stay as remoteName.
    QString finalName;
    // Octal permissions such as 644 it gets at the end; empty for none.
    QString mode;
};

// How one FileTransfer ended.
struct TransferResult {
    bool sent = false;
    // Why it was not sent, naming the file.
    QString error;
    // The server refused the file (no permission to write it there), rather than failing it.
    bool refused = false;
    // Why the permissions could not be set on a file that was sent.
    QString modeError;
    // The SHA-256 of the bytes sent, as lower-case hex; empty when not known.
    QString sha256;
};

// What sendFiles reports, by index into its list.
struct TransferEvents {
    std::function<void(qsizetype index)> started;
    std::function<void(qsizetype index, qint64 sent)> progress;
    // Told in the order of the list, each once the file's fate is known; one that never went
    // (the run ended before it) is not told. False starts no more files; those already on
    // their way still end and are told.
    std::function<bool(qsizetype index, const TransferResult& result)> finished;
};

// A protocol driver: how an upload session talks to one kind of server. Every operation
// blocks until the server has answered but keeps the event loop running meanwhile, so the
// session's cancel() can reach abort() in the middle of it.
class ProtocolDriver {
public:
    // Option bits, toggled by setOption; they take effect at the next connect().
    static constexpr int PassiveMode = 2;
    static constexpr int TextMode = 4;

    explicit ProtocolDriver(UploadSession& session) : m_session(session) {}
    virtual ~ProtocolDriver() = default;
    ProtocolDriver(const ProtocolDriver&) = delete;
    ProtocolDriver& operator=(const ProtocolDriver&) = delete;

    virtual void setOption(int flag) { m_options ^= flag; }
    // A private key to log in with at the next connect(); empty for none. Only SFTP uses one.
    virtual void setKeyFile(const QString& path) { (void)path; }
    // The SHA-256 fingerprint (hex) of a server certificate the user trusts although it fails
    // verification, or "system" for a server whose certificate the system trusted, empty for
    // none; and where a certificate trusted anew is remembered. Only FTPS uses them.
    virtual void setTrustedCertificate(const QString& fingerprint,
                                       std::function<void(const QString&)> remember) {
        (void)fingerprint;
        (void)remember;
    }
    // How long an operation waits for the server's answer before it gives up; tests shorten
    // it for servers that never answer.
    virtual void setAnswerTimeout(int milliseconds) { (void)milliseconds; }
    // True when the driver asks the user for a missing password only once the server wants
    // one, so a login by key or agent asks nothing.
    virtual bool asksForPassword() const { return false; }
    // False when a login without a user name is left to the connection program's own
    // configuration.
    virtual bool needsUserName() const { return true; }
    // True when a batch may be spread over extra connections, each with a driver of its own
    // made like this one; false for drivers that keep many files on the way in one.
    virtual bool takesExtraConnections() const { return false; }
    // Makes this driver, made for an extra connection, trust what other's user trusted.
    virtual void trustLike(const ProtocolDriver& other) { (void)other; }
    // False once the connection is gone.
    virtual bool isConnected() const { return true; }
    // Lets the driver learn in one go whether these names exist in the working directory;
    // fileExists then answers from that, once per name.
    virtual void prefetchExistence(const QStringList& names) { (void)names; }
    // Sends the files, several at a time where the driver can; one after another here, with
    // the progress told through the session as for single files.
    virtual void sendFiles(const QList<FileTransfer>& files, const TransferEvents& events);
    // Stops whatever the driver does and drops the connection; safe at any time, twice too.
    virtual void abort() = 0;
    // Connects and logs in; false when the login was refused. Throws Error when the server
    // cannot be reached.
    virtual bool connect(const QString& host, const QString& port, const QString& user,
                         const QString& password) = 0;
    virtual bool changeDir(const QString& dir) = 0;
    virtual bool fileExists(const QString& name) = 0;
    // The size of the file name in the working directory; nothing when it is not there or the
    // server cannot tell.
    virtual std::optional<qint64> remoteFileSize(const QString& name) {
        (void)name;
        return std::nullopt;
    }
    virtual bool makeDir(const QString& dir) = 0;
    // Uploads the local file under remoteName into the working directory, replacing a remote
    // file of that name.
    virtual bool putFileAs(const QString& localPath, const QString& remoteName) = 0;
    bool putFile(const QString& localPath) { return putFileAs(localPath, fileNameOf(localPath)); }
    virtual bool renameFile(const QString& oldName, const QString& newName) = 0;
    // Renames oldName to newName, replacing a file of that name.
    virtual bool replaceFile(const QString& oldName, const QString& newName) {
        return renameFile(oldName, newName);
    }
    virtual bool removeFile(const QString& name) = 0;
    // Gives the remote file the permissions mode, octal digits such as 644.
    virtual bool setPermissions(const QString& name, const QString& mode) = 0;
    // What went wrong last, for the user.
    virtual QString lastError() = 0;
    // Whether what went wrong last was the server refusing to write the file where it was
    // asked to.
    virtual bool lastFailureRefused() const { return false; }
    // The SHA-256 of the bytes the last putFileAs sent, as lower-case hex; empty when the
    // driver does not know it.
    virtual QString sentDigest() { return QString(); }

    int options() const { return m_options; }

protected:
    UploadSession& m_session;

private:
    int m_options = 0;
};

} // namespace quaddle
