#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "config/Config.h"
#include "config/MasterPassword.h"

#include <QTest>
#include <memory>

using namespace quaddle;

namespace {

const QString SetNotice =
    "The master password is set. It will be asked for every time you start Quaddle.";
const QString RemovedNotice =
    "The master password is removed. Passwords are now saved without encryption.";

} // namespace

class TestMasterPassword : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setStoresVerifierAndUnlocks();
    void disableRemovesVerifier();
    void disableWithoutVerifierAddsEmptyOne();
    void abortChangesNothing();
    void changingWhileLockedAsksFirst_data();
    void changingWhileLockedAsksFirst();
    void newPasswordFromLockedStateDropsHeldCredentials();
    void storingPlainPasswordIsConfirmed_data();
    void storingPlainPasswordIsConfirmed();

private:
    // A configuration whose credentials are locked, as after declining the password.
    std::unique_ptr<Config> lockedCfg();
};

void TestMasterPassword::init() {
    startTest();
}

void TestMasterPassword::cleanup() {
    finishTest();
}

std::unique_ptr<Config> TestMasterPassword::lockedCfg() {
    auto config = std::make_unique<Config>();
    config->setSetting("PH", SettingValue::text(config->hashPassword("old")));
    config->credentialsLocked = true;
    config->lockedCredentials = {{"dXNlcg==", "cGFzcw=="}};
    config->storeServer("h", "", "", "", "", "", "", "", -1, 0);
    return config;
}

void TestMasterPassword::setStoresVerifierAndUnlocks() {
    Config config;
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Ok, "n3w");
    m_dialogs->expectMessage(SetNotice);
    setOrRemoveMasterPassword(config);
    QCOMPARE(m_dialogs->asked().last().kind, MessageKind::Information);
    QVERIFY(hasMasterPassword(config));
    QCOMPARE(config.masterPassword, QStringLiteral("n3w"));
    QCOMPARE(config.setting("PH"), config.hashPassword("n3w"));
    QCOMPARE(config.settingType("PH"), SettingType::Text);
    QVERIFY(config.masterPasswordActive);
    QVERIFY(!config.credentialsLocked);
}

void TestMasterPassword::disableRemovesVerifier() {
    Config config;
    config.masterPassword = "old";
    config.masterPasswordActive = true;
    config.setSetting("PH", SettingValue::text(config.hashPassword("old")));
    QVERIFY(hasMasterPassword(config));
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Cancel);
    m_dialogs->expectMessage(RemovedNotice);
    setOrRemoveMasterPassword(config);
    QVERIFY(!hasMasterPassword(config));
    QCOMPARE(config.masterPassword, QString());
    QCOMPARE(config.setting("PH"), QString());
    QVERIFY(!config.settingNames().contains("PH"));
    QVERIFY(!config.masterPasswordActive);
    QVERIFY(!config.credentialsLocked);
}

void TestMasterPassword::disableWithoutVerifierAddsEmptyOne() {
    Config config;
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Cancel);
    m_dialogs->expectMessage(RemovedNotice);
    setOrRemoveMasterPassword(config);
    QCOMPARE(config.settingNames().last(), QStringLiteral("PH"));
    QCOMPARE(config.setting("PH"), QString());
}

void TestMasterPassword::abortChangesNothing() {
    const std::unique_ptr<Config> config = lockedCfg();
    const QString verifier = config->setting("PH");
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Abort, "typed");
    setOrRemoveMasterPassword(*config);
    QCOMPARE(config->setting("PH"), verifier);
    QVERIFY(config->credentialsLocked);
    QCOMPARE(config->masterPassword, QString());
}

void TestMasterPassword::changingWhileLockedAsksFirst_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("set, declined") << int(MasterPasswordResult::Ok) << false;
    QTest::newRow("set, confirmed") << int(MasterPasswordResult::Ok) << true;
    QTest::newRow("disable, declined") << int(MasterPasswordResult::Cancel) << false;
    QTest::newRow("disable, confirmed") << int(MasterPasswordResult::Cancel) << true;
}

void TestMasterPassword::changingWhileLockedAsksFirst() {
    QFETCH(int, result);
    QFETCH(bool, confirmed);
    const std::unique_ptr<Config> config = lockedCfg();
    const QString verifier = config->setting("PH");
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult(result), "n3w");
    m_dialogs->expectLosingLockedLogins(confirmed);
    if (confirmed)
        m_dialogs->expectMessage(
            MasterPasswordResult(result) == MasterPasswordResult::Ok ? SetNotice : RemovedNotice);
    setOrRemoveMasterPassword(*config);
    QCOMPARE(config->credentialsLocked, !confirmed);
    const bool set = confirmed && MasterPasswordResult(result) == MasterPasswordResult::Ok;
    QCOMPARE(config->masterPasswordActive, set);
    QCOMPARE(config->setting("PH"),
             confirmed ? (set ? config->hashPassword("n3w") : QString()) : verifier);
}

void TestMasterPassword::newPasswordFromLockedStateDropsHeldCredentials() {
    const std::unique_ptr<Config> config = lockedCfg();
    m_dialogs->expectMasterPassword(MasterPasswordMode::Set, MasterPasswordResult::Ok, "n3w");
    m_dialogs->expectLosingLockedLogins(true);
    m_dialogs->expectMessage(SetNotice);
    setOrRemoveMasterPassword(*config);
    config->saveConfig();
    const QByteArray xml = m_programDir->readFile("config.xml");
    QVERIFY(!xml.contains("dXNlcg=="));
    QVERIFY(xml.contains("U=\"\" P=\"\""));
}

void TestMasterPassword::storingPlainPasswordIsConfirmed_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("state"); // none, locked, active
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("stored");
    QTest::newRow("empty password") << ""
                                    << "none" << false << false << true;
    QTest::newRow("master password active") << "pw"
                                            << "active" << false << false << true;
    QTest::newRow("none set, yes") << "pw"
                                   << "none" << true << true << true;
    QTest::newRow("none set, no") << "pw"
                                  << "none" << true << false << false;
    QTest::newRow("locked, yes") << "pw"
                                 << "locked" << true << true << true;
    QTest::newRow("locked, no") << "pw"
                                << "locked" << true << false << false;
}

void TestMasterPassword::storingPlainPasswordIsConfirmed() {
    QFETCH(QString, password);
    QFETCH(QString, state);
    QFETCH(bool, asked);
    QFETCH(bool, answerYes);
    QFETCH(bool, stored);
    Config config;
    config.credentialsLocked = state == "locked";
    config.masterPasswordActive = state == "active";
    if (asked)
        m_dialogs->expectUnencryptedPassword(config.credentialsLocked, answerYes);
    QCOMPARE(confirmStoringPassword(config, password), stored);
}

QTEST_GUILESS_MAIN(TestMasterPassword)
#include "TestMasterPassword.moc"
