// Reading and writing config.xml.
#include "config/Cipher.h"
#include "config/Config.h"
#include "config/IntegerText.h"
#include "config/MasterPassword.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProgramDir.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <array>

namespace quaddle {

namespace {

QString attributeOr(const QDomElement& element, const QString& name, const QString& fallback) {
    return element.hasAttribute(name) ? element.attribute(name) : fallback;
}

// XML 1.0 cannot hold control characters other than tab and line breaks, nor the two
// non-characters; writing them would leave a file that no longer loads.
QString xmlSafe(const QString& text) {
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        const bool allowed = code >= 0x20 || code == u'\t' || code == u'\n' || code == u'\r';
        if (allowed && code != 0xFFFE && code != 0xFFFF)
            safe.append(c);
    }
    return safe;
}

// The attributes that hold a server's fields as they are, in the order they are written. The
// optional ones came later: they are written only when set, so that files of servers without
// them read as they always did, and are read as they stand; the others get their defaults from
// storeServer.
struct PlainAttribute {
    QLatin1String name;
    QString ServerRecord::*field;
    bool optional;
};

constexpr std::array<PlainAttribute, 10> PlainAttributes{{
    {QLatin1String("Hostname"), &ServerRecord::host, false},
    {QLatin1String("Type"), &ServerRecord::type, false},
    {QLatin1String("Port"), &ServerRecord::port, false},
    {QLatin1String("RootDir"), &ServerRecord::rootDir, false},
    {QLatin1String("DefaultDir"), &ServerRecord::defaultDir, false},
    {QLatin1String("URLMask"), &ServerRecord::urlMask, false},
    {QLatin1String("KeyFile"), &ServerRecord::keyFile, true},
    {QLatin1String("Chmod"), &ServerRecord::chmod, true},
    {QLatin1String("TrustedCert"), &ServerRecord::trustedCert, true},
    {QLatin1String("SshClient"), &ServerRecord::sshClient, true},
}};

QString damagedFileMessage(const QString& copyPath) {
    return QStringLiteral("The configuration file contains errors. Reverting back to defaults.") +
           LineBreak + LineBreak +
           QStringLiteral(
               "If you did not edit the file manually, please report a bug to the author.") +
           LineBreak + LineBreak +
           QStringLiteral("Before the configuration is saved again, the damaged file is copied "
                          "to \"%1\".")
               .arg(copyPath);
}

// The file's deepest element is a server's folder, five levels down. The DOM parser slows down
// with the square of the nesting, so a deeper file is refused before it is parsed.
constexpr int MaxElementDepth = 8;

void checkNesting(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxElementDepth)
            throw Error(QStringLiteral("Elements nested too deeply"));
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
}

// How long a save waits for another program's save to end.
constexpr int LockWaitMs = 10000;

// The file's contents; nothing when it does not exist or cannot be read, which leaves the
// write to report.
std::optional<QByteArray> fileContents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return contents;
}

} // namespace

void Config::loadConfig(bool force) {
    masterPassword.clear();
    serverNames.clear();
    servers.clear();
    serverFolders.clear();

    const QFileInfo file(configPath());
    const qint64 age = file.exists() ? file.lastModified().toMSecsSinceEpoch() : 0;
    if (!file.exists())
        m_snapshot.file.clear();
    if (file.exists() && (force || age > configAge)) {
        configAge = age;
        try {
            readConfig(file.filePath());
            m_keepDamagedFile = false;
        } catch (const Error&) {
            // Saving would replace every server and credential the file still holds with
            // defaults, so the file is kept aside first.
            m_keepDamagedFile = true;
            dialogs().notify(MessageKind::Error,
                             damagedFileMessage(QFileInfo(damagedCopyPath()).absoluteFilePath()));
        }
    }
    currentServer = intSetting(QStringLiteral("DefaultServer"));
    takeSnapshot(m_snapshot.file);
}

void Config::readConfig(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    const QByteArray xml = file.readAll();
    // Even a damaged file is what a later save compares the file on disk with.
    m_snapshot.file = xml;
    readContents(xml, askForMasterPassword);
}

void Config::readContents(const QByteArray& xml, const std::function<void(Config&)>& unlock) {
    checkNesting(xml);
    QDomDocument document;
    QString parseError;
    if (!document.setContent(xml, &parseError))
        throw Error(parseError);
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("qdConfig"))
        throw Error(QStringLiteral("No config node found."));

    readSettings(root.firstChildElement(QStringLiteral("Settings")));
    unlock(*this);
    readServers(root.firstChildElement(QStringLiteral("Servers")));
}

