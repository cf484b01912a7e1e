#pragma once

#include <QString>

namespace quaddle {

class Config;

// While loading: when a master password is set, asks for it until the right one is entered
// (credentials unlocked) or the user declines (credentials locked, kept as stored) or quits
// (locked, and the configuration's quitRequested set).
void askForMasterPassword(Config& config);

// Sets a new master password or removes it, as the user chooses in the dialog, and says so.
// From the locked state this loses the stored credentials, so the user is asked first.
void setOrRemoveMasterPassword(Config& config);

// True when a master password is set, whether or not it was entered in this run.
bool hasMasterPassword(const Config& config);

// Before a server's password is stored: without an active master password it would be kept
// practically unencrypted, so the user confirms. True when the password may be stored.
bool confirmStoringPassword(const Config& config, const QString& password);

} // namespace quaddle
