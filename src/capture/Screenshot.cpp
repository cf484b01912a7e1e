#include "capture/Screenshot.h"

#include "capture/AreaPicker.h"
#include "capture/ImageFolder.h"
#include "platform/Error.h"
#include "platform/SessionBus.h"

#include <QBuffer>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QRandomGenerator>
#include <QScreen>
#include <QUrl>

namespace quaddle {

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ScreenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString Stem = QStringLiteral("screenshot");

enum PortalResponse : uint { ResponseSuccess = 0, ResponseCancelled = 1 };

ScreenshotResult taken(const QString& path) {
    return {ScreenshotStatus::Taken, path, QString()};
}

ScreenshotResult cancelled() {
    return {ScreenshotStatus::Cancelled, QString(), QString()};
}

ScreenshotResult failed(const QString& problem) {
    return {ScreenshotStatus::Failed, QString(), problem};
}

// The portal's unique name on the bus: only that connection may answer for it. Portals start
// on demand, so one that is only installed is started. Empty when there is none.
QString portalOwner(const QDBusConnection& bus) {
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon)
        return QString();
    if (!daemon->isServiceRegistered(PortalService).value()) {
        if (!daemon->activatableServiceNames().value().contains(PortalService))
            return QString();
        daemon->startService(PortalService);
    }
    const QDBusReply<QString> owner = daemon->serviceOwner(PortalService);
    return owner.isValid() ? owner.value() : QString();
}

// Where the portal puts the request of a call with this token, known before the call so that
// no answer can come before the program listens.
QString requestPathFor(const QDBusConnection& bus, const QString& token) {
    const QString sender = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return PortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

// Grabbing the screen works on X11 only; Wayland leaves it to the portal.
bool onX11() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
           QGuiApplication::platformName() == QLatin1String("xcb") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

ScreenshotTaker::ScreenshotTaker(ImageFolder& folder) : m_folder(folder) {}

ScreenshotTaker::~ScreenshotTaker() = default;

ScreenshotResult ScreenshotTaker::take(const QDateTime& now) {
    if (m_cancelled)
        return cancelled();
    if (std::optional<ScreenshotResult> result = takeThroughPortal(now))
        return *result;
    if (m_cancelled)
        return cancelled();
    return takeWithPicker(now);
}

void ScreenshotTaker::cancel() {
    m_cancelled = true;
    if (m_picker)
        m_picker->cancel();
    if (m_loop)
        m_loop->quit();
}

std::optional<ScreenshotResult> ScreenshotTaker::takeThroughPortal(const QDateTime& now) {
    if (!sessionBusNamed())
        return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_portalOwner = bus.isConnected() ? portalOwner(bus) : QString();
    if (m_portalOwner.isEmpty())
        return std::nullopt;
    const QString token = QStringLiteral("quaddle%1").arg(QRandomGenerator::global()->generate());
    listenTo(requestPathFor(bus, token));
    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalService, PortalPath, ScreenshotInterface, QStringLiteral("Screenshot"));
    call << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("interactive"), true}};
    QDBusPendingCallWatcher watcher(bus.asyncCall(call));
    std::optional<ScreenshotResult> result = awaitPortal(watcher, m_requestPath, now);
    listenTo(QString());
    return result;
}

