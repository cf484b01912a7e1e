// The questions of an upload run, answered in the window's dialogs' place, against a real
// pyftpdlib server whose folder and the saved config.xml tell what the answers did.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramFixture.h"
#include "ServerConfig.h"
#include "app/MainWindow.h"
#include "thumbs/Jpeg.h"
#include "thumbs/Thumbnail.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quaddle;
using quaddle::test::FtpServer;
using quaddle::test::ServerSetup;

namespace {

// The size pyftpdlib's thumbnails of jpegFile come out in with the default settings.
const QSize ThumbnailSize(267, 200);
const QString OldPicture = "the picture on the server before";
const QString OldThumbnail = "its thumbnail on the server before";
const QString MasterPassword = "m4ster";

QString jpegFile(const QTemporaryDir& dir, const QString& name) {
    QImage image(800, 600, QImage::Format_RGB32);
    image.fill(qRgb(40, 120, 200));
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(encodeJpeg(image, 90)) <= 0)
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QString textOf(const QString& path) {
    return QString::fromUtf8(test::readFile(path));
}

// The configuration as the next start of the program reads it.
std::unique_ptr<Config> savedConfig() {
    auto config = std::make_unique<Config>();
    config->loadConfig(true);
    return config;
}

// The test server, stored under a master password, as the server manager stores it.
void saveServerUnderMasterPassword(const ServerSetup& server) {
    Config config;
    config.masterPassword = MasterPassword;
    config.masterPasswordActive = true;
    config.setSetting("PH", SettingValue::text(config.hashPassword(MasterPassword)));
    const qint32 index =
        config.storeServer(server.host, QString::number(server.port), server.user, server.password,
                           QString(), QString(), QString(), server.type, -1, -1);
    config.serverNames[index] = server.name;
    config.saveConfig();
}

} // namespace

class TestRunQuestions : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void thumbnailFollowsItsPicturesAnswer_data();
    void thumbnailFollowsItsPicturesAnswer();
    void thumbnailSettingDecidesWithoutAsking_data();
    void thumbnailSettingDecidesWithoutAsking();
    void neverAskKeepsTheAnswer_data();
    void neverAskKeepsTheAnswer();
    void rememberedPasswordIsStoredEncrypted_data();
    void rememberedPasswordIsStoredEncrypted();
    void refusedLoginNamesServerAndUser();

private:
    std::unique_ptr<QTemporaryDir> m_local;
};

void TestRunQuestions::init() {
    startTest();
    m_local = std::make_unique<QTemporaryDir>();
}

void TestRunQuestions::cleanup() {
    finishTest();
    m_local.reset();
    removeMadeThumbnails();
}

void TestRunQuestions::thumbnailFollowsItsPicturesAnswer_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("pictureThere"); // else only its thumbnail is on the server
    QTest::newRow("overwrite") << int(FileExistsChoice::Overwrite) << true;
    QTest::newRow("rename") << int(FileExistsChoice::Rename) << true;
    QTest::newRow("skip") << int(FileExistsChoice::Skip) << true;
    // A picture that was not asked about gives no answer to follow: its thumbnail is asked.
    QTest::newRow("thumbnail alone, overwrite") << int(FileExistsChoice::Overwrite) << false;
}

