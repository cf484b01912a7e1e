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
// file:// address of a small PNG it made. A forger, another connection on the bus, may answer
// each request first, as any program of the session could.
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
    // From now on the forger answers each request with response 0 and the file:// address of
    // file, before the portal does: to every listener, or to the caller alone when directed.
    void forgeAnswers(const QString& file, bool directed);

public slots:
    // Named as on the bus. NOLINTNEXTLINE(readability-identifier-naming)
    QDBusObjectPath Screenshot(const QString& parentWindow, const QVariantMap& options);

private:
    void sendForgedAnswer(const QString& path, const QString& caller);

    QString m_busAddress;
    QString m_connectionName;
    QString m_forgerName;
    QString m_forgedFile;
    bool m_forgedDirected = false;
    QDBusConnection m_bus;
    QTemporaryDir m_dir;
    uint m_response;
    bool m_registered = false;
    QList<QVariantMap> m_requests;
};

} // namespace quaddle::test
