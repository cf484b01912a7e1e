#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>
#include <QTemporaryDir>
#include <QVariantMap>

namespace quaddle::test {

// The desktop's screenshot portal as far as the program uses it, served on a bus by this
// process: every request is answered with the response it is given, and response 0 with the
// file:// address of a small PNG it made.
class ScreenshotPortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

public:
    ScreenshotPortal(const QString& busAddress, uint response);
    ~ScreenshotPortal() override;

    bool registered() const { return m_registered; }
    QString pngPath() const { return m_dir.filePath("shot.png"); }
    // The options of each call so far.
    const QList<QVariantMap>& requests() const { return m_requests; }

public slots:
    // Named as on the bus. NOLINTNEXTLINE(readability-identifier-naming)
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options);

private:
    QString m_connectionName;
    QDBusConnection m_bus;
    QTemporaryDir m_dir;
    uint m_response;
    bool m_registered = false;
    QList<QVariantMap> m_requests;
};

} // namespace quaddle::test
