#include "platform/Psftp.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

} // namespace quaddle
