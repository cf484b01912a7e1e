#pragma once

#include <QString>

namespace quaddle {

class TCfg;

// While loading: when a master password is set, asks for it until the right one is entered
// (credentials unlocked) or the user declines (credentials locked, kept as stored).
void AskForMasterPassword(TCfg& cfg);

// Sets a new master password or removes it, as the user chooses in the dialog. From the locked
// state this loses the stored credentials, so the user is asked first.
void SetOrRemoveMasterPassword(TCfg& cfg);

// Before a server's password is stored: without an active master password it would be kept
// practically unencrypted, so the user confirms. True when the password may be stored.
bool ConfirmStoringPassword(const TCfg& cfg, const QString& password);

} // namespace quaddle
