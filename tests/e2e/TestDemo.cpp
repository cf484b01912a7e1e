#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The demo's web servers still running on this machine.
int demoWebServers() {
    QProcess pgrep;
    pgrep.start("pgrep", {"-f", "http.server --bind 127.0.0.1"});
    pgrep.waitForFinished();
    return int(pgrep.readAllStandardOutput().count('\n'));
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    void uploadedFileIsServedAtItsUrl();
};

void TestDemo::uploadedFileIsServedAtItsUrl() {
    const QTemporaryDir local;
    QFile picture(local.filePath("picture.png"));
    QVERIFY(picture.open(QIODevice::WriteOnly));
    const QByteArray contents = QByteArray("not really a picture ") + local.path().toUtf8();
    picture.write(contents);
    picture.close();
    const int serversBefore = demoWebServers();

    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QUADDLE_BUILD_DIR", QStringLiteral(QUADDLE_BUILD_DIR));
    environment.insert("QUADDLE_DEMO_AUTOCLOSE", "1");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    // The program builds the URL; the web server must answer it with the file.
    environment.insert("QUADDLE_DEMO_AFTER",
                       "curl -sf \"http://127.0.0.1:$DEMO_HTTP_PORT/picture.png\" -o " +
                           local.filePath("fetched"));
    demo.setProcessEnvironment(environment);
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start(QStringLiteral(QUADDLE_SOURCE_DIR "/scripts/demo"), {":0", picture.fileName()});
    QVERIFY(demo.waitForFinished(120000));
    QVERIFY2(demo.exitCode() == 0, demo.readAll().constData());

    QFile fetched(local.filePath("fetched"));
    QVERIFY(fetched.open(QIODevice::ReadOnly));
    QCOMPARE(fetched.readAll(), contents);
    QCOMPARE(demoWebServers(), serversBefore);
}

QTEST_GUILESS_MAIN(TestDemo)
#include "TestDemo.moc"
