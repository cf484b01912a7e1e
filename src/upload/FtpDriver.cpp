#include "upload/FtpDriver.h"

#include "platform/Error.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QSslCertificate>
#include <algorithm>

namespace quaddle {

namespace {
// The one reply that refuses a user name or password.
constexpr int LoginRefused = 530;
constexpr int FileUnavailable = 550;
// Replies that refuse to write a file: no access, or a name the server does not allow.
constexpr int WriteRefused[] = {FileUnavailable, 553};
constexpr int NotUnderstood[] = {500, 502, 504};

QString fingerprintOf(const QSslCertificate& certificate) {
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex().toUpper());
}

// What the user needs to judge a certificate: why it failed, whose it is, who signed it, when
// it is valid, and the fingerprint as tools print it (pairs of digits with colons).
QString describeCertificate(const QSslCertificate& certificate, const QList<QSslError>& errors) {
    QStringList reasons;
    for (const QSslError& error : errors)
        if (!reasons.contains(error.errorString()))
            reasons.append(error.errorString());
    QString fingerprint = fingerprintOf(certificate);
    for (qsizetype at = fingerprint.size() - 2; at > 0; at -= 2)
        fingerprint.insert(at, QLatin1Char(':'));
    return QStringLiteral("Why it is not trusted: ") + reasons.join(QStringLiteral("; ")) +
           LineBreak + QStringLiteral("Subject: ") + certificate.subjectDisplayName() + LineBreak +
           QStringLiteral("Issuer: ") + certificate.issuerDisplayName() + LineBreak +
           QStringLiteral("Valid from %1 to %2")
               .arg(certificate.effectiveDate().toUTC().toString(Qt::ISODate),
                    certificate.expiryDate().toUTC().toString(Qt::ISODate)) +
           LineBreak + QStringLiteral("SHA-256 fingerprint: ") + fingerprint;
}

} // namespace

FtpDriver::FtpDriver(UploadSession& session, bool tls) : ProtocolDriver(session), m_tls(tls) {
    m_client.onProgress = [this](qint64 sent) {
        m_session.reportProgress(m_client.localFileName, m_client.hostFileName, sent);
    };
    m_client.onError = [this](const QString& message) { clientError(message); };
    m_client.onCommand = [this](const QString& line) {
        // Any line with PASS in it may carry the password.
        m_session.addLog(line.contains(QLatin1String("PASS")) ? QStringLiteral("--> (Password)")
                                                              : QStringLiteral("--> ") + line,
                         LogTraffic);
    };
    m_client.onResponse = [this](const QString& line) { m_session.addLog(line, LogTraffic); };
    m_client.onNotice = [this](const QString& line) { m_session.addLog(line, LogTraffic); };
    m_client.onUntrustedCertificate = [this](const QSslCertificate& certificate,
                                             const QList<QSslError>& errors) {
        return trustCertificate(certificate, errors);
    };
}

FtpDriver::~FtpDriver() {
    abort();
}

void FtpDriver::abort() {
    m_client.abort();
}

bool FtpDriver::connect(const QString& host, const QString& port, const QString& user,
                        const QString& password) {
    m_client.binary = !(options() & TextMode);
    m_client.passive = options() & PassiveMode;
    m_client.hostName = host;
    m_client.port = port;
    m_client.userName = user;
    m_client.password = password;
    m_client.tls = m_tls;
    // After a refused login the connection is still open and the login is tried on it again.
    if (!m_client.connected()) {
        if (!m_client.open()) {
            if (m_session.cancelled())
                return false;
            connectFailed(host, port);
        }
        m_mlstUnknown = false;
        m_mlsdUnknown = false;
        m_listingRefused = false;
        if (m_client.certificateVerified() && m_trustedCertificate != SystemTrusted)
            rememberCertificate(SystemTrusted);
    }
    const bool loggedIn = m_client.user() && m_client.pass();
    if (!loggedIn && !m_session.cancelled() && m_client.statusCode() != LoginRefused)
        loginFailed(host, port);
    // Files never go in clear text over a connection that was meant to be secure.
    if (loggedIn && m_tls && !m_client.protect()) {
        if (!m_client.connected())
            throw Error(UploadErrors::ConnectionLost);
        const QString refusal = m_client.lastResponse();
        m_client.abort();
        throw Error(UploadErrors::TlsRefused + LineBreak + refusal);
    }
    m_client.type();
    return loggedIn && !m_session.cancelled();
}

