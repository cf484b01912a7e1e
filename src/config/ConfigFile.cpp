// Reading and writing config.xml.
#include "config/Config.h"
#include "config/Cipher.h"
#include "config/IntegerText.h"
#include "config/MasterPassword.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace quaddle {

namespace {

QString AttributeOr(const QDomElement& element, const QString& name, const QString& fallback) {
    return element.hasAttribute(name) ? element.attribute(name) : fallback;
}

// XML 1.0 cannot hold control characters other than tab and line breaks, nor the two
// non-characters; writing them would leave a file that no longer loads.
QString XmlSafe(const QString& text) {
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

const QString DamagedFileMessage =
    QStringLiteral("The configuration file contains errors. Reverting back to defaults.") +
    LineBreak + LineBreak +
    QStringLiteral("If you did not edit the file manually, please report a bug to the author.");

} // namespace

void TCfg::LoadConfig(bool force) {
    MasterPassword.clear();
    ServerNames.clear();
    Servers.clear();
    ServerFolders.clear();

    const QFileInfo file(ConfigPath());
    const qint64 age = file.exists() ? file.lastModified().toMSecsSinceEpoch() : 0;
    if (file.exists() && (force || age > ConfigAge)) {
        ConfigAge = age;
        try {
            ReadConfig(file.filePath());
        } catch (const TError&) {
            Dialogs().ShowMessage(DamagedFileMessage, TMsgKind::Error, TMsgButtons::Ok);
        }
    }
    if (const std::optional<qint32> server =
            ParseInteger(GetSetting(QStringLiteral("DefaultServer"))))
        CurrentServer = *server;
}

void TCfg::ReadConfig(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(file.errorString());
    QDomDocument document;
    QString parseError;
    if (!document.setContent(&file, &parseError))
        throw TError(parseError);
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("qdConfig"))
        throw TError(QStringLiteral("No config node found."));

    ReadSettings(root.firstChildElement(QStringLiteral("Settings")));
    AskForMasterPassword(*this);
    ReadServers(root.firstChildElement(QStringLiteral("Servers")));
}

void TCfg::ReadSettings(const QDomElement& settings) {
    for (QDomNode node = settings.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isComment() || node.isProcessingInstruction() || node.nodeName().isEmpty())
            continue;
        const QDomElement element = node.toElement();
        // A missing attribute reads as the empty text, which is no number either.
        const std::optional<qint32> type = ParseInteger(element.attribute(QStringLiteral("type")));
        if (!type)
            throw TError(QStringLiteral("Bad type attribute"));
        const qint32 code = *type;

        const QString name = element.tagName();
        const QString text = element.text();
        switch (TSettingType(code)) {
        case TSettingType::Boolean:
            SetSetting(name, TSettingValue::Boolean(text.toLower() == QLatin1String("true")));
            break;
        case TSettingType::Integer:
        case TSettingType::Double:
        case TSettingType::Byte: {
            const std::optional<qint32> value = ParseInteger(text);
            if (!value)
                throw TError(QStringLiteral("Not an integer: ") + text);
            SetSetting(name, TSettingValue::Integer(*value));
            break;
        }
        case TSettingType::WideText:
        case TSettingType::Text:
            SetSetting(name, element.firstChild().isNull() ? TSettingValue::Null()
                                                           : TSettingValue::WideText(text));
            break;
        default:
            throw TError(QStringLiteral("Unexpected variable type: ") + QString::number(code));
        }
    }
}

void TCfg::ReadServers(const QDomElement& servers) {
    if (servers.isNull() || !servers.hasChildNodes())
        return;
    TCipher cipher(MasterPassword);
    for (QDomElement server = servers.firstChildElement(QStringLiteral("Server")); !server.isNull();
         server = server.nextSiblingElement(QStringLiteral("Server")))
        ReadServer(server, cipher);
}

