#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

class QDomElement;
class QXmlStreamWriter;

namespace quaddle {

class TCipher;

// The slots of a server record. An empty Hostname marks a deleted server.
enum TServerSlot {
    Hostname,
    Username,
    Password,
    RootDir,
    DefaultDir,
    URLMask,
    Port,
    Type,
    CredentialIndex,
    ServerSlotCount
};

using TServer = std::array<QString, ServerSlotCount>;
using TServers = QList<TServer>;

// Remote folders per server index; a blank entry is a deleted folder.
using TOrdnerArray = QList<QStringList>;

// The stored ciphertexts of one server whose credentials could not be decrypted.
struct TStoredCredentials {
    QString User;
    QString Password;
};
using TServerDaten = QList<TStoredCredentials>;

// The type codes written to the configuration file beside each setting.
enum class TSettingType : int {
    Integer = 3,
    Double = 5,
    WideText = 8,
    Boolean = 11,
    Byte = 17,
    Text = 256
};

// A typed value for SetSetting; null records the text type and leaves the value alone.
class TSettingValue {
public:
    static TSettingValue Null() { return {TSettingType::Text, QString(), true}; }
    static TSettingValue Integer(qint32 value);
    static TSettingValue Double(double value);
    static TSettingValue Boolean(bool value);
    static TSettingValue Byte(quint8 value);
    static TSettingValue Text(const QString& value) { return {TSettingType::Text, value, false}; }
    static TSettingValue WideText(const QString& value) {
        return {TSettingType::WideText, value, false};
    }

    bool IsNull() const { return Null_; }
    TSettingType Type() const { return Type_; }
    const QString& Text() const { return Text_; }

private:
    TSettingValue(TSettingType type, QString text, bool null)
        : Type_(type), Text_(std::move(text)), Null_(null) {}

    TSettingType Type_;
    QString Text_;
    bool Null_;
};

// Masks written by older versions use this syntax for the default mask.
const QString OldDefaultURLMask = QStringLiteral("http://%$dom%%$dir%%$file%");
const QString DefaultURLMask = QStringLiteral("http://$host$dir$file");

// The program's configuration: servers with their names and folders, the typed settings,
// the program directory and the master-password state. Server and folder indexes handed out
// stay valid for the whole run: deleting blanks an entry instead of removing it.
class TCfg {
public:
    TCfg();

    QString ProgramDir;
    // Last-write time of config.xml when it was last read, in milliseconds since the epoch.
    qint64 ConfigAge = 0;
    qint32 CurrentServer = 0;
    TOrdnerArray ServerFolders;
    QStringList ServerNames;
    bool ContextRegistered = false;
    QString MasterPassword;
    bool CredentialsLocked = false;
    bool MasterPasswordActive = false;
    TServers Servers;
    TServerDaten LockedCredentials;

    // The value text stored under name (letter case ignored); empty when absent.
    QString GetSetting(const QString& name) const;
    std::optional<TSettingType> GetSettingType(const QString& name) const;
    void SetSetting(const QString& name, const TSettingValue& value);
    // Conveniences for callers that need the value converted.
    qint32 GetIntSetting(const QString& name, qint32 fallback = 0) const;
    bool GetBoolSetting(const QString& name) const;
    // Setting names in the order they are written.
    QStringList SettingNames() const;

    TServer GetCurrentServer() const;
    const QStringList& GetFolders(qint32 server) const;
    void SetFolder(qint32 folder, qint32 server, const QString& text);
    void DeleteFolder(qint32 folder, qint32 server);
    bool ServerExists(qint32 server) const;
    void DeleteServer(qint32 server);
    // Throws TError when, with the credentials locked, the change would spoil the stored
    // login information of later servers (see GuardHeldCredentials).
    qint32 StoreServer(const QString& hostname, const QString& port, const QString& username,
                       const QString& password, const QString& rootDir, const QString& defaultDir,
                       const QString& urlMask, const QString& type, qint32 index,
                       qint32 credentialIndex);

    // Reads config.xml from ProgramDir; a damaged file is reported once and read as far as it
    // goes. Without force, a file not changed since the last read is not read again.
    void LoadConfig(bool force);
    // Writes the whole configuration to config.xml, replacing the old file in one step.
    // Throws TError when the file cannot be written; the old file then stays as it was.
    void SaveConfig();
    QString ConfigPath() const { return ProgramDir + QStringLiteral("config.xml"); }

    QString HashPassword(const QString& text) const;

private:
    void ReadConfig(const QString& path);
    void ReadSettings(const QDomElement& settings);
    void ReadServers(const QDomElement& servers);
    void ReadServer(const QDomElement& server, TCipher& cipher);
    QByteArray WriteConfig() const;
    void WriteServer(QXmlStreamWriter& xml, qint32 index, TCipher& cipher) const;

    // While the credentials are locked, each server's ciphertexts can only be written back as
    // they were read, and each decrypts only at its place in the sequence. A change that
    // drops one server's ciphertexts while a later server still has some would make the
    // later ones decrypt wrong at the next unlock, so it is refused.
    void GuardHeldCredentials(qint32 server, const TServer& replacement) const;
    QStringList HeldCiphertextsWritten(const TServer& record) const;

    QList<QPair<QString, QString>> SettingValues;
    QList<QPair<QString, TSettingType>> SettingTypes;
};

} // namespace quaddle
