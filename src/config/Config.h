#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDomElement;
class QXmlStreamWriter;

namespace quaddle {

class Cipher;

// One server's connection and upload details, as config.xml stores them. The server's name and
// folders are kept beside it, under the same index.
struct ServerRecord {
    // Empty for a deleted server.
    QString host;
    QString user;
    QString password;
    QString rootDir;
    QString defaultDir;
    QString urlMask;
    QString port;
    // The number of a ServerType as text, kept as stored even when it names none.
    QString type;
    // Which of Config::lockedCredentials are this server's; -1 for none.
    qint32 credentialIndex = -1;
    // A private key for SFTP logins; empty for none.
    QString keyFile;
    // Octal permissions given to each uploaded file, such as 644; empty to leave them alone.
    QString chmod;
    // The SHA-256 fingerprint (64 hex digits) of an FTPS certificate the user trusts although
    // it fails verification; empty for none.
    QString trustedCert;
    // Which program makes SFTP connections: SshClientPsftp, or empty for OpenSSH's ssh.
    QString sshClient;

    bool operator==(const ServerRecord&) const = default;
};

// The kinds of server; a record's type holds the number as text.
enum class ServerType : int { Ftp = 0, Sftp = 1, Ftps = 2 };

// The value of a record's sshClient for servers reached through PuTTY's psftp.
inline const QString SshClientPsftp = QStringLiteral("psftp");

// The type a record's type names; nothing for text that names none.
std::optional<ServerType> parseServerType(const QString& text);

// Whether text can stand in a record's chmod: empty, or three or four octal digits.
bool isPermissionsText(const QString& text);
using ServerList = QList<ServerRecord>;

// Remote folders per server index; a blank entry is a deleted folder.
using FolderLists = QList<QStringList>;

// One server with its name and folders (deleted folders left out), as saving compares it with
// what config.xml held.
struct ServerEntry {
    QString name;
    ServerRecord record;
    QStringList folders;

    bool exists() const { return !record.host.isEmpty(); }
    // Deleted servers are alike whatever their leftovers.
    bool operator==(const ServerEntry& other) const;
};
using ServerEntries = QList<ServerEntry>;

// The stored ciphertexts of one server whose credentials could not be decrypted.
struct StoredCredentials {
    QString user;
    QString password;
};
using StoredCredentialsList = QList<StoredCredentials>;

// The type codes written to the configuration file beside each setting.
enum class SettingType : int {
    Integer = 3,
    Double = 5,
    WideText = 8,
    Boolean = 11,
    Byte = 17,
    Text = 256
};

// A typed value for setSetting; null records the text type and leaves the value alone.
class SettingValue {
public:
    static SettingValue null() { return {SettingType::Text, QString(), true}; }
    static SettingValue integer(qint32 value);
    static SettingValue fromDouble(double value);
    static SettingValue boolean(bool value);
    static SettingValue byte(quint8 value);
    static SettingValue text(const QString& value) { return {SettingType::Text, value, false}; }
    static SettingValue wideText(const QString& value) {
        return {SettingType::WideText, value, false};
    }

    bool isNull() const { return m_null; }
    SettingType type() const { return m_type; }
    const QString& text() const { return m_text; }

private:
    SettingValue(SettingType type, QString text, bool null)
        : m_type(type), m_text(std::move(text)), m_null(null) {}

    SettingType m_type;
    QString m_text;
    bool m_null;
};

// Masks written by older versions use this syntax for the default mask.
const QString OldDefaultURLMask = QStringLiteral("http://%$dom%%$dir%%$file%");
const QString DefaultURLMask = QStringLiteral("http://$host$dir$file");

// The program's configuration: servers with their names and folders, the typed settings,
// the program directory and the master-password state. Server and folder indexes handed out
// stay valid for the whole run: deleting blanks an entry instead of removing it.
class Config {
public:
    Config();
    ~Config();
    Config(const Config&) = default;
    Config& operator=(const Config&) = default;

    QString programDir;
    // Last-write time of config.xml when it was last read, in milliseconds since the epoch.
    qint64 configAge = 0;
    qint32 currentServer = 0;
    FolderLists serverFolders;
    QStringList serverNames;
    bool contextRegistered = false;
    QString masterPassword;
    bool credentialsLocked = false;
    bool masterPasswordActive = false;
    // The user chose to quit instead of entering the master password.
    bool quitRequested = false;
    ServerList servers;
    StoredCredentialsList lockedCredentials;

    // The value text stored under name (letter case ignored); empty when absent.
    QString setting(const QString& name) const;
    std::optional<SettingType> settingType(const QString& name) const;
    void setSetting(const QString& name, const SettingValue& value);
    // Conveniences for callers that need the value converted. A value that is no number
    // reads as the setting's default, or as fallback for a setting without one.
    qint32 intSetting(const QString& name, qint32 fallback = 0) const;
    bool boolSetting(const QString& name) const;
    // Setting names in the order they are written.
    QStringList settingNames() const;

