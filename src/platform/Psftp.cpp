#include "platform/Psftp.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace quaddle {

QString findPsftp(const QString& programDir) {
    const QFileInfo local(programDir + QStringLiteral("psftp"));
    if (local.isFile() && local.isExecutable())
        return local.absoluteFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("psftp"));
}

} // namespace quaddle