bool FtpDriver::changeDir(const QString& dir) {
    ensureConnected();
    m_listingRefused = false;
    m_prefetched.clear();
    m_client.hostDirName = dir;
    if (m_client.changeDir())
        return true;
    // A connection lost during CWD (not by Cancel) is no missing directory: nothing to offer
    // to create.
    if (!m_session.cancelled())
        ensureConnected();
    return false;
}

void FtpDriver::prefetchExistence(const QStringList& names) {
    m_prefetched.clear();
    // A listing costs a data connection: for a few names, asking for each is as quick.
    if (names.size() < MinNamesForListing)
        return;
    ensureConnected();
    bool complete = false;
    const std::optional<QSet<QString>> listed = listing(complete);
    if (!listed)
        return;
    for (const QString& name : names) {
        const bool found = listed->contains(name);
        // A name list may leave out hidden names: only a name in it is certain there.
        if (found || complete || !name.startsWith(QLatin1Char('.')))
            m_prefetched.insert(name, found);
    }
}

std::optional<QSet<QString>> FtpDriver::listing(bool& complete) {
    QByteArray text;
    if (!m_mlsdUnknown && m_client.listFacts(text)) {
        complete = true;
        return listedNames(text, true);
    }
    ensureConnected();
    m_mlsdUnknown = true;
    if (m_listingRefused)
        return std::nullopt;
    if (m_client.listNames(text)) {
        complete = false;
        return listedNames(text, false);
    }
    ensureConnected();
    m_listingRefused = true;
    return std::nullopt;
}

bool FtpDriver::fileExists(const QString& name) {
    if (const auto prefetched = m_prefetched.constFind(name); prefetched != m_prefetched.cend())
        return m_prefetched.take(name);
    ensureConnected();
    m_client.hostFileName = name;
    std::optional<bool> found = lookUp();
    if (!found)
        found = lookUpInListing(name);
    // When the server cannot tell, the name counts as taken: asking, renaming or skipping
    // loses nothing, overwriting blindly might.
    return found.value_or(true);
}

std::optional<qint64> FtpDriver::remoteFileSize(const QString& name) {
    ensureConnected();
    m_client.hostFileName = name;
    if (!m_client.size()) {
        ensureConnected();
        return std::nullopt;
    }
    // "213 SIZE"
    bool number = false;
    const qint64 size = m_client.lastResponse().mid(4).trimmed().toLongLong(&number);
    return number ? std::optional(size) : std::nullopt;
}

std::optional<bool> FtpDriver::lookUp() {
    // SIZE finds a file of any size, an empty one too. A folder, a file kept from view and a
    // missing file all get 550, so MLST, which describes folders too, confirms a 550.
    if (m_client.size())
        return true;
    ensureConnected();
    if (m_mlstUnknown)
        return std::nullopt;
    if (m_client.describe())
        return true;
    ensureConnected();
    const int status = m_client.statusCode();
    if (status == FileUnavailable)
        return false;
    m_mlstUnknown = std::find(std::begin(NotUnderstood), std::end(NotUnderstood), status) !=
                    std::end(NotUnderstood);
    return std::nullopt;
}

std::optional<bool> FtpDriver::lookUpInListing(const QString& name) {
    // A refusal holds for the whole directory; asking again for each name would only cost time.
    if (m_listingRefused)
        return std::nullopt;
    QByteArray listing;
    if (m_client.listNames(listing))
        return nameListed(listing, name);
    if (!m_session.cancelled())
        ensureConnected();
    m_listingRefused = true;
    return std::nullopt;
}

bool FtpDriver::makeDir(const QString& dir) {
    ensureConnected();
    m_client.hostFileName = dir;
    return m_client.makeDir();
}

bool FtpDriver::putFileAs(const QString& localPath, const QString& remoteName) {
    ensureConnected();
    m_session.reportFileStart(remoteName);
    m_client.localFileName = localPath;
    m_client.hostFileName = remoteName;
    return m_client.store() && !m_session.cancelled();
}