    // The settings read outside the configuration, by their stored names.
    bool autoClose() const;
    bool autoCopy() const;
    bool logTraffic() const;
    qint32 overwritePolicy() const;
    bool passiveMode() const;
    bool tempNames() const;
    // Whether each upload is kept in the history.
    bool keepHistory() const;
    bool desktopNotifications() const;
    bool stripMetadata() const;
    // Whether a run with pictures asks for thumbnails, or makes them or not without asking.
    enum class ThumbnailPolicy : qint32 { Ask = 0, Always = 1, Never = 2 };
    ThumbnailPolicy thumbnailPolicy() const;
    void setThumbnailPolicy(ThumbnailPolicy policy);
    // How many connections a run of several files may open, 1 to MaxConnections.
    int connections() const;
    static constexpr int DefaultConnections = 3;
    static constexpr int MaxConnections = 10;
    qint32 tagStyle() const;
    void setTagStyle(qint32 style);
    qint32 thumbWidth() const;
    qint32 thumbHeight() const;
    bool thumbInfo() const;
    bool thumbFrame() const;

    ServerRecord currentServerRecord() const;
    const QStringList& folders(qint32 server) const;
    void setFolder(qint32 folder, qint32 server, const QString& text);
    void deleteFolder(qint32 folder, qint32 server);
    bool serverExists(qint32 server) const;
    void deleteServer(qint32 server);
    // Throws Error when, with the credentials locked, the change would spoil the stored
    // login information of later servers (see guardHeldCredentials).
    qint32 storeServer(const QString& hostname, const QString& port, const QString& username,
                       const QString& password, const QString& rootDir, const QString& defaultDir,
                       const QString& urlMask, const QString& type, qint32 index,
                       qint32 credentialIndex);

    // Reads config.xml from programDir; a damaged file is reported once and read as far as it
    // goes. Without force, a file not changed since the last read is not read again.
    void loadConfig(bool force);
    // Writes the whole configuration to config.xml, owner-only, replacing the old file in one
    // step; a missing program directory is created owner-only. A file that failed to load is first
    // copied to damagedCopyPath(). When another program wrote the file since this one last read
    // or wrote it, what this program changed since is applied onto that newer file instead (see
    // ConfigMerge.cpp), and nothing is written when it changed nothing. Throws Error when the file
    // cannot be written or merged; the old file then stays as it was. Returns whether the
    // configuration in memory took in changes made elsewhere, so that what shows it is redrawn.
    bool saveConfig();
    // Whether config.xml was there but could not be read (reported once while loading).
    bool loadFailed() const { return m_keepDamagedFile; }
    QString configPath() const { return programDir + QStringLiteral("config.xml"); }
    QString damagedCopyPath() const { return configPath() + QStringLiteral(".damaged"); }

    QString hashPassword(const QString& text) const;

private:
    // The configuration as config.xml held it when this program last read or wrote it: what it
    // differs in now is what this program changed.
    struct Snapshot {
        QList<QPair<QString, QString>> settingValues;
        QList<QPair<QString, SettingType>> settingTypes;
        ServerEntries servers;
        // The file's contents; null when there was none.
        QByteArray file;
        // The master password its credentials were encrypted with.
        QString masterPassword;
        // Whether this program has read or written the file at all; one that has not replaces
        // it whole, as a fresh configuration is meant to.
        bool taken = false;
    };

    void takeSnapshot(const QByteArray& file);
    bool changedSinceSnapshot() const;
    ServerEntries serverEntries() const;
    void putServerEntry(qint32 index, const ServerEntry& entry);
    // Applies this program's changes onto newer, another program's config.xml, and keeps the
    // result in memory. Returns false when there is nothing to write.
    bool mergeNewerFile(const QByteArray& newer, const QString& path);
    QStringList mergeServers(const ServerEntries& theirs);
    // The master password the newer file's credentials were encrypted with, when this program
    // knows it.
    std::optional<QString> keyOf(const Config& theirs) const;
    // Whether key is the master password this configuration's verifier names (the empty text
    // for none).
    bool keyFits(const QString& key) const;

    void readConfig(const QString& path);
    // Reads the file's contents; unlock decides how its credentials are decrypted once the
    // settings are read.
    void readContents(const QByteArray& xml, const std::function<void(Config&)>& unlock);
    void readSettings(const QDomElement& settings);
    void readServers(const QDomElement& servers);
    void readServer(const QDomElement& server, Cipher& cipher);
    QByteArray writeConfig() const;
    void writeServer(QXmlStreamWriter& xml, qint32 index, Cipher& cipher) const;

    // While the credentials are locked, each server's ciphertexts can only be written back as
    // they were read, and each decrypts only at its place in the sequence. A change that
    // drops one server's ciphertexts while a later server still has some would make the
    // later ones decrypt wrong at the next unlock, so it is refused.
    void guardHeldCredentials(qint32 server, const ServerRecord& replacement) const;
    QStringList heldCiphertextsWritten(const ServerRecord& record) const;

    // Whether the file on disk failed to load and has not been kept aside yet.
    bool m_keepDamagedFile = false;
    Snapshot m_snapshot;
    QList<QPair<QString, QString>> m_settingValues;
    // The values the constructor sets, for stored values that are no number.
    QList<QPair<QString, QString>> m_defaultValues;
    QList<QPair<QString, SettingType>> m_settingTypes;
};

} // namespace quaddle