void Config::readSettings(const QDomElement& settings) {
    for (QDomNode node = settings.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isComment() || node.isProcessingInstruction() || node.nodeName().isEmpty())
            continue;
        const QDomElement element = node.toElement();
        // A missing attribute reads as the empty text, which is no number either.
        const std::optional<qint32> type = parseInteger(element.attribute(QStringLiteral("type")));
        if (!type)
            throw Error(QStringLiteral("Bad type attribute"));
        const qint32 code = *type;

        const QString name = element.tagName();
        const QString text = element.text();
        switch (SettingType(code)) {
        case SettingType::Boolean:
            setSetting(name, SettingValue::boolean(text.toLower() == QLatin1String("true")));
            break;
        case SettingType::Integer:
        case SettingType::Double:
        case SettingType::Byte: {
            const std::optional<qint32> value = parseInteger(text);
            if (!value)
                throw Error(QStringLiteral("Not an integer: ") + text);
            setSetting(name, SettingValue::integer(*value));
            break;
        }
        case SettingType::WideText:
        case SettingType::Text:
            setSetting(name, element.firstChild().isNull() ? SettingValue::null()
                                                           : SettingValue::wideText(text));
            break;
        default:
            throw Error(QStringLiteral("Unexpected variable type: ") + QString::number(code));
        }
    }
}

void Config::readServers(const QDomElement& servers) {
    if (servers.isNull() || !servers.hasChildNodes())
        return;
    Cipher cipher(masterPassword);
    for (QDomElement server = servers.firstChildElement(QStringLiteral("Server")); !server.isNull();
         server = server.nextSiblingElement(QStringLiteral("Server")))
        readServer(server, cipher);
}

void Config::readServer(const QDomElement& server, Cipher& cipher) {
    serverNames.append(attributeOr(server, QStringLiteral("Name"), QStringLiteral("New Server")));
    QStringList& folders = serverFolders.emplace_back();
    for (QDomElement child = server.firstChildElement(); !child.isNull();
         child = child.nextSiblingElement()) {
        if (child.tagName() == QLatin1String("Folder"))
            folders.append(child.text());
        else if (child.tagName() == QLatin1String("Folders"))
            for (QDomElement folder = child.firstChildElement(); !folder.isNull();
                 folder = folder.nextSiblingElement())
                folders.append(folder.text());
    }

    if (!server.hasAttribute(QStringLiteral("Hostname"))) {
        // A deleted place, so that the server's name, folders and record keep one index.
        servers.append(ServerRecord{});
        return;
    }

    QString username = server.attribute(QStringLiteral("Username"));
    QString password = server.attribute(QStringLiteral("Password"));
    qint32 credentialIndex = -1;
    if (credentialsLocked) {
        lockedCredentials.append(
            {server.attribute(QStringLiteral("U")), server.attribute(QStringLiteral("P"))});
        credentialIndex = static_cast<qint32>(lockedCredentials.size() - 1);
    } else {
        if (server.hasAttribute(QStringLiteral("U")))
            username = cipher.decryptString(server.attribute(QStringLiteral("U")));
        if (server.hasAttribute(QStringLiteral("P")))
            password = cipher.decryptString(server.attribute(QStringLiteral("P")));
    }
    const QString rootDir =
        attributeOr(server, QStringLiteral("RootDir"), server.attribute(QStringLiteral("Docroot")));
    const qint32 index = storeServer(server.attribute(QStringLiteral("Hostname")),
                                     server.attribute(QStringLiteral("Port")), username, password,
                                     rootDir, server.attribute(QStringLiteral("DefaultDir")),
                                     server.attribute(QStringLiteral("URLMask")),
                                     server.attribute(QStringLiteral("Type")), -1, credentialIndex);
    for (const PlainAttribute& plain : PlainAttributes)
        if (plain.optional)
            servers[index].*plain.field = server.attribute(plain.name);
}

