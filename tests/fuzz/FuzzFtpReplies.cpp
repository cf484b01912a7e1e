// The FTP reply reader on arbitrary bytes from the server side. The first byte chooses how the
// rest is cut into pieces; lines and replies must come out the same as when the bytes arrive
// at once, and every reply goes through the PASV and EPSV parsers.
#include "FuzzSupport.h"
#include "upload/FtpReplies.h"

#include <QStringList>
#include <cstdlib>

using namespace quaddle;

namespace {

struct PieceRead {
    QStringList lines;
    QList<int> codes;
    QStringList replies;
    bool tooLong = false;
};

void drain(FtpReplyReader& reader, PieceRead& read) {
    const auto onLine = [&](const QString& line) { read.lines.append(line); };
    while (const std::optional<FtpReply> reply = reader.next(onLine)) {
        // The code is the line's first three characters.
        if (reply->line.left(3) != QString::asprintf("%03d", reply->code))
            std::abort();
        read.codes.append(reply->code);
        read.replies.append(reply->line);
        if (const std::optional<quint16> port = pasvPort(reply->line); port && *port == 0)
            std::abort();
        if (const std::optional<quint16> port = epsvPort(reply->line); port && *port == 0)
            std::abort();
    }
    read.tooLong = read.tooLong || !reader.violation().isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView stream(data + 1, qsizetype(size - 1));

    FtpReplyReader whole;
    PieceRead atOnce;
    whole.append(stream);
    drain(whole, atOnce);

    FtpReplyReader piecewise;
    PieceRead inPieces;
    for (const QByteArrayView piece : fuzz::pieces(stream, data[0])) {
        piecewise.append(piece);
        drain(piecewise, inPieces);
    }
    // A reply over the bounds ends the connection; where that happens depends on the pieces.
    if (atOnce.tooLong || inPieces.tooLong)
        return 0;
    if (atOnce.lines != inPieces.lines || atOnce.codes != inPieces.codes ||
        atOnce.replies != inPieces.replies)
        std::abort();
    return 0;
}