void TCfg::ReadServer(const QDomElement& server, TCipher& cipher) {
    ServerNames.append(AttributeOr(server, QStringLiteral("Name"), QStringLiteral("New Server")));
    QStringList& folders = ServerFolders.emplace_back();
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
        Servers.append(TServer{});
        return;
    }

    QString username = server.attribute(QStringLiteral("Username"));
    QString password = server.attribute(QStringLiteral("Password"));
    qint32 credentialIndex = -1;
    if (CredentialsLocked) {
        LockedCredentials.append(
            {server.attribute(QStringLiteral("U")), server.attribute(QStringLiteral("P"))});
        credentialIndex = static_cast<qint32>(LockedCredentials.size() - 1);
    } else {
        if (server.hasAttribute(QStringLiteral("U")))
            username = cipher.DecryptString(server.attribute(QStringLiteral("U")));
        if (server.hasAttribute(QStringLiteral("P")))
            password = cipher.DecryptString(server.attribute(QStringLiteral("P")));
    }
    const QString rootDir =
        AttributeOr(server, QStringLiteral("RootDir"), server.attribute(QStringLiteral("Docroot")));
    StoreServer(server.attribute(QStringLiteral("Hostname")),
                server.attribute(QStringLiteral("Port")), username, password, rootDir,
                server.attribute(QStringLiteral("DefaultDir")),
                server.attribute(QStringLiteral("URLMask")),
                server.attribute(QStringLiteral("Type")), -1, credentialIndex);
}

void TCfg::SaveConfig() {
    const QByteArray contents = WriteConfig();
    QSaveFile file(ConfigPath());
    // The file holds the credentials; only its owner may read it. The explicit flush matters:
    // commit() alone does not notice a write that fails while its buffer is flushed.
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                       file.write(contents) == contents.size() && file.flush() && file.commit();
    if (!saved)
        throw TError(QStringLiteral("The configuration could not be saved to \"%1\": %2")
                         .arg(QFileInfo(file.fileName()).absoluteFilePath(), file.errorString()));
}

QByteArray TCfg::WriteConfig() const {
    QByteArray contents;
    QXmlStreamWriter xml(&contents);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(2);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("qdConfig"));

    xml.writeStartElement(QStringLiteral("Settings"));
    for (const auto& [name, value] : SettingValues) {
        if (name.isEmpty())
            continue;
        xml.writeStartElement(name);
        const TSettingType type = GetSettingType(name).value_or(TSettingType::Text);
        xml.writeAttribute(QStringLiteral("type"), QString::number(int(type)));
        xml.writeCharacters(XmlSafe(value));
        xml.writeEndElement();
    }
    xml.writeEndElement();

    xml.writeStartElement(QStringLiteral("Servers"));
    TCipher cipher(MasterPassword);
    for (qint32 index = 0; index < Servers.size(); ++index)
        if (ServerExists(index))
            WriteServer(xml, index, cipher);
    xml.writeEndElement();

    xml.writeEndElement();
    xml.writeEndDocument();
    return contents;
}

void TCfg::WriteServer(QXmlStreamWriter& xml, qint32 index, TCipher& cipher) const {
    const TServer& server = Servers[index];
    const auto attribute = [&xml](const QString& name, const QString& value) {
        xml.writeAttribute(name, XmlSafe(value));
    };
    xml.writeStartElement(QStringLiteral("Server"));
    if (index < ServerNames.size())
        attribute(QStringLiteral("Name"), ServerNames[index]);
    attribute(QStringLiteral("Hostname"), server[Hostname]);
    attribute(QStringLiteral("Type"), server[Type]);
    attribute(QStringLiteral("Port"), server[Port]);
    attribute(QStringLiteral("RootDir"), server[RootDir]);
    attribute(QStringLiteral("DefaultDir"), server[DefaultDir]);
    attribute(QStringLiteral("URLMask"), server[URLMask]);

    if (!CredentialsLocked) {
        attribute(QStringLiteral("U"), cipher.EncryptString(server[Username]));
        attribute(QStringLiteral("P"), cipher.EncryptString(server[Password]));
    } else {
        // Typed while locked: kept plain until the next unlocked save encrypts it.
        const qint32 held = ParseInteger(server[CredentialIndex]).value_or(-1);
        const bool hasHeld = held >= 0 && held < LockedCredentials.size();
        if (!server[Username].isEmpty())
            attribute(QStringLiteral("Username"), server[Username]);
        else if (hasHeld)
            attribute(QStringLiteral("U"), LockedCredentials[held].User);
        if (!server[Password].isEmpty())
            attribute(QStringLiteral("Password"), server[Password]);
        else if (hasHeld)
            attribute(QStringLiteral("P"), LockedCredentials[held].Password);
    }

    xml.writeStartElement(QStringLiteral("Folders"));
    for (const QString& folder : ServerFolders.value(index))
        if (!folder.isEmpty())
            xml.writeTextElement(QStringLiteral("Folder"), XmlSafe(folder));
    xml.writeEndElement();
    xml.writeEmptyElement(QStringLiteral("Autosort"));
    xml.writeEndElement();
}

} // namespace quaddle