bool Config::saveConfig() {
    QString path = QFileInfo(configPath()).absoluteFilePath();
    // A configuration kept elsewhere through a link stays there.
    if (const QFileInfo link(path); link.isSymLink())
        path = link.symLinkTarget();
    const QString failure = QStringLiteral("The configuration could not be saved to \"%1\": %2");
    // The default folder does not exist before the first save; a chosen one must exist.
    if (programDir == defaultProgramDir() && !makePrivateDir(programDir))
        throw Error(failure.arg(path, QStringLiteral("its folder could not be created.")));
    // Another program saving at the same moment could otherwise write between the read and the
    // write below, and its change would be lost. Where no lock can be made at all, the write
    // says why it fails.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs) && lock.error() == QLockFile::LockFailedError)
        throw Error(failure.arg(
            path, QStringLiteral("another program has been saving it for too long; please try "
                                 "again.")));
    bool tookChanges = false;
    if (const std::optional<QByteArray> onDisk = fileContents(path);
        m_snapshot.taken && onDisk && *onDisk != m_snapshot.file) {
        try {
            if (!mergeNewerFile(*onDisk, path))
                return false;
        } catch (const Error& error) {
            throw Error(failure.arg(path, error.message()));
        }
        tookChanges = true;
    }
    if (m_keepDamagedFile && QFileInfo::exists(path)) {
        const QString copy = QFileInfo(damagedCopyPath()).absoluteFilePath();
        const QString notKept =
            QStringLiteral("the damaged file could not be copied to \"%1\": %2");
        QFile damaged(path);
        if (!damaged.open(QIODevice::ReadOnly))
            throw Error(failure.arg(path, notKept.arg(copy, damaged.errorString())));
        const QByteArray kept = damaged.readAll();
        if (damaged.error() != QFileDevice::NoError)
            throw Error(failure.arg(path, notKept.arg(copy, damaged.errorString())));
        try {
            writePrivateFile(copy, kept);
        } catch (const Error& error) {
            throw Error(failure.arg(path, notKept.arg(copy, error.message())));
        }
    }
    m_keepDamagedFile = false;
    const QByteArray contents = writeConfig();
    try {
        // The file holds the credentials; only its owner may read it.
        writePrivateFile(path, contents);
    } catch (const Error& error) {
        throw Error(failure.arg(path, error.message()));
    }
    takeSnapshot(contents);
    return tookChanges;
}

QByteArray Config::writeConfig() const {
    QByteArray contents;
    QXmlStreamWriter xml(&contents);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("qdConfig"));

    xml.writeStartElement(QStringLiteral("Settings"));
    for (const auto& [name, value] : m_settingValues) {
        if (name.isEmpty())
            continue;
        xml.writeStartElement(name);
        const SettingType type = settingType(name).value_or(SettingType::Text);
        xml.writeAttribute(QStringLiteral("type"), QString::number(int(type)));
        xml.writeCharacters(xmlSafe(value));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Servers"));
    Cipher cipher(masterPassword);
    for (qint32 index = 0; index < servers.size(); ++index)
        if (serverExists(index))
            writeServer(xml, index, cipher);
    xml.writeEndElement();

    xml.writeEndElement();
    xml.writeEndDocument();
    return contents;
}

void Config::writeServer(QXmlStreamWriter& xml, qint32 index, Cipher& cipher) const {
    const ServerRecord& server = servers[index];
    const auto attribute = [&xml](const QString& name, const QString& value) {
        xml.writeAttribute(name, xmlSafe(value));
    };
    xml.writeStartElement(QStringLiteral("Server"));
    if (index < serverNames.size())
        attribute(QStringLiteral("Name"), serverNames[index]);
    for (const PlainAttribute& plain : PlainAttributes)
        if (!plain.optional || !(server.*plain.field).isEmpty())
            attribute(plain.name, server.*plain.field);

    if (!credentialsLocked) {
        attribute(QStringLiteral("U"), cipher.encryptString(server.user));
        attribute(QStringLiteral("P"), cipher.encryptString(server.password));
    } else {
        // Typed while locked: kept plain until the next unlocked save encrypts it.
        const qint32 held = server.credentialIndex;
        const bool hasHeld = held >= 0 && held < lockedCredentials.size();
        if (!server.user.isEmpty())
            attribute(QStringLiteral("Username"), server.user);
        else if (hasHeld)
            attribute(QStringLiteral("U"), lockedCredentials[held].user);
        if (!server.password.isEmpty())
            attribute(QStringLiteral("Password"), server.password);
        else if (hasHeld)
            attribute(QStringLiteral("P"), lockedCredentials[held].password);
    }

    xml.writeStartElement(QStringLiteral("Folders"));
    for (const QString& folder : serverFolders.value(index))
        if (!folder.isEmpty())
            xml.writeTextElement(QStringLiteral("Folder"), xmlSafe(folder));
    xml.writeEndElement();
    xml.writeEmptyElement(QStringLiteral("Autosort"));
    xml.writeEndElement();
}

} // namespace quaddle
