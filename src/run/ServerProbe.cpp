#include "run/ServerProbe.h"

#include "history/History.h"
#include "platform/Error.h"
#include "results/UrlBuilder.h"
#include "run/UploadHistory.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadErrors.h"
#include "upload/UploadRunSupport.h"
#include "upload/UploadSession.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <algorithm>

namespace quaddle {

namespace {

constexpr int FetchTimeoutMs = 30000;
// How many folders above the probe's own are searched for a web root.
constexpr int WebRootLevelsUp = 2;

// The last error the session logged, without its level.
QString lastLoggedError(const UploadSession& session) {
    const QString errorMark = QLatin1Char('\t') + QString::number(LogError);
    const QStringList lines = session.logLines();
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (line->endsWith(errorMark))
            return line->chopped(errorMark.size());
    return QString();
}

QString pathIn(const QString& folder, const QString& name) {
    HistoryEntry place;
    place.folder = folder;
    place.name = name;
    return place.remotePath();
}

struct Fetched {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    int status = 0;
    QString reason;
    QByteArray body;
};

// Fetches the address as a browser would: following redirects that keep it as safe, with the
// system's certificates.
Fetched fetch(const QString& url, const bool& cancelled) {
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(FetchTimeoutMs);
    // The file as it is, not a copy a proxy kept.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, reply.get(), [&] {
        if (cancelled)
            reply->abort();
    });
    watch.start(100);
    if (!reply->isFinished())
        loop.exec();
    return {reply->error(), reply->errorString(),
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
            reply->readAll()};
}

QString hostOf(const QString& url) {
    return QUrl(url).host();
}

QString notFoundAdvice(const QString& remotePath, const QString& url, const QString& webRoot) {
    QString advice =
        QStringLiteral("The web server has no file at this address (404): the root folder or "
                       "the address pattern do not match. The file went to \"%1\" on the "
                       "server; the address tried was %2. Set the root folder to the folder the "
                       "web server serves, and the address pattern to the address of that "
                       "folder.")
            .arg(remotePath, url);
    if (!webRoot.isEmpty())
        advice += QStringLiteral(" The server has a folder \"%1\", which web servers commonly "
                                 "serve: try it as the root folder.")
                      .arg(webRoot);
    return advice;
}

QString fetchAdvice(const Fetched& fetched, const QString& url) {
    switch (fetched.error) {
    case QNetworkReply::ContentAccessDenied:
        return QStringLiteral("The web server refuses to hand out the file (403): it may not be "
                              "allowed to read it. Try the \"Permissions\" setting (for example "
                              "644), or ask your host which permissions web files need.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The address's host \"%1\" is not known: check the host in the "
                              "address pattern.")
            .arg(hostOf(url));
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("The address's host \"%1\" could not prove itself over HTTPS (%2): "
                              "check the host in the address pattern, and that its certificate "
                              "is valid for that name.")
            .arg(hostOf(url), fetched.errorText);
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("No web server answers at %1: is the web server running, and are "
                              "the host and port in the address pattern right?")
            .arg(url);
    default:
        break;
    }
    return QStringLiteral("The web server did not hand out the file (%1): check the address "
                          "pattern, and ask your host about the web server.")
        .arg(fetched.errorText);
}

} // namespace

const QStringList ServerProbe::WebRootNames{QStringLiteral("public_html"), QStringLiteral("www"),
                                            QStringLiteral("htdocs")};

bool ProbeReport::passed() const {
    return !steps.isEmpty() &&
           std::all_of(steps.cbegin(), steps.cend(), [](const ProbeStepResult& step) {
               return step.outcome == ProbeOutcome::Passed;
           });
}

QString probeStepName(ProbeStep step) {
    switch (step) {
    case ProbeStep::Reached:
        return QStringLiteral("Reached the server");
    case ProbeStep::LoggedIn:
        return QStringLiteral("Logged in");
    case ProbeStep::CanWrite:
        return QStringLiteral("Can write");
    case ProbeStep::Serves:
        return QStringLiteral("The address serves the file");
    }
    return QString();
}