void TestRunQuestions::thumbnailFollowsItsPicturesAnswer() {
    QFETCH(int, choice);
    QFETCH(bool, pictureThere);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Overwrite", SettingValue::integer(0)}});
    if (pictureThere)
        test::writeFile(server.localPath("photo.jpg"), OldPicture.toUtf8());
    test::writeFile(server.localPath("photo_thumb.jpg"), OldThumbnail.toUtf8());
    const QString picture = jpegFile(*m_local, "photo.jpg");
    MainWindow form({picture, test::sparseLocalFile(*m_local, "notes.txt", 20)});
    form.show();
    m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, true);
    // Asked once, about the picture; its thumbnail takes the same answer.
    m_dialogs->expectFileExists(pictureThere ? QStringLiteral("photo.jpg")
                                             : QStringLiteral("photo_thumb.jpg"),
                                {FileExistsChoice(choice), false});
    form.startUpload();

    const QString remoteThumbnail = server.localPath("photo_thumb.jpg");
    switch (FileExistsChoice(choice)) {
    case FileExistsChoice::Overwrite:
        QCOMPARE(test::fileChecksum(server.localPath("photo.jpg")), test::fileChecksum(picture));
        QCOMPARE(QImage(remoteThumbnail).size(), ThumbnailSize);
        QVERIFY(QDir(server.localPath("")).entryList({"*_001*"}).isEmpty());
        break;
    case FileExistsChoice::Rename:
        QCOMPARE(textOf(server.localPath("photo_001.jpg")), OldPicture);
        QCOMPARE(textOf(server.localPath("photo_thumb_001.jpg")), OldThumbnail);
        QCOMPARE(test::fileChecksum(server.localPath("photo.jpg")), test::fileChecksum(picture));
        QCOMPARE(QImage(remoteThumbnail).size(), ThumbnailSize);
        break;
    case FileExistsChoice::Skip:
        QCOMPARE(textOf(server.localPath("photo.jpg")), OldPicture);
        QCOMPARE(textOf(remoteThumbnail), OldThumbnail);
        QVERIFY(QDir(server.localPath("")).entryList({"*_001*"}).isEmpty());
        break;
    }
    QVERIFY(QFile::exists(server.localPath("notes.txt")));
}

void TestRunQuestions::thumbnailSettingDecidesWithoutAsking_data() {
    QTest::addColumn<int>("policy");
    QTest::newRow("Always") << int(Config::ThumbnailPolicy::Always);
    QTest::newRow("Never") << int(Config::ThumbnailPolicy::Never);
}

void TestRunQuestions::thumbnailSettingDecidesWithoutAsking() {
    QFETCH(int, policy);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server),
                           {{"MakeThumbnails", SettingValue::integer(policy)}});
    MainWindow form({jpegFile(*m_local, "photo.jpg")});
    form.show();
    // No question: the scripted dialogs expect none.
    form.startUpload();
    QVERIFY(QFile::exists(server.localPath("photo.jpg")));
    const bool made = Config::ThumbnailPolicy(policy) == Config::ThumbnailPolicy::Always;
    QCOMPARE(QFile::exists(server.localPath("photo_thumb.jpg")), made);
    if (made)
        QCOMPARE(QImage(server.localPath("photo_thumb.jpg")).size(), ThumbnailSize);
}

void TestRunQuestions::neverAskKeepsTheAnswer_data() {
    QTest::addColumn<bool>("make");
    QTest::addColumn<bool>("neverAsk");
    QTest::newRow("yes, don't ask again") << true << true;
    QTest::newRow("no, don't ask again") << false << true;
    QTest::newRow("yes, ask again") << true << false;
}

void TestRunQuestions::neverAskKeepsTheAnswer() {
    QFETCH(bool, make);
    QFETCH(bool, neverAsk);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server));
    QCOMPARE(savedConfig()->thumbnailPolicy(), Config::ThumbnailPolicy::Ask);
    {
        MainWindow form({jpegFile(*m_local, "first.jpg")});
        form.show();
        m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, make, neverAsk);
        form.startUpload();
        QCOMPARE(QFile::exists(server.localPath("first_thumb.jpg")), make);
    }
    const Config::ThumbnailPolicy kept = !neverAsk ? Config::ThumbnailPolicy::Ask
                                         : make    ? Config::ThumbnailPolicy::Always
                                                   : Config::ThumbnailPolicy::Never;
    QCOMPARE(savedConfig()->thumbnailPolicy(), kept);

    // The next start of the program asks only when the user did not say otherwise.
    MainWindow next({jpegFile(*m_local, "second.jpg")});
    next.show();
    if (!neverAsk)
        m_dialogs->expectThumbnailOffer(ThumbnailImages::Jpeg, make);
    next.startUpload();
    QCOMPARE(QFile::exists(server.localPath("second_thumb.jpg")), make);
}

