#include "platform/ContextRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace quaddle {

namespace {

QString applicationsDir() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/applications");
}

QString linkPath() {
    return applicationsDir() + QStringLiteral("/quaddle-context.desktop");
}

void updateDesktopDatabase() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (!tool.isEmpty())
        QProcess::startDetached(tool, {applicationsDir()});
}

} // namespace

QString contextEntryPath(const QString& programDir) {
    // An empty program directory means the working directory; the link needs a full path.
    return QFileInfo(programDir + QStringLiteral("QuaddleContext.desktop")).absoluteFilePath();
}

bool isContextRegistered(const QString& programDir) {
    const QFileInfo link(linkPath());
    return link.isSymLink() && link.symLinkTarget() == contextEntryPath(programDir);
}

void registerContext(const QString& programDir) {
    QDir().mkpath(applicationsDir());
    QFile::remove(linkPath());
    QFile::link(contextEntryPath(programDir), linkPath());
    updateDesktopDatabase();
}

void unregisterContext() {
    QFile::remove(linkPath());
    updateDesktopDatabase();
}

} // namespace quaddle
