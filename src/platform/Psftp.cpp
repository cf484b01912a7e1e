#include "platform/Psftp.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>

namespace quaddle {

QString findPsftp(const QString& programDir) {
    // A relative folder would make whatever lies in the working directory the program's psftp.
    if (QDir::isAbsolutePath(programDir)) {
        const QFileInfo local(programDir + QStringLiteral("psftp"));
        if (local.isFile() && local.isExecutable())
            return local.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("psftp"));
}

QString psftpHostKeyCache() {
    // PuTTY's own order: its variables; its folder in the user's configuration folder; the
    // first ".putty" folder that exists in $HOME, in the account's home or at the root; else
    // the one in $HOME, which psftp creates.
    if (qEnvironmentVariableIsSet("PUTTYSSHHOSTKEYS"))
        return qEnvironmentVariable("PUTTYSSHHOSTKEYS");
    const QString file = QStringLiteral("/sshhostkeys");
    if (qEnvironmentVariableIsSet("PUTTYDIR"))
        return qEnvironmentVariable("PUTTYDIR") + file;
    const QString home = qEnvironmentVariable("HOME");
    const passwd* account = ::getpwuid(::getuid());
    const QString accountHome =
        account && account->pw_dir ? QFile::decodeName(account->pw_dir) : QString();
    const QString ownHome = home.isEmpty() ? accountHome : home;
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString xdgDir = (config.isEmpty() ? ownHome + QStringLiteral("/.config") : config) +
                           QStringLiteral("/putty");
    const QStringList dirs{xdgDir, home + QStringLiteral("/.putty"),
                           accountHome + QStringLiteral("/.putty"), QStringLiteral("/.putty")};
    for (const QString& dir : dirs)
        if (QFileInfo::exists(dir))
            return dir + file;
    return ownHome + QStringLiteral("/.putty") + file;
}

} // namespace quaddle
