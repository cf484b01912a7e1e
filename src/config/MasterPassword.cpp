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

bool confirm(const QString& question) {
    return dialogs().showMessage(question, MessageKind::Confirmation, MessageButtons::YesNo) ==
           MessageAnswer::Yes;
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
    if (config.credentialsLocked &&
        !confirm(QStringLiteral(
            "You did not enter your old master password yet. If you change your master "
            "password now, you will lose all login information saved with the old master "
            "password. Are you sure you want to change your master password?")))
        return;

    if (result == MasterPasswordResult::Ok) {
        config.masterPassword = typed;
        config.setSetting(VerifierSetting, SettingValue::text(config.hashPassword(typed)));
        setState(config, false, true);
        dialogs().showMessage(QStringLiteral("The master password is set. It will be asked for "
                                             "every time you start ") +
                                  AppName + QLatin1Char('.'),
                              MessageKind::Information, MessageButtons::Ok);
    } else {
        config.masterPassword.clear();
        config.setSetting(VerifierSetting, SettingValue::text(QString()));
        setState(config, false, false);
        dialogs().showMessage(QStringLiteral("The master password is removed. Passwords are "
                                             "now saved without encryption."),
                              MessageKind::Information, MessageButtons::Ok);
    }
}

bool hasMasterPassword(const Config& config) {
    return !config.setting(VerifierSetting).isEmpty();
}

bool confirmStoringPassword(const Config& config, const QString& password) {
    if (password.isEmpty() || config.masterPasswordActive)
        return true;
    const QString reason =
        config.credentialsLocked
            ? QStringLiteral("You have disabled encryption by not entering your master password.")
            : QStringLiteral("You have not set a master password yet.");
    return confirm(reason + QStringLiteral(" Passwords will not be encrypted and can easily be "
                                           "obtained by anyone with access to your computer. "
                                           "Do you still want to save this password?"));
}

} // namespace quaddle
