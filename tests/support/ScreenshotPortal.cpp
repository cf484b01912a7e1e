#include "ScreenshotPortal.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QImage>
#include <QTimer>
#include <QUrl>
#include <QUuid>

namespace quaddle::test {

ScreenshotPortal::ScreenshotPortal(const QString& busAddress, uint response)
    : m_busAddress(busAddress), m_connectionName("portal-" + QUuid::createUuid().toString()),
      m_bus(QDBusConnection::connectToBus(busAddress, m_connectionName)), m_response(response) {
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(pngPath(), "png");
    m_registered = m_bus.registerObject("/org/freedesktop/portal/desktop", this,
                                        QDBusConnection::ExportAllSlots) &&
                   m_bus.registerService("org.freedesktop.portal.Desktop");
}

ScreenshotPortal::~ScreenshotPortal() {
    m_bus.unregisterService("org.freedesktop.portal.Desktop");
    QDBusConnection::disconnectFromBus(m_connectionName);
    if (!m_forgerName.isEmpty())
        QDBusConnection::disconnectFromBus(m_forgerName);
}

void ScreenshotPortal::forgeAnswers(const QString& file, bool directed) {
    m_forgerName = "forger-" + QUuid::createUuid().toString();
    QDBusConnection::connectToBus(m_busAddress, m_forgerName);
    m_forgedFile = file;
    m_forgedDirected = directed;
}

void ScreenshotPortal::sendForgedAnswer(const QString& path, const QString& caller) {
    QDBusConnection forger(m_forgerName);
    QDBusMessage response =
        m_forgedDirected
            ? QDBusMessage::createTargetedSignal(caller, path, "org.freedesktop.portal.Request",
                                                 "Response")
            : QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
    response << 0u << QVariantMap{{"uri", QUrl::fromLocalFile(m_forgedFile).toString()}};
    forger.send(response);
    // A call answered by the bus comes after the signal: the bus has passed it on by then, so
    // it reaches the program before the portal's answer.
    forger.interface()->isServiceRegistered("org.freedesktop.DBus");
}

QDBusObjectPath ScreenshotPortal::Screenshot(const QString&, const QVariantMap& options) {
    m_requests.append(options);
    const QString sender = message().service().mid(1).replace('.', '_');
    const QString path = "/org/freedesktop/portal/desktop/request/" + sender + '/' +
                         options.value("handle_token").toString();
    if (!m_forgedFile.isEmpty())
        sendForgedAnswer(path, message().service());
    // The answer comes after the reply, as the desktop's picker takes its time.
    QTimer::singleShot(0, this, [this, path] {
        QVariantMap results;
        if (m_response == 0)
            results.insert("uri", QUrl::fromLocalFile(pngPath()).toString());
        QDBusMessage response =
            QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << m_response << results;
        m_bus.send(response);
    });
    return QDBusObjectPath(path);
}

} // namespace quaddle::test
