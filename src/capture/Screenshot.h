#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <optional>

class QDBusMessage;
class QDBusPendingCallWatcher;
class QEventLoop;

namespace quaddle {

class AreaPicker;
class ImageFolder;

enum class ScreenshotStatus { Taken, Cancelled, Failed };

struct ScreenshotResult {
    ScreenshotStatus status = ScreenshotStatus::Failed;
    // Taken: the saved PNG file.
    QString path;
    // Failed: why, for the user.
    QString problem;
};

// Takes one screenshot and saves it as "screenshot-yyyyMMdd-HHmmss.png" in an image folder:
// through the desktop's screenshot portal when the session bus offers one (the desktop shows its
// own area picker then), else, in an X11 session of a Gui application, with the program's own
// AreaPicker over the frozen screen.
class ScreenshotTaker : public QObject {
    Q_OBJECT
    // Only the library itself speaks D-Bus; its users need not see it.
    Q_MOC_INCLUDE(<QDBusMessage>)

public:
    explicit ScreenshotTaker(ImageFolder& folder);
    ~ScreenshotTaker() override;

    // Waits, with the event loop running, until the screenshot is taken or not.
    ScreenshotResult take(const QDateTime& now = QDateTime::currentDateTime());
    // Ends the take() under way, or the next one, as cancelled.
    void cancel();

private slots:
    // The portal's org.freedesktop.portal.Request.Response signal.
    void portalResponded(uint response, const QVariantMap& results, const QDBusMessage& message);

private:
    // Nothing when there is no portal to ask.
    std::optional<ScreenshotResult> takeThroughPortal(const QDateTime& now);
    ScreenshotResult takeWithPicker(const QDateTime& now);
    // The portal's answer, once the call is accepted; nothing when the portal refused the call.
    std::optional<ScreenshotResult> awaitPortal(QDBusPendingCallWatcher& call,
                                                const QString& requestPath, const QDateTime& now);
    ScreenshotResult savedPortalFile(const QVariantMap& results, const QDateTime& now);
    void listenTo(const QString& requestPath);
    void closeRequest();

    ImageFolder& m_folder;
    bool m_cancelled = false;
    QEventLoop* m_loop = nullptr;
    AreaPicker* m_picker = nullptr;
    QString m_requestPath;
    // The unique bus name of the portal asked.
    QString m_portalOwner;
    std::optional<std::pair<uint, QVariantMap>> m_response;
};

} // namespace quaddle