void TestRunQuestions::rememberedPasswordIsStoredEncrypted_data() {
    QTest::addColumn<bool>("masterPassword");
    QTest::addColumn<bool>("remember");
    QTest::addColumn<bool>("acceptUnencrypted"); // without a master password
    QTest::addColumn<bool>("stored");
    QTest::newRow("master password") << true << true << false << true;
    QTest::newRow("none, accepted") << false << true << true << true;
    QTest::newRow("none, declined") << false << true << false << false;
    QTest::newRow("not ticked") << false << false << false << false;
}

void TestRunQuestions::rememberedPasswordIsStoredEncrypted() {
    QFETCH(bool, masterPassword);
    QFETCH(bool, remember);
    QFETCH(bool, acceptUnencrypted);
    QFETCH(bool, stored);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.name = "Local FTP";
    setup.password.clear();
    if (masterPassword)
        saveServerUnderMasterPassword(setup);
    else
        test::saveServerConfig(setup);
    const auto unlock = [&] {
        if (masterPassword)
            m_dialogs->expectMasterPassword(MasterPasswordMode::Enter, MasterPasswordResult::Ok,
                                            MasterPassword);
    };
    {
        unlock();
        MainWindow form({test::sparseLocalFile(*m_local, "a.txt", 10)});
        form.show();
        m_dialogs->expectLogin(server.user(), server.password(), remember);
        if (remember && !masterPassword)
            m_dialogs->expectUnencryptedPassword(false, acceptUnencrypted);
        form.startUpload();
        QVERIFY(QFile::exists(server.localPath("a.txt")));
    }
    // The prompt said for which server it asked, and offered to remember the password.
    const auto login = std::find_if(m_dialogs->asked().begin(), m_dialogs->asked().end(),
                                    [](const auto& asked) { return asked.dialog == "login"; });
    QVERIFY(login != m_dialogs->asked().end() && login->login);
    QCOMPARE(login->login->server, QStringLiteral("Local FTP"));
    QCOMPARE(login->login->host, QStringLiteral("127.0.0.1"));
    QVERIFY(login->login->offerRemember);

    // Never in clear text in the file; read back as the program reads it, the typed password.
    QVERIFY(!m_programDir->readFile("config.xml").contains(server.password().toUtf8()));
    unlock();
    const std::unique_ptr<Config> saved = savedConfig();
    QCOMPARE(saved->servers.size(), 1);
    QCOMPARE(saved->servers.at(0).password, stored ? server.password() : QString());
    QCOMPARE(saved->servers.at(0).user, server.user());

    // The next run logs in with it, without asking; or asks again.
    unlock();
    MainWindow next({test::sparseLocalFile(*m_local, "b.txt", 10)});
    next.show();
    if (!stored)
        m_dialogs->expectLogin(server.user(), server.password());
    next.startUpload();
    QVERIFY(QFile::exists(server.localPath("b.txt")));
}

void TestRunQuestions::refusedLoginNamesServerAndUser() {
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    ServerSetup setup = test::setupFor(server);
    setup.name = "Local FTP";
    setup.password = "wrong";
    test::saveServerConfig(setup);
    MainWindow form({test::sparseLocalFile(*m_local, "a.txt", 10)});
    form.show();
    m_dialogs->expectLoginRetry(true);
    m_dialogs->expectLogin(server.user(), server.password());
    form.startUpload();
    QVERIFY(QFile::exists(server.localPath("a.txt")));
    const test::AskedQuestion& refused = m_dialogs->asked().first();
    QCOMPARE(refused.dialog, QStringLiteral("login again"));
    QVERIFY(refused.login);
    QCOMPARE(refused.login->server, QStringLiteral("Local FTP"));
    QCOMPARE(refused.login->host, QStringLiteral("127.0.0.1"));
    QCOMPARE(refused.given, server.user());
}

QTEST_MAIN(TestRunQuestions)
#include "TestRunQuestions.moc"
