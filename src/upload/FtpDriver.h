#pragma once

#include "upload/FtpClient.h"
#include "upload/ProtocolDriver.h"

namespace quaddle {

// The driver for FTP servers: the session's operations as FTP commands, and the client's
// traffic in the session's log.
class FtpDriver : public ProtocolDriver {
public:
    explicit FtpDriver(UploadSession& session);
    ~FtpDriver() override;

    void abort() override;
    bool connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool changeDir(const QString& dir) override;
    bool fileExists(const QString& name) override;
    bool makeDir(const QString& dir) override;
    bool putFileAs(const QString& localPath, const QString& remoteName) override;
    bool renameFile(const QString& oldName, const QString& newName) override;
    bool removeFile(const QString& name) override;
    bool setPermissions(const QString& name, const QString& mode) override;
    QString lastError() override;

private:
    // Throws the lost-connection error when the connection is gone.
    void ensureConnected() const;
    void clientError(const QString& message);

    FtpClient m_client;
};

} // namespace quaddle
