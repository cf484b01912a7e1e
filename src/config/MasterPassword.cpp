#include "config/MasterPassword.h"

#include "config/Config.h"
#include "platform/AppInfo.h"
#include "platform/Dialogs.h"
#include "platform/ProcessProtection.h"

namespace quaddle {

namespace {

const QString VerifierSetting = QStringLiteral("PH");

void setState(Config& config, bool locked, bool active) {
    config.credentialsLocked = locked;
    config.masterPasswordActive = active;
}

} // namespace

void askForMasterPassword(Config& config) {
    const QString verifier = config.setting(VerifierSetting);
    if (verifier.isEmpty()) {
        setState(config, false, false);
        return;
    }
    QString typed;
    MasterPasswordMode mode = MasterPasswordMode::Enter;
    MasterPasswordResult result;
    while ((result = dialogs().askMasterPassword(mode, typed)) == MasterPasswordResult::Ok) {
        if (config.hashPassword(typed) == verifier) {
            config.masterPassword = typed;
            setState(config, false, true);
            return;
        }
        mode = MasterPasswordMode::EnterAgain;
        wipe(typed);
        typed.clear();
    }
    config.quitRequested = result == MasterPasswordResult::Abort;
    config.masterPassword.clear();
    setState(config, true, false);
}

void setOrRemoveMasterPassword(Config& config) {
    QString typed;
    const MasterPasswordResult result = dialogs().askMasterPassword(MasterPasswordMode::Set, typed);
    if (result == MasterPasswordResult::Abort)
        return;
    if (config.credentialsLocked && !dialogs().confirmLosingLockedLogins())
        return;

    if (result == MasterPasswordResult::Ok) {
        config.masterPassword = typed;
        config.setSetting(VerifierSetting, SettingValue::text(config.hashPassword(typed)));
        setState(config, false, true);
        dialogs().notify(MessageKind::Information,
                         QStringLiteral("The master password is set. It will be asked for every "
                                        "time you start ") +
                             AppName + QLatin1Char('.'));
    } else {
        config.masterPassword.clear();
        config.setSetting(VerifierSetting, SettingValue::text(QString()));
        setState(config, false, false);
        dialogs().notify(MessageKind::Information,
                         QStringLiteral("The master password is removed. Passwords are now saved "
                                        "without encryption."));
    }
}

bool hasMasterPassword(const Config& config) {
    return !config.setting(VerifierSetting).isEmpty();
}

bool confirmStoringPassword(const Config& config, const QString& password) {
    if (password.isEmpty() || config.masterPasswordActive)
        return true;
    return dialogs().confirmUnencryptedPassword(config.credentialsLocked);
}

} // namespace quaddle
