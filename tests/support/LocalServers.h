#pragma once

#include <QFile>
#include <QString>

namespace quaddle::test {

// Helpers for the servers tests start on 127.0.0.1.

// A port on 127.0.0.1 that nothing listens on right now.
quint16 FreePort();
// Whether something accepts connections on the port.
bool Accepts(quint16 port);

// rwxr-xr-x: for folders a server process running as another user must enter.
constexpr QFile::Permissions Mode0755 = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                        QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                        QFile::ExeOther;

} // namespace quaddle::test
