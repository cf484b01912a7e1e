#pragma once

#include <QByteArray>
#include <QString>

namespace quaddle {

// The process holds the master password and server passwords in memory: a core dump would
// write them to disk, and a dumpable process lets other processes of the user read its memory.
// Call first thing in main.
void keepSecretsOutOfCoreDumps();

// Overwrites secret bytes in place before they are freed, so they do not linger in freed heap
// memory. Only the bytes this array holds alone are reached: a shared copy is left as it is.
void wipe(QByteArray& secret);
void wipe(QString& secret);
void wipe(void* secret, size_t size);

} // namespace quaddle
