// The desktop notification at the end of a run, through the built program and a private session
// bus on which this test serves the notification service itself.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramRun.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantMap>

using namespace quaddle;
using namespace quaddle::test;

namespace {

// What the desktop's notification service does, as far as the program uses it: it keeps what
// it was asked to show.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString application;
        QString icon;
        QString summary;
        QString body;
        QString desktopEntry;
    };
    QList<Shown> shown;

public slots:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        shown.append({application, icon, summary, body, hints.value("desktop-entry").toString()});
        return uint(shown.size());
    }
};

} // namespace

class TestNotificationE2E : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void runEndIsNotified_data();
    void runEndIsNotified();

private:
    QProcess m_bus;
    QString m_busAddress;
};

void TestNotificationE2E::initTestCase() {
    m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is needed (package dbus)");
    while (!m_bus.canReadLine())
        QVERIFY(m_bus.waitForReadyRead(10000));
    m_busAddress = QString::fromUtf8(m_bus.readLine().trimmed());
}

void TestNotificationE2E::cleanupTestCase() {
    m_bus.terminate();
    m_bus.waitForFinished();
}

void TestNotificationE2E::runEndIsNotified_data() {
    QTest::addColumn<bool>("serviceThere");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<bool>("autoCopy");
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("summary"); // empty: no notification
    QTest::addColumn<QString>("body");
    QTest::newRow("copied") << true << true << true << 2 << "2 files uploaded"
                            << "The addresses are on the clipboard.";
    QTest::newRow("not copied") << true << true << false << 1 << "1 file uploaded"
                                << "";
    QTest::newRow("turned off") << true << false << true << 1 << ""
                                << "";
    QTest::newRow("no service") << false << true << true << 1 << ""
                                << "";
}

void TestNotificationE2E::runEndIsNotified() {
    QFETCH(bool, serviceThere);
    QFETCH(bool, notify);
    QFETCH(bool, autoCopy);
    QFETCH(int, files);
    QFETCH(QString, summary);
    QFETCH(QString, body);
    const QString connectionName = "service-" + QString::fromUtf8(QTest::currentDataTag());
    QDBusConnection bus = QDBusConnection::connectToBus(m_busAddress, connectionName);
    QVERIFY(bus.isConnected());
    NotificationService service;
    if (serviceThere) {
        QVERIFY(bus.registerObject("/org/freedesktop/Notifications", &service,
                                   QDBusConnection::ExportAllSlots));
        QVERIFY(bus.registerService("org.freedesktop.Notifications"));
    }
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    const TempProgramDir programDir;
    saveServerConfig(setupFor(server), {{"Autoclose", SettingValue::boolean(true)},
                                        {"AutoCopy", SettingValue::boolean(autoCopy)},
                                        {"Notify", SettingValue::boolean(notify)}});
    const QTemporaryDir local;
    QStringList arguments{":0"};
    for (int index = 0; index < files; ++index)
        arguments.append(localFile(local, QString("f%1.txt").arg(index), "text"));
    QProcessEnvironment environment = programDir.environment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", m_busAddress);
    ProgramRun program(arguments, environment);
    // The service answers through this event loop while the program runs.
    QTRY_VERIFY_WITH_TIMEOUT(!program.running(), 60000);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QFile::exists(server.localPath("f0.txt")));
    if (summary.isEmpty()) {
        QCOMPARE(service.shown.size(), 0);
    } else {
        QCOMPARE(service.shown.size(), 1);
        QCOMPARE(service.shown[0].application, QString("Quaddle"));
        QCOMPARE(service.shown[0].icon, QString("quaddle"));
        QCOMPARE(service.shown[0].summary, summary);
        QCOMPARE(service.shown[0].body, body);
        QCOMPARE(service.shown[0].desktopEntry, QString("org.example.quaddle"));
    }
    bus.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus(connectionName);
}

QTEST_GUILESS_MAIN(TestNotificationE2E)
#include "TestNotificationE2E.moc"
