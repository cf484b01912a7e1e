#include "thumbs/PhotoMetadata.h"

#include "platform/Error.h"

#include <QString>

namespace quaddle {

namespace {

constexpr char MarkerStart = char(0xFF);
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;
constexpr uchar StartOfScan = 0xDA;
constexpr uchar App1 = 0xE1;
constexpr uchar Temporary = 0x01;
constexpr uchar Restart0 = 0xD0;
constexpr uchar Restart7 = 0xD7;

[[noreturn]] void unreadable(const char* why) {
    throw Error(QStringLiteral("The JPEG file's structure cannot be read: ") + QLatin1String(why) +
                QLatin1Char('.'));
}

bool standsAlone(uchar marker) {
    return marker == Temporary || (marker >= Restart0 && marker <= Restart7);
}

} // namespace

bool isJpegData(QByteArrayView data) {
    return data.size() >= 3 && data[0] == MarkerStart && uchar(data[1]) == StartOfImage &&
           data[2] == MarkerStart;
}

QByteArray jpegWithoutMetadata(QByteArrayView jpeg) {
    if (!isJpegData(jpeg))
        unreadable("it does not begin as a JPEG file");
    QByteArray kept;
    kept.reserve(jpeg.size());
    kept.append(jpeg.first(2));
    qsizetype at = 2;
    for (;;) {
        if (at >= jpeg.size() || jpeg[at] != MarkerStart)
            unreadable("a segment is missing where one must begin");
        // Any number of fill bytes may come before a marker.
        qsizetype markerAt = at;
        while (markerAt + 1 < jpeg.size() && jpeg[markerAt + 1] == MarkerStart)
            ++markerAt;
        if (markerAt + 1 >= jpeg.size())
            unreadable("it ends inside a marker");
        const uchar marker = uchar(jpeg[markerAt + 1]);
        if (marker == EndOfImage) {
            kept.append(jpeg.sliced(at));
            return kept;
        }
        if (standsAlone(marker)) {
            kept.append(jpeg.sliced(at, markerAt + 2 - at));
            at = markerAt + 2;
            continue;
        }
        if (markerAt + 4 > jpeg.size())
            unreadable("it ends inside a segment's length");
        const qsizetype length =
            (qsizetype(uchar(jpeg[markerAt + 2])) << 8) | uchar(jpeg[markerAt + 3]);
        const qsizetype end = markerAt + 2 + length;
        if (length < 2 || end > jpeg.size())
            unreadable("a segment is longer than the file");
        // The compressed image and all after it go as they are.
        if (marker == StartOfScan) {
            kept.append(jpeg.sliced(at));
            return kept;
        }
        if (marker != App1)
            kept.append(jpeg.sliced(at, end - at));
        at = end;
    }
}

} // namespace quaddle
