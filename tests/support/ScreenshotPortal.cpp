#include "ScreenshotPortal.h"

#include <QDBusMessage>
#include <QImage>
#include <QTimer>
#include <QUrl>
#include <QUuid>

namespace quaddle::test {

PrivateBus::PrivateBus() {
    // Its own configuration, so no service installed on the machine can be started on it.
    QFile config(m_dir.filePath("bus.conf"));
    config.open(QIODevice::WriteOnly);
    config.write("<busconfig><type>session</type><listen>unix:tmpdir=" + m_dir.path().toUtf8() +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                 "<allow own=\"*\"/></policy></busconfig>");
    config.close();
    m_daemon.start("dbus-daemon",
                   {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
    if (!m_daemon.waitForStarted())
        return;
    while (!m_daemon.canReadLine())
        if (!m_daemon.waitForReadyRead(10000))
            return;
    m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
}

PrivateBus::~PrivateBus() {
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

ScreenshotPortal::ScreenshotPortal(const QString& busAddress, uint response)
    : m_connectionName("portal-" + QUuid::createUuid().toString()),
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
}

QDBusObjectPath ScreenshotPortal::Screenshot(const QString&, const QVariantMap& options) {
    m_requests.append(options);
    const QString sender = message().service().mid(1).replace('.', '_');
    const QString path = "/org/freedesktop/portal/desktop/request/" + sender + '/' +
                         options.value("handle_token").toString();
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