bool FtpDriver::renameFile(const QString& oldName, const QString& newName) {
    ensureConnected();
    m_client.hostFileName = oldName;
    m_client.localFileName = newName;
    return m_client.rename();
}

bool FtpDriver::removeFile(const QString& name) {
    ensureConnected();
    m_client.hostFileName = name;
    return m_client.deleteFile();
}

bool FtpDriver::setPermissions(const QString& name, const QString& mode) {
    ensureConnected();
    m_client.hostFileName = name;
    return m_client.changeMode(mode);
}

QString FtpDriver::lastError() {
    return m_client.lastResponse();
}

bool FtpDriver::lastFailureRefused() const {
    return std::find(std::begin(WriteRefused), std::end(WriteRefused), m_client.statusCode()) !=
           std::end(WriteRefused);
}

void FtpDriver::trustLike(const ProtocolDriver& other) {
    // Extra connections are made only by the session that made other, with the same factory.
    m_trustedCertificate = static_cast<const FtpDriver&>(other).m_trustedCertificate;
}

void FtpDriver::setTrustedCertificate(const QString& fingerprint,
                                      std::function<void(const QString&)> remember) {
    m_trustedCertificate = fingerprint;
    m_rememberCertificate = std::move(remember);
}

bool FtpDriver::trustCertificate(const QSslCertificate& certificate,
                                 const QList<QSslError>& errors) {
    const QString fingerprint = fingerprintOf(certificate);
    if (!m_trustedCertificate.isEmpty() &&
        fingerprint.compare(m_trustedCertificate, Qt::CaseInsensitive) == 0)
        return true;
    // A server whose certificate the system trusted shows one it does not: changed too.
    const bool changed = !m_trustedCertificate.isEmpty();
    if (!dialogs().trustIdentity({IdentityKind::Certificate, changed,
                                  m_trustedCertificate == SystemTrusted, QString(), fingerprint,
                                  describeCertificate(certificate, errors)}))
        return false;
    rememberCertificate(fingerprint);
    return true;
}

void FtpDriver::rememberCertificate(const QString& trusted) {
    m_trustedCertificate = trusted;
    if (m_rememberCertificate)
        m_rememberCertificate(trusted);
}

void FtpDriver::connectFailed(const QString& host, const QString& port) {
    ensureProtocolKept();
    switch (m_client.tlsFailure()) {
    case TlsFailure::Refused:
        throw Error(UploadErrors::TlsRefused + LineBreak + m_client.lastResponse());
    case TlsFailure::Untrusted:
        throw Error(UploadErrors::CertificateRefused);
    case TlsFailure::Handshake:
        throw Error(UploadErrors::TlsFailed + LineBreak +
                    QStringLiteral("%1, port %2: %3").arg(host, port, m_client.lastResponse()));
    case TlsFailure::None:
        break;
    }
    throw Error(UploadErrors::connectFailed(host, port, m_client.lastResponse()));
}

void FtpDriver::loginFailed(const QString& host, const QString& port) {
    ensureProtocolKept();
    const QString reason = m_client.timedOut()
                               ? QStringLiteral("The server did not answer in time (timed out).")
                               : m_client.lastResponse();
    // Whatever the server meant, the dialogue is out of step: the next run starts afresh.
    m_client.abort();
    throw Error(UploadErrors::loginFailed(host, port, reason));
}

void FtpDriver::ensureProtocolKept() const {
    if (!m_client.protocolViolation().isEmpty())
        throw Error(UploadErrors::protocolViolation(m_client.hostName, m_client.port,
                                                    m_client.protocolViolation()));
}

void FtpDriver::ensureConnected() const {
    ensureProtocolKept();
    if (!m_client.connected())
        throw Error(UploadErrors::ConnectionLost);
}

void FtpDriver::clientError(const QString& message) {
    m_session.addLog(QStringLiteral("FTP Error [%1]: %2").arg(m_client.statusCode()).arg(message),
                     LogError);
    if (!m_session.askIgnoreError(message))
        abort();
}

} // namespace quaddle
