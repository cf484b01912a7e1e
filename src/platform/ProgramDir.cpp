#include "platform/ProgramDir.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace quaddle {

QString defaultProgramDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quaddle/");
}

QSettings userSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quaddle"),
                     QStringLiteral("Quaddle"));
}

QString findProgramDir() {
    const QSettings store = userSettings();
    const QVariant stored = store.value(QStringLiteral("ProgramDir"));
    // Without a value, the user's own data folder, so that where the program is started from
    // does not matter.
    if (!stored.isValid())
        return defaultProgramDir();
    QString dir = stored.toString();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace quaddle
