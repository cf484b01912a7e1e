#include "ScriptedDialogs.h"
#include "TempProgramDir.h"
#include "config/Config.h"
#include "config/MasterPassword.h"

#include <QTest>
#include <memory>

using namespace quaddle;

namespace {

const QString LosingLockedQuestion =
    "You did not enter your old master password yet. If you change your master password now, "
    "you will lose all login information saved with the old master password. Are you sure you "
    "want to change your master password?";
const QString NotSetQuestion =
    "You have not set a master password yet. Passwords will not be encrypted and can easily be "
    "obtained by anyone with access to your computer. Do you still want to save this password?";
const QString DisabledQuestion =
    "You have disabled encryption by not entering your master password. Passwords will not be "
    "encrypted and can easily be obtained by anyone with access to your computer. Do you still "
    "want to save this password?";

} // namespace

class TestMasterPassword : public QObject {
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
    std::unique_ptr<TCfg> LockedCfg();

    std::unique_ptr<test::TTempProgramDir> ProgramDir;
    std::unique_ptr<test::TScriptedDialogs> Dialogs;
};

void TestMasterPassword::init() {
    ProgramDir = std::make_unique<test::TTempProgramDir>();
    Dialogs = std::make_unique<test::TScriptedDialogs>();
}

void TestMasterPassword::cleanup() {
    QUADDLE_VERIFY_DIALOGS(*Dialogs);
    Dialogs.reset();
    ProgramDir.reset();
}

std::unique_ptr<TCfg> TestMasterPassword::LockedCfg() {
    auto cfg = std::make_unique<TCfg>();
    cfg->SetSetting("PH", TSettingValue::Text(cfg->HashPassword("old")));
    cfg->CredentialsLocked = true;
    cfg->LockedCredentials = {{"dXNlcg==", "cGFzcw=="}};
    cfg->StoreServer("h", "", "", "", "", "", "", "", -1, 0);
    return cfg;
}

void TestMasterPassword::setStoresVerifierAndUnlocks() {
    TCfg cfg;
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Ok, "n3w");
    SetOrRemoveMasterPassword(cfg);
    QCOMPARE(cfg.MasterPassword, QStringLiteral("n3w"));
    QCOMPARE(cfg.GetSetting("PH"), cfg.HashPassword("n3w"));
    QCOMPARE(cfg.GetSettingType("PH"), TSettingType::Text);
    QVERIFY(cfg.MasterPasswordActive);
    QVERIFY(!cfg.CredentialsLocked);
}

void TestMasterPassword::disableRemovesVerifier() {
    TCfg cfg;
    cfg.MasterPassword = "old";
    cfg.MasterPasswordActive = true;
    cfg.SetSetting("PH", TSettingValue::Text(cfg.HashPassword("old")));
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Cancel);
    SetOrRemoveMasterPassword(cfg);
    QCOMPARE(cfg.MasterPassword, QString());
    QCOMPARE(cfg.GetSetting("PH"), QString());
    QVERIFY(!cfg.SettingNames().contains("PH"));
    QVERIFY(!cfg.MasterPasswordActive);
    QVERIFY(!cfg.CredentialsLocked);
}

void TestMasterPassword::disableWithoutVerifierAddsEmptyOne() {
    TCfg cfg;
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Cancel);
    SetOrRemoveMasterPassword(cfg);
    QCOMPARE(cfg.SettingNames().last(), QStringLiteral("PH"));
    QCOMPARE(cfg.GetSetting("PH"), QString());
}

void TestMasterPassword::abortChangesNothing() {
    const std::unique_ptr<TCfg> cfg = LockedCfg();
    const QString verifier = cfg->GetSetting("PH");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Abort, "typed");
    SetOrRemoveMasterPassword(*cfg);
    QCOMPARE(cfg->GetSetting("PH"), verifier);
    QVERIFY(cfg->CredentialsLocked);
    QCOMPARE(cfg->MasterPassword, QString());
}

void TestMasterPassword::changingWhileLockedAsksFirst_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("set, declined") << int(TMasterPassResult::Ok) << false;
    QTest::newRow("set, confirmed") << int(TMasterPassResult::Ok) << true;
    QTest::newRow("disable, declined") << int(TMasterPassResult::Cancel) << false;
    QTest::newRow("disable, confirmed") << int(TMasterPassResult::Cancel) << true;
}

void TestMasterPassword::changingWhileLockedAsksFirst() {
    QFETCH(int, result);
    QFETCH(bool, confirmed);
    const std::unique_ptr<TCfg> cfg = LockedCfg();
    const QString verifier = cfg->GetSetting("PH");
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult(result), "n3w");
    Dialogs->ExpectMessage(LosingLockedQuestion, confirmed ? TMsgAnswer::Yes : TMsgAnswer::No);
    SetOrRemoveMasterPassword(*cfg);
    QCOMPARE(Dialogs->Asked().last().Buttons, TMsgButtons::YesNo);
    QCOMPARE(cfg->CredentialsLocked, !confirmed);
    const bool set = confirmed && TMasterPassResult(result) == TMasterPassResult::Ok;
    QCOMPARE(cfg->MasterPasswordActive, set);
    QCOMPARE(cfg->GetSetting("PH"),
             confirmed ? (set ? cfg->HashPassword("n3w") : QString()) : verifier);
}

void TestMasterPassword::newPasswordFromLockedStateDropsHeldCredentials() {
    const std::unique_ptr<TCfg> cfg = LockedCfg();
    Dialogs->ExpectMasterPassword(TMasterPassMode::Setzen, TMasterPassResult::Ok, "n3w");
    Dialogs->ExpectMessage(LosingLockedQuestion, TMsgAnswer::Yes);
    SetOrRemoveMasterPassword(*cfg);
    cfg->SaveConfig();
    const QByteArray xml = ProgramDir->ReadFile("config.xml");
    QVERIFY(!xml.contains("dXNlcg=="));
    QVERIFY(xml.contains("U=\"\" P=\"\""));
}

void TestMasterPassword::storingPlainPasswordIsConfirmed_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("state"); // none, locked, active
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<bool>("stored");
    QTest::newRow("empty password") << ""
                                    << "none"
                                    << "" << false << true;
    QTest::newRow("master password active") << "pw"
                                            << "active"
                                            << "" << false << true;
    QTest::newRow("none set, yes") << "pw"
                                   << "none" << NotSetQuestion << true << true;
    QTest::newRow("none set, no") << "pw"
                                  << "none" << NotSetQuestion << false << false;
    QTest::newRow("locked, yes") << "pw"
                                 << "locked" << DisabledQuestion << true << true;
    QTest::newRow("locked, no") << "pw"
                                << "locked" << DisabledQuestion << false << false;
}

void TestMasterPassword::storingPlainPasswordIsConfirmed() {
    QFETCH(QString, password);
    QFETCH(QString, state);
    QFETCH(QString, question);
    QFETCH(bool, answerYes);
    QFETCH(bool, stored);
    TCfg cfg;
    cfg.CredentialsLocked = state == "locked";
    cfg.MasterPasswordActive = state == "active";
    if (!question.isEmpty())
        Dialogs->ExpectMessage(question, answerYes ? TMsgAnswer::Yes : TMsgAnswer::No);
    QCOMPARE(ConfirmStoringPassword(cfg, password), stored);
}

QTEST_GUILESS_MAIN(TestMasterPassword)
#include "TestMasterPassword.moc"
