#include "platform/ProgramDir.h"

#include <QCoreApplication>
#include <QSettings>

namespace quaddle {

QString findProgramDir() {
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quaddle"),
                          QStringLiteral("Quaddle"));
    const QVariant stored = store.value(QStringLiteral("ProgramDir"));
    if (!stored.isValid())
        return {};
    QString dir = stored.toString();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace quaddle
