#pragma once

#include <QFile>
#include <QList>
#include <QString>

class QProcess;

namespace quaddle::test {

// Helpers for the servers tests start on 127.0.0.1.

// The local account that SSH and vsftpd's local logins use; scripts/test-account creates it
// with this password (keep both in sync). The "!" makes callers quote it for a shell.
const QString TestAccount = QStringLiteral("quaddle-test");
const QString TestAccountPassword = QStringLiteral("Qu4ddle-test!");

// A port on 127.0.0.1 that nothing listens on right now.
quint16 freePort();
// Whether something accepts connections on the port.
bool accepts(quint16 port);

// How long a test server may take to start.
constexpr int StartTimeoutMs = 20000;
// Waits until the started server process accepts connections on the port; false when it ends
// or does not within StartTimeoutMs.
bool waitUntilListening(QProcess& server, quint16 port);

// The process and every process below it, found through the parent links in /proc.
QList<qint64> processFamily(qint64 pid);

// rwxr-xr-x: for folders a server process running as another user must enter.
constexpr QFile::Permissions Mode0755 = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther;

} // namespace quaddle::test
