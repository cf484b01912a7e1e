#pragma once

#include "upload/FtpClient.h"
#include "upload/ProtocolDriver.h"

namespace quaddle {

// The driver for FTP servers: the session's operations as FTP commands, and the client's
// traffic in the session's log.
class TUploadFTP : public TUploadProtokoll {
public:
    explicit TUploadFTP(TUpload& session);
    ~TUploadFTP() override;

    void Abort() override;
    bool Connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool ChangeDir(const QString& dir) override;
    bool FileExists(const QString& name) override;
    bool MakeDir(const QString& dir) override;
    bool PutFile(const QString& localPath) override;
    bool RenameFile(const QString& oldName, const QString& newName) override;
    QString LastError() override;

private:
    // Throws the lost-connection error when the connection is gone.
    void EnsureConnected() const;
    void ClientError(const QString& message);

    TFtpClient Client;
};

} // namespace quaddle
