// The FTP reply reader on arbitrary bytes from the server side. The first byte chooses how the
// rest is cut into pieces; lines and replies must come out the same as when the bytes arrive
// at once, and every reply goes through the PASV parser.
#include "FuzzSupport.h"
#include "upload/FtpReplies.h"

#include <QStringList>
#include <cstdlib>

using namespace quaddle;

namespace {

struct TRead {
    QStringList Lines;
    QList<int> Codes;
    QStringList Replies;
    bool TooLong = false;
};

void Drain(TFtpReplyReader& reader, TRead& read) {
    const auto onLine = [&](const QString& line) { read.Lines.append(line); };
    while (const std::optional<TFtpReply> reply = reader.Next(onLine)) {
        // The code is the line's first three characters.
        if (reply->Line.left(3) != QString::asprintf("%03d", reply->Code))
            std::abort();
        read.Codes.append(reply->Code);
        read.Replies.append(reply->Line);
        if (const std::optional<quint16> port = PasvPort(reply->Line); port && *port == 0)
            std::abort();
    }
    read.TooLong = read.TooLong || reader.LineTooLong();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView stream(data + 1, qsizetype(size - 1));

    TFtpReplyReader whole;
    TRead atOnce;
    whole.Append(stream);
    Drain(whole, atOnce);

    TFtpReplyReader piecewise;
    TRead inPieces;
    for (const QByteArrayView piece : fuzz::Pieces(stream, data[0])) {
        piecewise.Append(piece);
        Drain(piecewise, inPieces);
    }
    // A line over the limit ends the connection; where that happens depends on the pieces.
    if (atOnce.TooLong || inPieces.TooLong)
        return 0;
    if (atOnce.Lines != inPieces.Lines || atOnce.Codes != inPieces.Codes ||
        atOnce.Replies != inPieces.Replies)
        std::abort();
    return 0;
}
