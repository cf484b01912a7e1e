#pragma once

#include "upload/FtpClient.h"
#include "upload/ProtocolDriver.h"

#include <QHash>
#include <QSet>
#include <optional>

namespace quaddle {

// The driver for FTP servers, and with tls for FTPS (explicit TLS): the session's operations
// as FTP commands, and the client's traffic in the session's log.
class FtpDriver : public ProtocolDriver {
public:
    // What is remembered for a server whose certificate the system trusts, in place of a
    // fingerprint: such certificates are renewed every few months, each renewal as trusted.
    static inline const QString SystemTrusted = QStringLiteral("system");

    explicit FtpDriver(UploadSession& session, bool tls = false);
    ~FtpDriver() override;

    void abort() override;
    bool connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    void setAnswerTimeout(int milliseconds) override { m_client.timeoutMs = milliseconds; }
    bool changeDir(const QString& dir) override;
    void prefetchExistence(const QStringList& names) override;
    bool fileExists(const QString& name) override;
    std::optional<qint64> remoteFileSize(const QString& name) override;
    bool makeDir(const QString& dir) override;
    bool putFileAs(const QString& localPath, const QString& remoteName) override;
    bool renameFile(const QString& oldName, const QString& newName) override;
    bool removeFile(const QString& name) override;
    bool setPermissions(const QString& name, const QString& mode) override;
    QString lastError() override;
    bool lastFailureRefused() const override;
    QString sentDigest() override { return m_client.sentDigest(); }
    bool takesExtraConnections() const override { return true; }
    void trustLike(const ProtocolDriver& other) override;
    bool isConnected() const override { return m_client.connected(); }
    void setTrustedCertificate(const QString& fingerprint,
                               std::function<void(const QString&)> remember) override;

private:
    // Throws the error that says how the server broke the protocol, if it did.
    void ensureProtocolKept() const;
    // Throws the lost-connection error when the connection is gone.
    void ensureConnected() const;
    void clientError(const QString& message);
    bool trustCertificate(const QSslCertificate& certificate, const QList<QSslError>& errors);
    void rememberCertificate(const QString& trusted);
    // Throws the error that says why the connection was not made.
    [[noreturn]] void connectFailed(const QString& host, const QString& port);
    // Throws the error that says why the login ended other than by a refused password.
    [[noreturn]] void loginFailed(const QString& host, const QString& port);
    // Whether the server finds the name in the working directory: nothing when it cannot
    // tell.
    std::optional<bool> lookUp();
    std::optional<bool> lookUpInListing(const QString& name);
    // The names in the working directory, from MLSD, else NLST (hidden names may be missing
    // from that); nothing when the server lists neither.
    std::optional<QSet<QString>> listing(bool& complete);

    FtpClient m_client;
    const bool m_tls;
    QString m_trustedCertificate;
    std::function<void(const QString&)> m_rememberCertificate;
    // Learnt on this connection: MLST is not understood; in this directory: NLST is refused.
    bool m_mlstUnknown = false;
    bool m_mlsdUnknown = false;
    bool m_listingRefused = false;
    static constexpr qsizetype MinNamesForListing = 6;
    // What one listing told of the names of a batch, each answered once.
    QHash<QString, bool> m_prefetched;
};

} // namespace quaddle