std::optional<ScreenshotResult> ScreenshotTaker::awaitPortal(QDBusPendingCallWatcher& call,
                                                             const QString& requestPath,
                                                             const QDateTime& now) {
    QEventLoop loop;
    bool refused = false;
    connect(&call, &QDBusPendingCallWatcher::finished, &loop, [&] {
        const QDBusPendingReply<QDBusObjectPath> reply = call;
        if (reply.isError()) {
            refused = true;
            loop.quit();
        } else if (reply.value().path() != requestPath) {
            // Portals older than the handle token put the request elsewhere.
            listenTo(reply.value().path());
        }
    });
    QDBusServiceWatcher portalGone(PortalService, QDBusConnection::sessionBus(),
                                   QDBusServiceWatcher::WatchForUnregistration);
    connect(&portalGone, &QDBusServiceWatcher::serviceUnregistered, &loop, &QEventLoop::quit);
    m_response.reset();
    m_loop = &loop;
    if (!m_cancelled)
        loop.exec();
    m_loop = nullptr;
    if (m_cancelled) {
        closeRequest();
        return cancelled();
    }
    if (refused)
        return std::nullopt;
    if (!m_response)
        return failed(QStringLiteral("The desktop's screenshot portal ended without an answer."));
    switch (m_response->first) {
    case ResponseSuccess:
        return savedPortalFile(m_response->second, now);
    case ResponseCancelled:
        return cancelled();
    default:
        return failed(QStringLiteral("The desktop's screenshot portal could not take the "
                                     "screenshot."));
    }
}

void ScreenshotTaker::portalResponded(uint response, const QVariantMap& results,
                                      const QDBusMessage& message) {
    // Any program of the session may send a signal on the request's path, naming any file.
    if (message.service() != m_portalOwner)
        return;
    m_response = std::make_pair(response, results);
    if (m_loop)
        m_loop->quit();
}

void ScreenshotTaker::listenTo(const QString& requestPath) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const char* const slot = SLOT(portalResponded(uint, QVariantMap, QDBusMessage));
    if (!m_requestPath.isEmpty())
        bus.disconnect(m_portalOwner, m_requestPath, RequestInterface, QStringLiteral("Response"),
                       this, slot);
    m_requestPath = requestPath;
    if (!m_requestPath.isEmpty())
        bus.connect(m_portalOwner, m_requestPath, RequestInterface, QStringLiteral("Response"),
                    this, slot);
}

void ScreenshotTaker::closeRequest() {
    // The desktop's picker goes away with the request; no answer is awaited.
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        PortalService, m_requestPath, RequestInterface, QStringLiteral("Close")));
}

ScreenshotResult ScreenshotTaker::savedPortalFile(const QVariantMap& results,
                                                  const QDateTime& now) {
    const QUrl uri(results.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile())
        return failed(QStringLiteral("The desktop's screenshot portal named no file of the "
                                     "screenshot (\"%1\").")
                          .arg(uri.toString()));
    QFile file(uri.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return failed(QStringLiteral("The screenshot \"%1\" cannot be read: %2")
                          .arg(file.fileName(), file.errorString()));
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    try {
        // A PNG goes up as the desktop made it; anything else is made one.
        if (reader.format() == "png")
            return taken(m_folder.savePng(bytes, Stem, now));
        const QImage image = QImage::fromData(bytes);
        if (image.isNull())
            return failed(
                QStringLiteral("The screenshot \"%1\" holds no image.").arg(file.fileName()));
        return taken(m_folder.saveImage(image, Stem, now));
    } catch (const Error& error) {
        return failed(error.message());
    }
}

ScreenshotResult ScreenshotTaker::takeWithPicker(const QDateTime& now) {
    if (!onX11())
        return failed(QStringLiteral(
            "No screenshot can be taken: the desktop offers no screenshot portal, and taking the "
            "screen directly needs an X11 display. Install xdg-desktop-portal and the portal "
            "backend of your desktop (xdg-desktop-portal-gnome, -kde or -wlr, say)."));
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QImage shot = screen ? screen->grabWindow(0).toImage() : QImage();
    if (shot.isNull())
        return failed(QStringLiteral("The screen cannot be read."));
    AreaPicker picker(shot, screen);
    m_picker = &picker;
    const std::optional<QImage> chosen = picker.pick();
    m_picker = nullptr;
    if (!chosen)
        return cancelled();
    try {
        return taken(m_folder.saveImage(*chosen, Stem, now));
    } catch (const Error& error) {
        return failed(error.message());
    }
}

} // namespace quaddle
