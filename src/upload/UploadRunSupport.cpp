#include "upload/UploadRunSupport.h"

#include "config/MasterPassword.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProgramDir.h"
#include "upload/UploadSession.h"

namespace quaddle {

QString sessionRemoteDir(const ServerRecord& server, const QString& remoteDir) {
    if (!server.rootDir.isEmpty() && remoteDir.startsWith(QLatin1Char('/')))
        return QLatin1Char('.') + remoteDir;
    return remoteDir;
}

QString serverTypeProblem(const Config& config) {
    const QString type = config.currentServerRecord().type;
    if (parseServerType(type))
        return QString();
    return QStringLiteral("The server \"%1\" has the unknown type \"%2\". Please choose FTP, "
                          "SFTP or FTPS for it in the server manager.")
        .arg(config.serverNames.value(config.currentServer), type);
}

void saveConfigDuringRun(Config& config) {
    try {
        config.saveConfig();
    } catch (const Error& error) {
        dialogs().notify(MessageKind::Error, error.message());
    }
}

void configureSession(UploadSession& session, Config& config) {
    const qint32 index = config.currentServer;
    const ServerRecord server = config.currentServerRecord();
    if (config.passiveMode())
        session.driver().setOption(ProtocolDriver::PassiveMode);
    session.setPermissions(server.chmod);
    session.setTempNames(config.tempNames());
    session.setConnections(config.connections());
    session.driver().setTrustedCertificate(server.trustedCert,
                                           [&config, index](const QString& fingerprint) {
                                               config.servers[index].trustedCert = fingerprint;
                                               saveConfigDuringRun(config);
                                           });
    session.setServerName(config.serverNames.value(index));
    session.setRememberLogin([&config, index](const QString& user, const QString& password) {
        // Kept as the server manager keeps a typed password: encrypted by the master password,
        // or, without one, only when the user accepts that.
        if (!confirmStoringPassword(config, password))
            return;
        config.servers[index].user = user;
        config.servers[index].password = password;
        saveConfigDuringRun(config);
    });
}

QString printableText(const QString& text) {
    QString printable;
    printable.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        const bool control = (code < 0x20 && code != u'\t') || (code >= 0x7F && code <= 0x9F);
        if (control)
            printable += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else
            printable += c;
    }
    return printable;
}

void writeUploadLog(const QString& programDir, const QStringList& lines) {
    QByteArray contents;
    for (const QString& line : lines)
        contents += printableText(line).toLocal8Bit() + "\r\n";
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