ServerProbe::ServerProbe(Config& config, qint32 server, bool keepTrust)
    : m_config(config), m_server(server), m_record(config.servers.value(server)),
      m_keepTrust(keepTrust) {}

ServerProbe::~ServerProbe() = default;

void ServerProbe::cancel() {
    m_cancelled = true;
    if (m_session)
        m_session->cancel();
}

void ServerProbe::pass(ProbeStep step, const QString& detail) {
    m_report.steps[int(step)] = {step, ProbeOutcome::Passed, detail};
    if (m_stepDone)
        m_stepDone(m_report.steps[int(step)]);
}

void ServerProbe::fail(ProbeStep step, const QString& detail) {
    m_report.steps[int(step)] = {step, ProbeOutcome::Failed, detail};
    if (m_stepDone)
        m_stepDone(m_report.steps[int(step)]);
}

ProbeReport ServerProbe::run(const std::function<void(const ProbeStepResult&)>& stepDone) {
    m_stepDone = stepDone;
    m_report = {};
    for (const ProbeStep step :
         {ProbeStep::Reached, ProbeStep::LoggedIn, ProbeStep::CanWrite, ProbeStep::Serves})
        m_report.steps.append({step, ProbeOutcome::NotTried, QString()});
    const QString token = QUuid::createUuid().toString(QUuid::Id128).left(12);
    m_probeName = QStringLiteral("quaddle-test-%1.txt").arg(token);
    const QByteArray contents = "Quaddle server test " + token.toLatin1() + "\n";
    const QString folder = remoteFolder(m_record, m_record.defaultDir);
    m_report.remotePath = pathIn(folder, m_probeName);
    m_report.url = buildUrl(m_record, m_record.defaultDir, m_probeName);

    QTemporaryDir local;
    const QString localPath = local.filePath(m_probeName);
    QFile file(localPath);
    if (!local.isValid() || !file.open(QIODevice::WriteOnly) || file.write(contents) < 0) {
        m_report.advice = QStringLiteral("The test file could not be made on this computer: %1")
                              .arg(file.errorString());
        return m_report;
    }
    file.close();
    const qint32 current = m_config.currentServer;
    bool notFound = false;
    try {
        if (logIn() && sendProbe(localPath))
            notFound = !checkAddress(contents);
    } catch (const Error& error) {
        // The step under way failed: the first one not passed yet.
        for (const ProbeStepResult& step : std::as_const(m_report.steps))
            if (step.outcome == ProbeOutcome::NotTried) {
                fail(step.step, error.message());
                break;
            }
    }
    removeProbe();
    if (notFound)
        m_report.advice = notFoundAdvice(m_report.remotePath, m_report.url, nearbyWebRoot());
    m_session.reset();
    m_config.currentServer = current;
    return m_report;
}

bool ServerProbe::logIn() {
    m_config.currentServer = m_server;
    if (const QString problem = serverTypeProblem(m_config); !problem.isEmpty())
        throw Error(problem);
    m_session = std::make_unique<UploadSession>(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, m_record.type.toInt(),
        PolicyOverwrite, false, standardDrivers(m_config.programDir, m_record.sshClient));
    configureSession(*m_session, m_config);
    // A test of settings not saved yet keeps what it learns to itself.
    if (!m_keepTrust)
        m_session->driver().setTrustedCertificate(
            m_record.trustedCert, [this](const QString& fingerprint) {
                m_config.servers[m_server].trustedCert = fingerprint;
            });
    const QString where = QStringLiteral("%1, port %2").arg(m_record.host, m_record.port);
    bool loggedIn = false;
    try {
        loggedIn = m_session->login(m_record.host, m_record.port, m_record.user, m_record.password,
                                    m_record.keyFile);
    } catch (const Error& error) {
        // Only a connection that was never made leaves the server unreached.
        if (!error.message().startsWith(UploadErrors::ConnectFailed))
            pass(ProbeStep::Reached, where);
        throw;
    }
    pass(ProbeStep::Reached, where);
    if (!loggedIn) {
        fail(ProbeStep::LoggedIn, m_cancelled ? QStringLiteral("Cancelled.")
                                              : QStringLiteral("The login was refused or "
                                                               "cancelled."));
        return false;
    }
    pass(ProbeStep::LoggedIn, m_record.user.isEmpty() ? QString() : m_record.user);
    return true;
}

