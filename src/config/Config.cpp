#include "config/Config.h"

#include "config/Cipher.h"
#include "config/IntegerText.h"
#include "platform/ContextRegistration.h"
#include "platform/Error.h"
#include "platform/ProgramDir.h"

#include <algorithm>

namespace quaddle {

namespace {

template <typename Value>
qsizetype IndexOfName(const QList<QPair<QString, Value>>& list, const QString& name) {
    const auto found = std::find_if(list.begin(), list.end(), [&](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
    return found == list.end() ? -1 : found - list.begin();
}

const QStringList NoFolders;

} // namespace

TSettingValue TSettingValue::Integer(qint32 value) {
    return {TSettingType::Integer, QString::number(value), false};
}

TSettingValue TSettingValue::Double(double value) {
    return {TSettingType::Double, QString::number(value, 'g', 15), false};
}

TSettingValue TSettingValue::Boolean(bool value) {
    return {TSettingType::Boolean, value ? QStringLiteral("True") : QStringLiteral("False"), false};
}

TSettingValue TSettingValue::Byte(quint8 value) {
    return {TSettingType::Byte, QString::number(value), false};
}

TCfg::TCfg() {
    SetSetting(QStringLiteral("DefaultServer"), TSettingValue::Integer(0));
    SetSetting(QStringLiteral("Overwrite"), TSettingValue::Integer(0));
    SetSetting(QStringLiteral("Passive"), TSettingValue::Boolean(true));
    SetSetting(QStringLiteral("Log"), TSettingValue::Boolean(false));
    SetSetting(QStringLiteral("ThumbWidth"), TSettingValue::Integer(300));
    SetSetting(QStringLiteral("ThumbHeight"), TSettingValue::Integer(200));
    SetSetting(QStringLiteral("ThumbInfo"), TSettingValue::Boolean(true));
    SetSetting(QStringLiteral("ThumbRahmen"), TSettingValue::Boolean(true));
    SetSetting(QStringLiteral("Autoclose"), TSettingValue::Boolean(false));
    SetSetting(QStringLiteral("Context"), TSettingValue::Boolean(false));
    ProgramDir = FindProgramDir();
    ContextRegistered = IsContextRegistered(ProgramDir);
}

QString TCfg::GetSetting(const QString& name) const {
    const qsizetype index = IndexOfName(SettingValues, name);
    return index < 0 ? QString() : SettingValues[index].second;
}

std::optional<TSettingType> TCfg::GetSettingType(const QString& name) const {
    const qsizetype index = IndexOfName(SettingTypes, name);
    if (index < 0)
        return std::nullopt;
    return SettingTypes[index].second;
}

void TCfg::SetSetting(const QString& name, const TSettingValue& value) {
    if (!value.IsNull()) {
        const qsizetype index = IndexOfName(SettingValues, name);
        if (index < 0)
            SettingValues.append({name, value.Text()});
        else if (value.Text().isEmpty())
            SettingValues.removeAt(index);
        else
            SettingValues[index] = {name, value.Text()};
    }
    const qsizetype typeIndex = IndexOfName(SettingTypes, name);
    if (typeIndex < 0)
        SettingTypes.append({name, value.Type()});
    else
        SettingTypes[typeIndex] = {name, value.Type()};
}

qint32 TCfg::GetIntSetting(const QString& name, qint32 fallback) const {
    return ParseInteger(GetSetting(name)).value_or(fallback);
}

bool TCfg::GetBoolSetting(const QString& name) const {
    return GetSetting(name).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

QStringList TCfg::SettingNames() const {
    QStringList names;
    names.reserve(SettingValues.size());
    for (const auto& [name, value] : SettingValues)
        names.append(name);
    return names;
}

TServer TCfg::GetCurrentServer() const {
    if (CurrentServer < 0 || CurrentServer >= Servers.size())
        return {};
    return Servers[CurrentServer];
}

const QStringList& TCfg::GetFolders(qint32 server) const {
    if (server < 0 || server >= ServerFolders.size())
        return NoFolders;
    return ServerFolders[server];
}

void TCfg::SetFolder(qint32 folder, qint32 server, const QString& text) {
    if (server < 0 || server >= ServerFolders.size())
        return;
    QStringList& folders = ServerFolders[server];
    if (folder >= 0 && folder < folders.size())
        folders[folder] = text;
    else
        folders.append(text);
}

void TCfg::DeleteFolder(qint32 folder, qint32 server) {
    if (server < 0 || server >= ServerFolders.size())
        return;
    QStringList& folders = ServerFolders[server];
    if (folder >= 0 && folder < folders.size())
        folders[folder].clear();
}

bool TCfg::ServerExists(qint32 server) const {
    return server >= 0 && server < Servers.size() && !Servers[server][Hostname].isEmpty();
}

void TCfg::DeleteServer(qint32 server) {
    if (server < 0 || server >= Servers.size())
        return;
    TServer deleted = Servers[server];
    deleted[Hostname].clear();
    GuardHeldCredentials(server, deleted);
    Servers[server] = deleted;
    if (server < ServerNames.size())
        ServerNames[server].clear();
}

qint32 TCfg::StoreServer(const QString& hostname, const QString& port, const QString& username,
                         const QString& password, const QString& rootDir, const QString& defaultDir,
                         const QString& urlMask, const QString& type, qint32 index,
                         qint32 credentialIndex) {
    if (index < 0)
        index = static_cast<qint32>(Servers.size());

    TServer record;
    record[Hostname] = hostname;
    record[Username] = username;
    record[Password] = password;
    record[RootDir] = rootDir;
    record[DefaultDir] = defaultDir;
    record[URLMask] = urlMask.isEmpty() || urlMask == OldDefaultURLMask ? DefaultURLMask : urlMask;
    record[Port] = port.isEmpty() ? QStringLiteral("21") : port;
    record[Type] = type.isEmpty() ? QStringLiteral("0") : type;
    record[CredentialIndex] = QString::number(credentialIndex);

    if (index < Servers.size())
        GuardHeldCredentials(index, record);
    if (index >= Servers.size())
        Servers.resize(index + 1);
    if (index >= ServerFolders.size())
        ServerFolders.resize(index + 1);
    // Names of servers that only pad the arrays stay blank, like deleted ones.
    while (ServerNames.size() < index)
        ServerNames.append(QString());
    if (index >= ServerNames.size())
        ServerNames.append(QStringLiteral("New Server"));
    Servers[index] = record;
    return index;
}

QString TCfg::HashPassword(const QString& text) const {
    return PasswordHash(text);
}

QStringList TCfg::HeldCiphertextsWritten(const TServer& record) const {
    if (!CredentialsLocked || record[Hostname].isEmpty())
        return {};
    const qint32 index = ParseInteger(record[CredentialIndex]).value_or(-1);
    if (index < 0 || index >= LockedCredentials.size())
        return {};
    QStringList written;
    if (record[Username].isEmpty() && !LockedCredentials[index].User.isEmpty())
        written.append(LockedCredentials[index].User);
    if (record[Password].isEmpty() && !LockedCredentials[index].Password.isEmpty())
        written.append(LockedCredentials[index].Password);
    return written;
}

void TCfg::GuardHeldCredentials(qint32 server, const TServer& replacement) const {
    if (HeldCiphertextsWritten(Servers[server]) == HeldCiphertextsWritten(replacement))
        return;
    for (qint32 later = server + 1; later < Servers.size(); ++later)
        if (!HeldCiphertextsWritten(Servers[later]).isEmpty())
            throw TError(QStringLiteral(
                "Your master password has not been entered, so the saved login information of "
                "the servers listed after this one can only be kept if this server's stays as "
                "it is. Please enter your master password first (File menu, \"Enter Master "
                "Password\"), then change or delete this server."));
}

} // namespace quaddle
