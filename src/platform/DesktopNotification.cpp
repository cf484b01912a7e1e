#include "platform/DesktopNotification.h"

#include "platform/AppInfo.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace quaddle {

namespace {

const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");
// A service that takes longer is hung: the program that ends must not wait for it.
constexpr int NotifyTimeoutMs = 2000;

// Where libdbus looks for the session bus. Without one, Qt's bus thread is not even started.
bool sessionBusNamed() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
}

} // namespace

bool showDesktopNotification(const QString& summary, const QString& body) {
    if (!sessionBusNamed())
        return false;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Asking first keeps a bus that starts services on demand from starting one for nothing,
    // and a missing service from being an error.
    const QDBusConnectionInterface* busInterface = bus.interface();
    if (!busInterface || !busInterface->isServiceRegistered(NotificationService).value())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        NotificationService, QStringLiteral("/org/freedesktop/Notifications"), NotificationService,
        QStringLiteral("Notify"));
    call << AppName << uint(0) << AppIconName << summary << body << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), AppId}} << int(-1);
    return bus.call(call, QDBus::Block, NotifyTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

} // namespace quaddle
