#include "config/MasterPassword.h"

#include "config/Config.h"
#include "platform/Dialogs.h"

namespace quaddle {

namespace {

const QString VerifierSetting = QStringLiteral("PH");

void SetState(TCfg& cfg, bool locked, bool active) {
    cfg.CredentialsLocked = locked;
    cfg.MasterPasswordActive = active;
}

bool Confirm(const QString& question) {
    return Dialogs().ShowMessage(question, TMsgKind::Confirmation, TMsgButtons::YesNo) ==
           TMsgAnswer::Yes;
}

} // namespace

void AskForMasterPassword(TCfg& cfg) {
    const QString verifier = cfg.GetSetting(VerifierSetting);
    if (verifier.isEmpty()) {
        SetState(cfg, false, false);
        return;
    }
    QString typed;
    while (Dialogs().AskMasterPassword(TMasterPassMode::Eingabe, typed) == TMasterPassResult::Ok) {
        if (cfg.HashPassword(typed) == verifier) {
            cfg.MasterPassword = typed;
            SetState(cfg, false, true);
            return;
        }
    }
    cfg.MasterPassword.clear();
    SetState(cfg, true, false);
}

void SetOrRemoveMasterPassword(TCfg& cfg) {
    QString typed;
    const TMasterPassResult result = Dialogs().AskMasterPassword(TMasterPassMode::Setzen, typed);
    if (result == TMasterPassResult::Abort)
        return;
    if (cfg.CredentialsLocked &&
        !Confirm(QStringLiteral(
            "You did not enter your old master password yet. If you change your master "
            "password now, you will lose all login information saved with the old master "
            "password. Are you sure you want to change your master password?")))
        return;

    if (result == TMasterPassResult::Ok) {
        cfg.MasterPassword = typed;
        cfg.SetSetting(VerifierSetting, TSettingValue::Text(cfg.HashPassword(typed)));
        SetState(cfg, false, true);
    } else {
        cfg.MasterPassword.clear();
        cfg.SetSetting(VerifierSetting, TSettingValue::Text(QString()));
        SetState(cfg, false, false);
    }
}

bool ConfirmStoringPassword(const TCfg& cfg, const QString& password) {
    if (password.isEmpty() || cfg.MasterPasswordActive)
        return true;
    const QString reason =
        cfg.CredentialsLocked
            ? QStringLiteral("You have disabled encryption by not entering your master password.")
            : QStringLiteral("You have not set a master password yet.");
    return Confirm(reason + QStringLiteral(" Passwords will not be encrypted and can easily be "
                                           "obtained by anyone with access to your computer. "
                                           "Do you still want to save this password?"));
}

} // namespace quaddle
