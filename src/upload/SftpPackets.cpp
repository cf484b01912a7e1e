#include "upload/SftpPackets.h"

#include <QtEndian>
#include <algorithm>

namespace quaddle::sftp {

namespace {

// Builds one packet; the length in front is filled in at the end.
class PacketWriter {
public:
    explicit PacketWriter(PacketType type) {
        uint32(0);
        m_bytes.append(char(type));
    }

    PacketWriter& uint32(quint32 value) {
        char bytes[4];
        qToBigEndian(value, bytes);
        m_bytes.append(bytes, 4);
        return *this;
    }
    PacketWriter& uint64(quint64 value) {
        char bytes[8];
        qToBigEndian(value, bytes);
        m_bytes.append(bytes, 8);
        return *this;
    }
    PacketWriter& string(QByteArrayView value) {
        uint32(quint32(value.size()));
        m_bytes.append(value);
        return *this;
    }
    PacketWriter& raw(QByteArrayView value) {
        m_bytes.append(value);
        return *this;
    }

    QByteArray packet() {
        qToBigEndian(quint32(m_bytes.size() - 4), m_bytes.data());
        return m_bytes;
    }

private:
    QByteArray m_bytes;
};

std::optional<NamedValues> namedValues(PayloadReader& reader, quint32 count) {
    NamedValues values;
    for (quint32 i = 0; i < count; ++i) {
        std::optional<QByteArray> name = reader.string();
        std::optional<QByteArray> value = reader.string();
        if (!name || !value)
            return std::nullopt;
        values.append({*name, *value});
    }
    return values;
}

QByteArray pathRequest(PacketType type, quint32 id, QByteArrayView path) {
    return PacketWriter(type).uint32(id).string(path).packet();
}

} // namespace

std::optional<Packet> PacketReader::next() {
    if (!m_violation.isEmpty())
        return std::nullopt;
    const qsizetype available = m_pending.size() - m_start;
    if (available < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(m_pending.constData() + m_start);
    if (length == 0 || length > MaxPacket) {
        m_violation = QStringLiteral("The server sent a packet of %1 bytes, which is no SFTP "
                                     "packet (at most %2 bytes).")
                          .arg(length)
                          .arg(MaxPacket);
        m_pending.clear();
        m_start = 0;
        return std::nullopt;
    }
    if (available - 4 < qsizetype(length))
        return std::nullopt;
    Packet packet;
    packet.type = PacketType(quint8(m_pending.at(m_start + 4)));
    packet.payload = m_pending.mid(m_start + 5, length - 1);
    m_start += 4 + length;
    // Dropping what was read only now and then keeps a burst of small replies from copying
    // the rest of the buffer each time.
    if (m_start == m_pending.size() || m_start > MaxPacket) {
        m_pending.remove(0, m_start);
        m_start = 0;
    }
    return packet;
}

bool canStartVersion(QByteArrayView bytes) {
    constexpr qsizetype LengthSize = 4;
    QByteArray length(LengthSize, '\0');
    std::copy_n(bytes.begin(), std::min(bytes.size(), LengthSize), length.begin());
    return qFromBigEndian<quint32>(length.constData()) <= PacketReader::MaxPacket &&
           (bytes.size() <= LengthSize ||
            PacketType(quint8(bytes[LengthSize])) == PacketType::Version);
}

std::optional<QByteArrayView> PayloadReader::take(qsizetype count) {
    if (m_offset < 0 || count < 0 || count > m_data.size() - m_offset) {
        m_offset = -1;
        return std::nullopt;
    }
    const QByteArrayView taken = m_data.sliced(m_offset, count);
    m_offset += count;
    return taken;
}

std::optional<quint32> PayloadReader::uint32() {
    const std::optional<QByteArrayView> bytes = take(4);
    return bytes ? std::optional<quint32>(qFromBigEndian<quint32>(bytes->data())) : std::nullopt;
}

std::optional<quint64> PayloadReader::uint64() {
    const std::optional<QByteArrayView> bytes = take(8);
    return bytes ? std::optional<quint64>(qFromBigEndian<quint64>(bytes->data())) : std::nullopt;
}

std::optional<QByteArray> PayloadReader::string() {
    const std::optional<quint32> length = uint32();
    const std::optional<QByteArrayView> bytes = length ? take(qsizetype(*length)) : std::nullopt;
    return bytes ? std::optional<QByteArray>(bytes->toByteArray()) : std::nullopt;
}

std::optional<FileAttributes> PayloadReader::attributes() {
    const std::optional<quint32> flags = uint32();
    if (!flags)
        return std::nullopt;
    FileAttributes attributes;
    if (*flags & HasSize)
        attributes.size = uint64();
    const auto pair = [this]() -> std::optional<std::pair<quint32, quint32>> {
        const std::optional<quint32> first = uint32();
        const std::optional<quint32> second = uint32();
        if (!first || !second)
            return std::nullopt;
        return std::pair(*first, *second);
    };
    if (*flags & HasOwner)
        attributes.owner = pair();
    if (*flags & HasPermissions)
        attributes.permissions = uint32();
    if (*flags & HasTimes)
        attributes.times = pair();
    if (*flags & HasExtended) {
        const std::optional<quint32> count = uint32();
        std::optional<NamedValues> extended = count ? namedValues(*this, *count) : std::nullopt;
        if (!extended)
            return std::nullopt;
        attributes.extended = *extended;
    }
    // A field cut short leaves the reader failed, which the next read reports.
    if (m_offset < 0)
        return std::nullopt;
    return attributes;
}

std::optional<VersionReply> parseVersion(QByteArrayView payload) {
    PayloadReader reader(payload);
    VersionReply reply;
    const std::optional<quint32> version = reader.uint32();
    if (!version)
        return std::nullopt;
    reply.version = *version;
    // Extensions are name and data pairs up to the end of the packet.
    while (!reader.atEnd()) {
        std::optional<NamedValues> extension = namedValues(reader, 1);
        if (!extension)
            return std::nullopt;
        reply.extensions.append(extension->constFirst());
    }
    return reply;
}

std::optional<StatusReply> parseStatus(QByteArrayView payload) {
    PayloadReader reader(payload);
    const std::optional<quint32> id = reader.uint32();
    const std::optional<quint32> code = reader.uint32();
    if (!id || !code)
        return std::nullopt;
    StatusReply reply{*id, *code, {}, {}};
    // Some servers end the packet after the code; the message is then the code's meaning.
    if (reader.atEnd())
        return reply;
    const std::optional<QByteArray> message = reader.string();
    const std::optional<QByteArray> language = reader.string();
    if (!message || !language)
        return std::nullopt;
    reply.message = QString::fromUtf8(*message);
    reply.language = QString::fromUtf8(*language);
    return reply;
}

std::optional<HandleReply> parseHandle(QByteArrayView payload) {
    PayloadReader reader(payload);
    const std::optional<quint32> id = reader.uint32();
    std::optional<QByteArray> handle = reader.string();
    if (!id || !handle)
        return std::nullopt;
    return HandleReply{*id, *handle};
}

std::optional<AttrsReply> parseAttrs(QByteArrayView payload) {
    PayloadReader reader(payload);
    const std::optional<quint32> id = reader.uint32();
    std::optional<FileAttributes> attributes = reader.attributes();
    if (!id || !attributes)
        return std::nullopt;
    return AttrsReply{*id, *attributes};
}

std::optional<NameReply> parseName(QByteArrayView payload) {
    PayloadReader reader(payload);
    const std::optional<quint32> id = reader.uint32();
    const std::optional<quint32> count = reader.uint32();
    if (!id || !count)
        return std::nullopt;
    NameReply reply{*id, {}};
    // No reserve from the count: every entry has to be there before it is kept.
    for (quint32 i = 0; i < *count; ++i) {
        std::optional<QByteArray> name = reader.string();
        std::optional<QByteArray> longName = reader.string();
        std::optional<FileAttributes> attributes = reader.attributes();
        if (!name || !longName || !attributes)
            return std::nullopt;
        reply.names.append({*name, *longName, *attributes});
    }
    return reply;
}

std::optional<quint32> replyId(QByteArrayView payload) {
    return PayloadReader(payload).uint32();
}

QString statusText(quint32 code) {
    switch (code) {
    case Ok:
        return QStringLiteral("Success");
    case EndOfFile:
        return QStringLiteral("End of file");
    case NoSuchFile:
        return QStringLiteral("No such file");
    case PermissionDenied:
        return QStringLiteral("Permission denied");
    case Failure:
        return QStringLiteral("Failure");
    case BadMessage:
        return QStringLiteral("Bad message");
    case NoConnection:
        return QStringLiteral("No connection");
    case ConnectionLost:
        return QStringLiteral("Connection lost");
    case OperationUnsupported:
        return QStringLiteral("Operation unsupported");
    }
    return QStringLiteral("Unknown error %1").arg(code);
}

QByteArray encodeAttributes(const FileAttributes& attributes) {
    quint32 flags = 0;
    PacketWriter fields(PacketType::Attrs);
    if (attributes.size) {
        flags |= HasSize;
        fields.uint64(*attributes.size);
    }
    if (attributes.owner) {
        flags |= HasOwner;
        fields.uint32(attributes.owner->first).uint32(attributes.owner->second);
    }
    if (attributes.permissions) {
        flags |= HasPermissions;
        fields.uint32(*attributes.permissions);
    }
    if (attributes.times) {
        flags |= HasTimes;
        fields.uint32(attributes.times->first).uint32(attributes.times->second);
    }
    if (!attributes.extended.isEmpty()) {
        flags |= HasExtended;
        fields.uint32(quint32(attributes.extended.size()));
        for (const auto& [name, value] : attributes.extended)
            fields.string(name).string(value);
    }
    char flagBytes[4];
    qToBigEndian(flags, flagBytes);
    // The writer's length and type byte are not part of the structure.
    return QByteArray(flagBytes, 4) + fields.packet().mid(5);
}

QByteArray initPacket() {
    return PacketWriter(PacketType::Init).uint32(ProtocolVersion).packet();
}

QByteArray realPathPacket(quint32 id, QByteArrayView path) {
    return pathRequest(PacketType::Realpath, id, path);
}

QByteArray lstatPacket(quint32 id, QByteArrayView path) {
    return pathRequest(PacketType::Lstat, id, path);
}

QByteArray mkdirPacket(quint32 id, QByteArrayView path, const FileAttributes& attributes) {
    return PacketWriter(PacketType::Mkdir)
        .uint32(id)
        .string(path)
        .raw(encodeAttributes(attributes))
        .packet();
}

QByteArray openPacket(quint32 id, QByteArrayView path, quint32 flags,
                      const FileAttributes& attributes) {
    return PacketWriter(PacketType::Open)
        .uint32(id)
        .string(path)
        .uint32(flags)
        .raw(encodeAttributes(attributes))
        .packet();
}

QByteArray writePacket(quint32 id, QByteArrayView handle, quint64 offset, QByteArrayView data) {
    return PacketWriter(PacketType::Write)
        .uint32(id)
        .string(handle)
        .uint64(offset)
        .string(data)
        .packet();
}

QByteArray closePacket(quint32 id, QByteArrayView handle) {
    return pathRequest(PacketType::Close, id, handle);
}

QByteArray setstatPacket(quint32 id, QByteArrayView path, const FileAttributes& attributes) {
    return PacketWriter(PacketType::Setstat)
        .uint32(id)
        .string(path)
        .raw(encodeAttributes(attributes))
        .packet();
}

QByteArray renamePacket(quint32 id, QByteArrayView from, QByteArrayView to) {
    return PacketWriter(PacketType::Rename).uint32(id).string(from).string(to).packet();
}

QByteArray posixRenamePacket(quint32 id, QByteArrayView from, QByteArrayView to) {
    return PacketWriter(PacketType::Extended)
        .uint32(id)
        .string(PosixRename)
        .string(from)
        .string(to)
        .packet();
}

QByteArray removePacket(quint32 id, QByteArrayView path) {
    return pathRequest(PacketType::Remove, id, path);
}

} // namespace quaddle::sftp
