// The SFTP packet reader and reply parsers on arbitrary bytes from the server side. The first
// byte chooses how the rest is cut into pieces; packets must come out the same as when the bytes
// arrive at once, and every packet goes through the parser of its type. Attributes read back
// from their own encoding must come out unchanged.
#include "FuzzSupport.h"
#include "upload/SftpPackets.h"

#include <cstdlib>

using namespace quaddle;
using namespace quaddle::sftp;

namespace {

void checkAttributes(const FileAttributes& attributes) {
    const QByteArray encoded = encodeAttributes(attributes);
    PayloadReader reader(encoded);
    if (reader.attributes() != attributes || !reader.atEnd())
        std::abort();
}

void parse(const Packet& packet) {
    if (packet.payload.size() >= qsizetype(PacketReader::MaxPacket))
        std::abort();
    switch (packet.type) {
    case PacketType::Version:
        parseVersion(packet.payload);
        break;
    case PacketType::Status:
        if (const auto status = parseStatus(packet.payload);
            status && statusText(status->code).isEmpty())
            std::abort();
        break;
    case PacketType::Handle:
        parseHandle(packet.payload);
        break;
    case PacketType::Attrs:
        if (const auto reply = parseAttrs(packet.payload))
            checkAttributes(reply->attributes);
        break;
    case PacketType::Name:
        if (const auto reply = parseName(packet.payload))
            for (const NameEntry& entry : reply->names)
                checkAttributes(entry.attributes);
        break;
    default:
        replyId(packet.payload);
    }
}

QList<QByteArray> drain(PacketReader& reader) {
    QList<QByteArray> packets;
    while (const std::optional<Packet> packet = reader.next()) {
        parse(*packet);
        packets.append(char(packet->type) + packet->payload);
    }
    return packets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView stream(data + 1, qsizetype(size - 1));

    PacketReader whole;
    whole.append(stream);
    const QList<QByteArray> atOnce = drain(whole);

    PacketReader piecewise;
    QList<QByteArray> inPieces;
    for (const QByteArrayView piece : fuzz::pieces(stream, data[0])) {
        piecewise.append(piece);
        inPieces.append(drain(piecewise));
    }
    if (atOnce != inPieces || whole.violation() != piecewise.violation())
        std::abort();
    return 0;
}