bool ServerProbe::sendProbe(const QString& localPath) {
    // The probe makes no folders: nothing of it may stay behind.
    for (const QString& dir : {m_record.rootDir, sessionRemoteDir(m_record, m_record.defaultDir)}) {
        try {
            m_session->enterDir(dir, false, false);
        } catch (const Error& error) {
            fail(ProbeStep::CanWrite, QStringLiteral("The folder \"%1\" cannot be entered. %2")
                                          .arg(dir, error.message()));
            return false;
        }
    }
    m_sent = true;
    const UploadResults sent = m_session->uploadFiles({{localPath, QString()}});
    if (sent.isEmpty()) {
        const QString why = lastLoggedError(*m_session);
        fail(ProbeStep::CanWrite,
             QStringLiteral("\"%1\" could not be written. %2").arg(m_report.remotePath, why));
        return false;
    }
    pass(ProbeStep::CanWrite, m_report.remotePath);
    return true;
}

bool ServerProbe::checkAddress(const QByteArray& contents) {
    const Fetched fetched = fetch(m_report.url, m_cancelled);
    if (fetched.error == QNetworkReply::NoError && fetched.body == contents) {
        pass(ProbeStep::Serves, m_report.url);
        return true;
    }
    if (m_cancelled) {
        fail(ProbeStep::Serves, QStringLiteral("Cancelled."));
        return true;
    }
    // The web server's own answer says most; without one, what stopped the request.
    const QString failure =
        fetched.error == QNetworkReply::NoError
            ? QStringLiteral("%1 gives other content than the file sent.").arg(m_report.url)
        : fetched.status > 0 ? QStringLiteral("%1 answered %2 %3")
                                   .arg(m_report.url)
                                   .arg(fetched.status)
                                   .arg(fetched.reason)
                             : QStringLiteral("%1: %2").arg(m_report.url, fetched.errorText);
    fail(ProbeStep::Serves, failure);
    // Its advice needs a look around the server, once the probe is gone.
    if (fetched.error == QNetworkReply::ContentNotFoundError)
        return false;
    if (fetched.error == QNetworkReply::NoError)
        m_report.advice = QStringLiteral("The address leads to another file than the one sent to "
                                         "\"%1\": the root folder or the address pattern point "
                                         "to another place.")
                              .arg(m_report.remotePath);
    else
        m_report.advice = fetchAdvice(fetched, m_report.url);
    return true;
}

QString ServerProbe::nearbyWebRoot() {
    // Only from the probe's folder, which the session is still in, are the places known.
    if (!m_report.leftBehind.isEmpty() || !m_session)
        return QString();
    const QString folder = remoteFolder(m_record, m_record.defaultDir);
    for (int up = 0; up <= WebRootLevelsUp; ++up) {
        const QString ups = QStringLiteral("../").repeated(up);
        for (const QString& name : WebRootNames) {
            const QString candidate = QDir::cleanPath(pathIn(folder, ups + name));
            if (candidate == QDir::cleanPath(folder) || !m_session->driver().isConnected())
                continue;
            try {
                if (m_session->driver().changeDir(ups + name))
                    return candidate;
            } catch (const Error&) {
                return QString();
            }
        }
    }
    return QString();
}

void ServerProbe::removeProbe() {
    if (!m_sent || !m_session)
        return;
    ProtocolDriver& driver = m_session->driver();
    try {
        if (driver.isConnected() &&
            (driver.removeFile(m_probeName) || !driver.fileExists(m_probeName)))
            return;
        m_report.leftBehind = QStringLiteral("The test file \"%1\" could not be deleted: %2")
                                  .arg(m_report.remotePath, driver.lastError());
    } catch (const Error& error) {
        m_report.leftBehind = QStringLiteral("The test file \"%1\" could not be deleted: %2")
                                  .arg(m_report.remotePath, error.message());
    }
}

} // namespace quaddle
