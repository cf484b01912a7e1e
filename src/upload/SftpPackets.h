#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// The packets of the SFTP protocol version 3 (draft-ietf-secsh-filexfer-02) that the client
// sends and reads: a uint32 length, a type byte and the payload, integers big-endian.
namespace quaddle::sftp {

enum class PacketType : quint8 {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Write = 6,
    Lstat = 7,
    Setstat = 9,
    Remove = 13,
    Mkdir = 14,
    Realpath = 16,
    Rename = 18,
    Status = 101,
    Handle = 102,
    Data = 103,
    Name = 104,
    Attrs = 105,
    Extended = 200,
    ExtendedReply = 201,
};

enum StatusCode : quint32 {
    Ok = 0,
    EndOfFile = 1,
    NoSuchFile = 2,
    PermissionDenied = 3,
    Failure = 4,
    BadMessage = 5,
    NoConnection = 6,
    ConnectionLost = 7,
    OperationUnsupported = 8,
};

// How OPEN opens a file.
enum OpenFlag : quint32 {
    OpenRead = 0x01,
    OpenWrite = 0x02,
    OpenAppend = 0x04,
    OpenCreate = 0x08,
    OpenTruncate = 0x10,
    OpenExclusive = 0x20,
};

// Which fields of an ATTRS structure are present.
enum AttributeFlag : quint32 {
    HasSize = 0x01,
    HasOwner = 0x02,
    HasPermissions = 0x04,
    HasTimes = 0x08,
    HasExtended = 0x80000000,
};

inline constexpr quint32 ProtocolVersion = 3;
inline constexpr QByteArrayView PosixRename = "posix-rename@openssh.com";

using NamedValues = QList<std::pair<QByteArray, QByteArray>>;

struct FileAttributes {
    std::optional<quint64> size;
    std::optional<std::pair<quint32, quint32>> owner; // uid, gid
    std::optional<quint32> permissions;
    std::optional<std::pair<quint32, quint32>> times; // atime, mtime
    NamedValues extended;

    bool operator==(const FileAttributes&) const = default;
};

struct Packet {
    PacketType type = PacketType::Status;
    QByteArray payload;
};

// Cuts the bytes the server sends into whole packets; they may arrive in pieces of any size.
// A length beyond MaxPacket ends the reading rather than being waited for or allocated.
class PacketReader {
public:
    // The largest reply this client provokes is a NAME or STATUS of a few hundred bytes; servers
    // cap their packets at 256 KiB, so more than that is a broken stream.
    static constexpr quint32 MaxPacket = 256 * 1024 + 1024;

    void append(QByteArrayView bytes) { m_pending.append(bytes); }
    // The next whole packet, or nothing until more bytes arrive or after a violation.
    std::optional<Packet> next();
    // How the stream broke the protocol, for the user; empty while it keeps to it.
    QString violation() const { return m_violation; }
    // The bytes not yet taken as packets.
    QByteArrayView unread() const { return QByteArrayView(m_pending).sliced(m_start); }

private:
    QByteArray m_pending;
    qsizetype m_start = 0;
    QString m_violation;
};

// Whether bytes, the first of a stream, can begin a VERSION packet. Text cannot: its first byte
// alone would make a length of many megabytes.
bool canStartVersion(QByteArrayView bytes);

// Reads the fields of one payload in order; once a read runs past the end, it and every later
// one yield nothing.
class PayloadReader {
public:
    explicit PayloadReader(QByteArrayView payload) : m_data(payload) {}

    std::optional<quint32> uint32();
    std::optional<quint64> uint64();
    std::optional<QByteArray> string();
    std::optional<FileAttributes> attributes();
    bool atEnd() const { return m_offset == m_data.size(); }

private:
    std::optional<QByteArrayView> take(qsizetype count);

    QByteArrayView m_data;
    qsizetype m_offset = 0;
};

struct VersionReply {
    quint32 version = 0;
    NamedValues extensions;
};

struct StatusReply {
    quint32 id = 0;
    quint32 code = 0;
    QString message;
    QString language;
};

struct HandleReply {
    quint32 id = 0;
    QByteArray handle;
};

struct AttrsReply {
    quint32 id = 0;
    FileAttributes attributes;
};

struct NameEntry {
    QByteArray name;
    QByteArray longName;
    FileAttributes attributes;
};

struct NameReply {
    quint32 id = 0;
    QList<NameEntry> names;
};

// Each yields nothing when the payload is cut short. Trailing bytes are allowed, as later
// protocol versions add fields.
std::optional<VersionReply> parseVersion(QByteArrayView payload);
std::optional<StatusReply> parseStatus(QByteArrayView payload);
std::optional<HandleReply> parseHandle(QByteArrayView payload);
std::optional<AttrsReply> parseAttrs(QByteArrayView payload);
std::optional<NameReply> parseName(QByteArrayView payload);
// The request id every reply but VERSION starts with.
std::optional<quint32> replyId(QByteArrayView payload);

// What a status code means, in words for the user.
QString statusText(quint32 code);

// Whole packets, length included, ready to send.
QByteArray initPacket();
QByteArray realPathPacket(quint32 id, QByteArrayView path);
QByteArray lstatPacket(quint32 id, QByteArrayView path);
QByteArray mkdirPacket(quint32 id, QByteArrayView path, const FileAttributes& attributes = {});
QByteArray openPacket(quint32 id, QByteArrayView path, quint32 flags,
                      const FileAttributes& attributes = {});
QByteArray writePacket(quint32 id, QByteArrayView handle, quint64 offset, QByteArrayView data);
QByteArray closePacket(quint32 id, QByteArrayView handle);
QByteArray setstatPacket(quint32 id, QByteArrayView path, const FileAttributes& attributes);
QByteArray renamePacket(quint32 id, QByteArrayView from, QByteArrayView to);
QByteArray posixRenamePacket(quint32 id, QByteArrayView from, QByteArrayView to);
QByteArray removePacket(quint32 id, QByteArrayView path);
// The ATTRS structure alone, as it appears inside a packet.
QByteArray encodeAttributes(const FileAttributes& attributes);

} // namespace quaddle::sftp
