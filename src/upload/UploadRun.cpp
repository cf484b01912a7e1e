#include "upload/UploadRun.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProgramDir.h"
#include "upload/UploadSession.h"

namespace quaddle {

QString sessionRemoteDir(const ServerRecord& server, const QString& remoteDir) {
    if (!server[RootDir].isEmpty() && remoteDir.startsWith(QLatin1Char('/')))
        return QLatin1Char('.') + remoteDir;
    return remoteDir;
}

void configureSession(UploadSession& session, const Config& config, const ServerRecord& server) {
    if (config.boolSetting(QStringLiteral("Passive")))
        session.driver().setOption(ProtocolDriver::PassiveMode);
    session.setPermissions(server[Chmod]);
    session.setTempNames(config.boolSetting(QStringLiteral("TempNames")));
}

void writeUploadLog(const QString& programDir, const QStringList& lines) {
    QByteArray contents;
    for (const QString& line : lines)
        contents += line.toLocal8Bit() + "\r\n";
    const QString path = programDir + QStringLiteral("log.txt");
    // The log holds user and host names and the server dialogue: owner-only from creation.
    try {
        if (programDir == defaultProgramDir())
            makePrivateDir(programDir);
        writePrivateFile(path, contents);
    } catch (const Error& error) {
        throw Error(QStringLiteral("The log file \"%1\" could not be written: %2")
                        .arg(path, error.message()));
    }
}

} // namespace quaddle
