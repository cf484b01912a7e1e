#pragma once

#include <QString>

namespace quaddle {

class TUpload;

// A protocol driver: how an upload session talks to one kind of server. Every operation
// blocks until the server has answered but keeps the event loop running meanwhile, so the
// session's Cancel can reach Abort in the middle of it.
class TUploadProtokoll {
public:
    // Option bits, toggled by SetOption; they take effect at the next Connect.
    static constexpr int PassiveMode = 2;
    static constexpr int TextMode = 4;

    explicit TUploadProtokoll(TUpload& session) : Session(session) {}
    virtual ~TUploadProtokoll() = default;
    TUploadProtokoll(const TUploadProtokoll&) = delete;
    TUploadProtokoll& operator=(const TUploadProtokoll&) = delete;

    virtual void SetOption(int flag) { Options ^= flag; }
    // Stops whatever the driver does and drops the connection; safe at any time, twice too.
    virtual void Abort() = 0;
    // Connects and logs in; false when the login was refused. Throws TError when the server
    // cannot be reached.
    virtual bool Connect(const QString& host, const QString& port, const QString& user,
                         const QString& password) = 0;
    virtual bool ChangeDir(const QString& dir) = 0;
    virtual bool FileExists(const QString& name) = 0;
    virtual bool MakeDir(const QString& dir) = 0;
    // Uploads the local file under its own name into the working directory, replacing a
    // remote file of that name.
    virtual bool PutFile(const QString& localPath) = 0;
    virtual bool RenameFile(const QString& oldName, const QString& newName) = 0;
    // What went wrong last, for the user.
    virtual QString LastError() = 0;

    int GetOptions() const { return Options; }

protected:
    TUpload& Session;

private:
    int Options = 0;
};

} // namespace quaddle
