#include "config/Config.h"

#include "config/Cipher.h"
#include "config/IntegerText.h"
#include "config/NamedList.h"
#include "platform/ContextRegistration.h"
#include "platform/Error.h"
#include "platform/ProcessProtection.h"
#include "platform/ProgramDir.h"

#include <QRegularExpression>
#include <algorithm>

namespace quaddle {

namespace {

const QStringList NoFolders;

} // namespace

SettingValue SettingValue::integer(qint32 value) {
    return {SettingType::Integer, QString::number(value), false};
}

SettingValue SettingValue::fromDouble(double value) {
    return {SettingType::Double, QString::number(value, 'g', 15), false};
}

SettingValue SettingValue::boolean(bool value) {
    return {SettingType::Boolean, value ? QStringLiteral("True") : QStringLiteral("False"), false};
}

SettingValue SettingValue::byte(quint8 value) {
    return {SettingType::Byte, QString::number(value), false};
}

std::optional<ServerType> parseServerType(const QString& text) {
    for (const ServerType type : {ServerType::Ftp, ServerType::Sftp, ServerType::Ftps})
        if (text == QString::number(int(type)))
            return type;
    return std::nullopt;
}

bool isPermissionsText(const QString& text) {
    static const QRegularExpression Octal(QStringLiteral("^([0-7]{3,4})?$"));
    return Octal.match(text).hasMatch();
}

Config::Config() {
    setSetting(QStringLiteral("DefaultServer"), SettingValue::integer(0));
    setSetting(QStringLiteral("Overwrite"), SettingValue::integer(0));
    setSetting(QStringLiteral("Passive"), SettingValue::boolean(true));
    setSetting(QStringLiteral("Log"), SettingValue::boolean(false));
    setSetting(QStringLiteral("ThumbWidth"), SettingValue::integer(300));
    setSetting(QStringLiteral("ThumbHeight"), SettingValue::integer(200));
    setSetting(QStringLiteral("ThumbInfo"), SettingValue::boolean(true));
    setSetting(QStringLiteral("ThumbRahmen"), SettingValue::boolean(true));
    setSetting(QStringLiteral("Autoclose"), SettingValue::boolean(false));
    setSetting(QStringLiteral("Context"), SettingValue::boolean(false));
    setSetting(QStringLiteral("TagStyle"), SettingValue::integer(0));
    setSetting(QStringLiteral("AutoCopy"), SettingValue::boolean(false));
    setSetting(QStringLiteral("TempNames"), SettingValue::boolean(false));
    setSetting(QStringLiteral("Connections"), SettingValue::integer(DefaultConnections));
    setSetting(QStringLiteral("History"), SettingValue::boolean(true));
    setSetting(QStringLiteral("Notify"), SettingValue::boolean(true));
    setSetting(QStringLiteral("StripMetadata"), SettingValue::boolean(false));
    setSetting(QStringLiteral("MakeThumbnails"), SettingValue::integer(0));
    m_defaultValues = m_settingValues;
    programDir = findProgramDir();
    contextRegistered = isContextRegistered(programDir);
}

Config::~Config() {
    wipe(masterPassword);
    for (ServerRecord& server : servers)
        wipe(server.password);
    wipe(m_snapshot.masterPassword);
    for (ServerEntry& entry : m_snapshot.servers)
        wipe(entry.record.password);
}

bool ServerEntry::operator==(const ServerEntry& other) const {
    if (!exists() || !other.exists())
        return exists() == other.exists();
    return name == other.name && record == other.record && folders == other.folders;
}

ServerEntries Config::serverEntries() const {
    ServerEntries entries;
    entries.reserve(servers.size());
    for (qint32 index = 0; index < servers.size(); ++index) {
        QStringList kept = folders(index);
        kept.removeAll(QString());
        entries.append({serverNames.value(index), servers[index], kept});
    }
    return entries;
}

void Config::putServerEntry(qint32 index, const ServerEntry& entry) {
    if (index >= servers.size())
        servers.resize(index + 1);
    if (index >= serverFolders.size())
        serverFolders.resize(index + 1);
    while (serverNames.size() <= index)
        serverNames.append(QString());
    servers[index] = entry.record;
    serverNames[index] = entry.exists() ? entry.name : QString();
    serverFolders[index] = entry.folders;
}

void Config::takeSnapshot(const QByteArray& file) {
    wipe(m_snapshot.masterPassword);
    for (ServerEntry& entry : m_snapshot.servers)
        wipe(entry.record.password);
    m_snapshot = {m_settingValues, m_settingTypes, serverEntries(), file, masterPassword, true};
}

bool Config::changedSinceSnapshot() const {
    const auto sameSettings = [](const auto& now, const auto& before) {
        return now.size() == before.size() &&
               std::all_of(now.begin(), now.end(), [&before](const auto& setting) {
                   const qsizetype index = indexOfName(before, setting.first);
                   return index >= 0 && before[index].second == setting.second;
               });
    };
    if (!sameSettings(m_settingValues, m_snapshot.settingValues) ||
        !sameSettings(m_settingTypes, m_snapshot.settingTypes) ||
        masterPassword != m_snapshot.masterPassword)
        return true;
    const ServerEntries now = serverEntries();
    for (qint32 index = 0; index < now.size(); ++index)
        if (!(now[index] == m_snapshot.servers.value(index)))
            return true;
    return false;
}

QString Config::setting(const QString& name) const {
    const qsizetype index = indexOfName(m_settingValues, name);
    return index < 0 ? QString() : m_settingValues[index].second;
}

std::optional<SettingType> Config::settingType(const QString& name) const {
    const qsizetype index = indexOfName(m_settingTypes, name);
    if (index < 0)
        return std::nullopt;
    return m_settingTypes[index].second;
}

void Config::setSetting(const QString& name, const SettingValue& value) {
    if (!value.isNull()) {
        const qsizetype index = indexOfName(m_settingValues, name);
        if (index < 0)
            m_settingValues.append({name, value.text()});
        else if (value.text().isEmpty())
            m_settingValues.removeAt(index);
        else
            m_settingValues[index] = {name, value.text()};
    }
    const qsizetype typeIndex = indexOfName(m_settingTypes, name);
    if (typeIndex < 0)
        m_settingTypes.append({name, value.type()});
    else
        m_settingTypes[typeIndex] = {name, value.type()};
}

qint32 Config::intSetting(const QString& name, qint32 fallback) const {
    if (const std::optional<qint32> value = parseInteger(setting(name)))
        return *value;
    const qsizetype index = indexOfName(m_defaultValues, name);
    return index < 0 ? fallback : parseInteger(m_defaultValues[index].second).value_or(fallback);
}

bool Config::boolSetting(const QString& name) const {
    return setting(name).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

QStringList Config::settingNames() const {
    QStringList names;
    names.reserve(m_settingValues.size());
    for (const auto& [name, value] : m_settingValues)
        names.append(name);
    return names;
}

bool Config::autoClose() const {
    return boolSetting(QStringLiteral("Autoclose"));
}

bool Config::autoCopy() const {
    return boolSetting(QStringLiteral("AutoCopy"));
}

bool Config::logTraffic() const {
    return boolSetting(QStringLiteral("Log"));
}

qint32 Config::overwritePolicy() const {
    return intSetting(QStringLiteral("Overwrite"));
}

bool Config::passiveMode() const {
    return boolSetting(QStringLiteral("Passive"));
}

int Config::connections() const {
    return std::clamp(intSetting(QStringLiteral("Connections")), 1, MaxConnections);
}

bool Config::keepHistory() const {
    return boolSetting(QStringLiteral("History"));
}

bool Config::stripMetadata() const {
    return boolSetting(QStringLiteral("StripMetadata"));
}

Config::ThumbnailPolicy Config::thumbnailPolicy() const {
    const qint32 stored = intSetting(QStringLiteral("MakeThumbnails"));
    // A number that names no policy asks, as the program did before the setting.
    return stored == qint32(ThumbnailPolicy::Always)  ? ThumbnailPolicy::Always
           : stored == qint32(ThumbnailPolicy::Never) ? ThumbnailPolicy::Never
                                                      : ThumbnailPolicy::Ask;
}

void Config::setThumbnailPolicy(ThumbnailPolicy policy) {
    setSetting(QStringLiteral("MakeThumbnails"), SettingValue::integer(qint32(policy)));
}

bool Config::desktopNotifications() const {
    return boolSetting(QStringLiteral("Notify"));
}

bool Config::tempNames() const {
    return boolSetting(QStringLiteral("TempNames"));
}

qint32 Config::tagStyle() const {
    return intSetting(QStringLiteral("TagStyle"));
}

void Config::setTagStyle(qint32 style) {
    setSetting(QStringLiteral("TagStyle"), SettingValue::integer(style));
}

qint32 Config::thumbWidth() const {
    return intSetting(QStringLiteral("ThumbWidth"));
}

qint32 Config::thumbHeight() const {
    return intSetting(QStringLiteral("ThumbHeight"));
}

bool Config::thumbInfo() const {
    return boolSetting(QStringLiteral("ThumbInfo"));
}

bool Config::thumbFrame() const {
    return boolSetting(QStringLiteral("ThumbRahmen"));
}

ServerRecord Config::currentServerRecord() const {
    if (currentServer < 0 || currentServer >= servers.size())
        return {};
    return servers[currentServer];
}

const QStringList& Config::folders(qint32 server) const {
    if (server < 0 || server >= serverFolders.size())
        return NoFolders;
    return serverFolders[server];
}

void Config::setFolder(qint32 folder, qint32 server, const QString& text) {
    if (server < 0 || server >= serverFolders.size())
        return;
    QStringList& folders = serverFolders[server];
    if (folder >= 0 && folder < folders.size())
        folders[folder] = text;
    else
        folders.append(text);
}

void Config::deleteFolder(qint32 folder, qint32 server) {
    if (server < 0 || server >= serverFolders.size())
        return;
    QStringList& folders = serverFolders[server];
    if (folder >= 0 && folder < folders.size())
        folders[folder].clear();
}

bool Config::serverExists(qint32 server) const {
    return server >= 0 && server < servers.size() && !servers[server].host.isEmpty();
}

void Config::deleteServer(qint32 server) {
    if (server < 0 || server >= servers.size())
        return;
    ServerRecord deleted = servers[server];
    deleted.host.clear();
    guardHeldCredentials(server, deleted);
    servers[server] = deleted;
    if (server < serverNames.size())
        serverNames[server].clear();
}

qint32 Config::storeServer(const QString& hostname, const QString& port, const QString& username,
                           const QString& password, const QString& rootDir,
                           const QString& defaultDir, const QString& urlMask, const QString& type,
                           qint32 index, qint32 credentialIndex) {
    if (index < 0)
        index = static_cast<qint32>(servers.size());

    ServerRecord record;
    record.host = hostname;
    record.user = username;
    record.password = password;
    record.rootDir = rootDir;
    record.defaultDir = defaultDir;
    record.urlMask = urlMask.isEmpty() || urlMask == OldDefaultURLMask ? DefaultURLMask : urlMask;
    record.port = port.isEmpty() ? QStringLiteral("21") : port;
    record.type = type.isEmpty() ? QStringLiteral("0") : type;
    record.credentialIndex = credentialIndex;

    if (index < servers.size())
        guardHeldCredentials(index, record);
    if (index >= servers.size())
        servers.resize(index + 1);
    if (index >= serverFolders.size())
        serverFolders.resize(index + 1);
    // Names of servers that only pad the arrays stay blank, like deleted ones.
    while (serverNames.size() < index)
        serverNames.append(QString());
    if (index >= serverNames.size())
        serverNames.append(QStringLiteral("New Server"));
    servers[index] = record;
    return index;
}

QString Config::hashPassword(const QString& text) const {
    return passwordHash(text);
}

QStringList Config::heldCiphertextsWritten(const ServerRecord& record) const {
    if (!credentialsLocked || record.host.isEmpty())
        return {};
    const qint32 index = record.credentialIndex;
    if (index < 0 || index >= lockedCredentials.size())
        return {};
    QStringList written;
    if (record.user.isEmpty() && !lockedCredentials[index].user.isEmpty())
        written.append(lockedCredentials[index].user);
    if (record.password.isEmpty() && !lockedCredentials[index].password.isEmpty())
        written.append(lockedCredentials[index].password);
    return written;
}

void Config::guardHeldCredentials(qint32 server, const ServerRecord& replacement) const {
    if (heldCiphertextsWritten(servers[server]) == heldCiphertextsWritten(replacement))
        return;
    for (qint32 later = server + 1; later < servers.size(); ++later)
        if (!heldCiphertextsWritten(servers[later]).isEmpty())
            throw Error(QStringLiteral(
                "Your master password has not been entered, so the saved login information of "
                "the servers listed after this one can only be kept if this server's stays as "
                "it is. Please enter your master password first (File menu, \"Enter Master "
                "Password\"), then change or delete this server."));
}

} // namespace quaddle
