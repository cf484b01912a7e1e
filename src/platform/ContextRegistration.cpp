#include "platform/ContextRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace quaddle {

namespace {

QString ApplicationsDir() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/applications");
}

QString LinkPath() {
    return ApplicationsDir() + QStringLiteral("/quaddle-context.desktop");
}

void UpdateDesktopDatabase() {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (!tool.isEmpty())
        QProcess::startDetached(tool, {ApplicationsDir()});
}

} // namespace

QString ContextEntryPath(const QString& programDir) {
    // An empty program directory means the working directory; the link needs a full path.
    return QFileInfo(programDir + QStringLiteral("QuaddleContext.desktop")).absoluteFilePath();
}

bool IsContextRegistered(const QString& programDir) {
    const QFileInfo link(LinkPath());
    return link.isSymLink() && link.symLinkTarget() == ContextEntryPath(programDir);
}

void RegisterContext(const QString& programDir) {
    QDir().mkpath(ApplicationsDir());
    QFile::remove(LinkPath());
    QFile::link(ContextEntryPath(programDir), LinkPath());
    UpdateDesktopDatabase();
}

void UnregisterContext() {
    QFile::remove(LinkPath());
    UpdateDesktopDatabase();
}

} // namespace quaddle
