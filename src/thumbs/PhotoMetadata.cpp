#include "thumbs/PhotoMetadata.h"

#include "platform/Error.h"

#include <QList>
#include <QString>
#include <QtEndian>
#include <array>

namespace quaddle {

namespace {

[[noreturn]] void unreadable(const char* format, const char* why) {
    throw Error(QStringLiteral("The %1 file's structure cannot be read: %2.")
                    .arg(QLatin1String(format), QLatin1String(why)));
}

// A literal with its zero bytes, which QByteArrayView's own constructor would stop at.
template <qsizetype Size> constexpr QByteArrayView exactly(const char (&literal)[Size]) {
    return {literal, Size - 1};
}

bool beginsWith(QByteArrayView data, qsizetype at, QByteArrayView expected) {
    return data.size() >= at + expected.size() && data.sliced(at, expected.size()) == expected;
}

// ---- The orientation, the one EXIF tag kept: without it a portrait photo lies on its side.

constexpr quint16 OrientationTag = 0x0112;
constexpr quint16 ShortType = 3;

class TiffReader {
public:
    explicit TiffReader(QByteArrayView tiff) : m_tiff(tiff), m_bigEndian(tiff.startsWith("MM")) {}

    bool fits(qsizetype at, qsizetype size) const { return at >= 0 && at + size <= m_tiff.size(); }
    quint16 u16(qsizetype at) const {
        return m_bigEndian ? qFromBigEndian<quint16>(m_tiff.data() + at)
                           : qFromLittleEndian<quint16>(m_tiff.data() + at);
    }
    quint32 u32(qsizetype at) const {
        return m_bigEndian ? qFromBigEndian<quint32>(m_tiff.data() + at)
                           : qFromLittleEndian<quint32>(m_tiff.data() + at);
    }

private:
    QByteArrayView m_tiff;
    bool m_bigEndian;
};

// The Orientation (1 to 8) of the first picture the TIFF-structured data describes, or 0.
int orientationIn(QByteArrayView tiff) {
    if (tiff.startsWith(exactly("Exif\0\0")))
        tiff = tiff.sliced(6);
    if (!tiff.startsWith(exactly("MM\0*")) && !tiff.startsWith(exactly("II*\0")))
        return 0;
    const TiffReader reader(tiff);
    if (!reader.fits(0, 8))
        return 0;
    const qsizetype directory = reader.u32(4);
    if (!reader.fits(directory, 2))
        return 0;
    for (int entry = 0; entry < reader.u16(directory); ++entry) {
        const qsizetype at = directory + 2 + 12 * qsizetype(entry);
        if (!reader.fits(at, 12))
            return 0;
        if (reader.u16(at) == OrientationTag && reader.u16(at + 2) == ShortType &&
            reader.u32(at + 4) == 1) {
            const int value = reader.u16(at + 8);
            return value >= 1 && value <= 8 ? value : 0;
        }
    }
    return 0;
}

// TIFF-structured data holding nothing but the orientation.
QByteArray tiffWithOnlyOrientation(int orientation) {
    QByteArray tiff("MM\0*\0\0\0\x08"
                    "\0\x01"
                    "\x01\x12\0\x03\0\0\0\x01",
                    18);
    tiff.append(char(0)).append(char(orientation)).append(QByteArray(6, '\0'));
    return tiff;
}

// ---- JPEG: a walk over the segments and the compressed scans of the first picture.

constexpr char MarkerStart = char(0xFF);
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;
constexpr uchar StartOfScan = 0xDA;
constexpr uchar App0 = 0xE0;
constexpr uchar App1 = 0xE1;
constexpr uchar App2 = 0xE2;
constexpr uchar App14 = 0xEE;
constexpr uchar App15 = 0xEF;
constexpr uchar Comment = 0xFE;
constexpr uchar Temporary = 0x01;
constexpr uchar Restart0 = 0xD0;
constexpr uchar Restart7 = 0xD7;
constexpr uchar Stuffing = 0x00;

struct JpegPiece {
    uchar marker; // 0 for compressed data
    QByteArrayView bytes;
    QByteArrayView body;
};

[[noreturn]] void unreadableJpeg(const char* why) {
    unreadable("JPEG", why);
}

bool isRestart(uchar marker) {
    return marker >= Restart0 && marker <= Restart7;
}

bool standsAlone(uchar marker) {
    return marker == Temporary || isRestart(marker);
}

// Where the compressed data that begins at from ends: at the next marker that is neither a
// stuffed byte nor a restart, or at the end of a cut-short file.
qsizetype scanEnd(QByteArrayView jpeg, qsizetype from) {
    qsizetype at = from;
    while (at < jpeg.size()) {
        if (jpeg[at] != MarkerStart) {
            ++at;
            continue;
        }
        qsizetype next = at + 1;
        while (next < jpeg.size() && jpeg[next] == MarkerStart)
            ++next;
        if (next < jpeg.size() && uchar(jpeg[next]) != Stuffing && !isRestart(uchar(jpeg[next])))
            return at;
        at = next + 1;
    }
    return jpeg.size();
}

// The pieces of the first picture, up to its end; whatever follows it is left out.
QList<JpegPiece> jpegPieces(QByteArrayView jpeg) {
    QList<JpegPiece> pieces;
    qsizetype at = 2;
    bool scanned = false;
    for (;;) {
        // A picture cut short in its compressed data still shows what it has.
        if (at >= jpeg.size() && scanned)
            return pieces;
        if (at >= jpeg.size() || jpeg[at] != MarkerStart)
            unreadableJpeg("a segment is missing where one must begin");
        // Any number of fill bytes may come before a marker.
        qsizetype markerAt = at;
        while (markerAt + 1 < jpeg.size() && jpeg[markerAt + 1] == MarkerStart)
            ++markerAt;
        if (markerAt + 1 >= jpeg.size())
            unreadableJpeg("it ends inside a marker");
        const uchar marker = uchar(jpeg[markerAt + 1]);
        if (marker == EndOfImage || standsAlone(marker)) {
            pieces.append({marker, jpeg.sliced(at, markerAt + 2 - at), {}});
            if (marker == EndOfImage)
                return pieces;
            at = markerAt + 2;
            continue;
        }
        if (marker == StartOfImage)
            unreadableJpeg("a picture begins inside another");
        if (markerAt + 4 > jpeg.size())
            unreadableJpeg("it ends inside a segment's length");
        const qsizetype length = qFromBigEndian<quint16>(jpeg.data() + markerAt + 2);
        const qsizetype end = markerAt + 2 + length;
        if (length < 2 || end > jpeg.size())
            unreadableJpeg("a segment is longer than the file");
        pieces.append(
            {marker, jpeg.sliced(at, end - at), jpeg.sliced(markerAt + 4, end - markerAt - 4)});
        at = end;
        if (marker == StartOfScan) {
            const qsizetype dataEnd = scanEnd(jpeg, at);
            pieces.append({0, jpeg.sliced(at, dataEnd - at), {}});
            at = dataEnd;
            scanned = true;
        }
    }
}

// Application segments hold EXIF, XMP, IPTC, the index of appended pictures, makers' own data
// and previews (a JFXX extension may be a whole JPEG with its own EXIF); only those the
// picture's look depends on stay.
bool keptInJpeg(const JpegPiece& piece) {
    if (piece.marker == Comment)
        return false;
    if (piece.marker < App0 || piece.marker > App15)
        return true;
    return (piece.marker == App0 && piece.body.startsWith(exactly("JFIF\0"))) ||
           (piece.marker == App2 && piece.body.startsWith(exactly("ICC_PROFILE\0"))) ||
           (piece.marker == App14 && piece.body.startsWith("Adobe"));
}

QByteArray jpegSegment(uchar marker, const QByteArray& body) {
    QByteArray segment(4, '\0');
    segment[0] = MarkerStart;
    segment[1] = char(marker);
    qToBigEndian<quint16>(quint16(body.size() + 2), segment.data() + 2);
    return segment + body;
}

int jpegOrientation(const QList<JpegPiece>& pieces) {
    for (const JpegPiece& piece : pieces)
        if (piece.marker == App1 && piece.body.startsWith(exactly("Exif\0\0")))
            return orientationIn(piece.body);
    return 0;
}

// ---- PNG: chunks, each with its length, name and check sum.

constexpr QByteArrayView PngSignature("\x89PNG\r\n\x1A\n", 8);

[[noreturn]] void unreadablePng(const char* why) {
    unreadable("PNG", why);
}

quint32 crc32(QByteArrayView data) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> entries{};
        for (quint32 n = 0; n < entries.size(); ++n) {
            quint32 c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c & 1) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    quint32 crc = 0xFFFFFFFFU;
    for (const char byte : data)
        crc = table[(crc ^ uchar(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFU;
}

QByteArray pngChunk(QByteArrayView name, const QByteArray& data) {
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), chunk.data());
    chunk.append(name).append(data).append(4, '\0');
    qToBigEndian<quint32>(crc32(chunk.sliced(4, chunk.size() - 8)),
                          chunk.data() + chunk.size() - 4);
    return chunk;
}

// Critical chunks make the picture; of the others, those that change how it looks stay. The
// texts, EXIF, times and unknown chunks go.
bool keptInPng(QByteArrayView name) {
    static const QList<QByteArrayView> looks = {"cHRM", "gAMA", "iCCP", "sBIT", "sRGB", "cICP",
                                                "mDCv", "cLLi", "bKGD", "hIST", "tRNS", "pHYs",
                                                "sPLT", "acTL", "fcTL", "fdAT"};
    return (name[0] >= 'A' && name[0] <= 'Z') || looks.contains(name);
}

bool isChunkName(QByteArrayView name) {
    for (const char letter : name)
        if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
            return false;
    return true;
}

// ---- WebP: a RIFF file of little-endian chunks, each padded to an even size.

constexpr uchar WebPExifFlag = 0x08;
constexpr uchar WebPXmpFlag = 0x04;

[[noreturn]] void unreadableWebP(const char* why) {
    unreadable("WebP", why);
}

bool keptInWebP(QByteArrayView name) {
    static const QList<QByteArrayView> picture = {"VP8X", "VP8 ", "VP8L", "ALPH",
                                                  "ANIM", "ANMF", "ICCP"};
    return picture.contains(name);
}

QByteArray webpChunk(QByteArrayView name, const QByteArray& data) {
    QByteArray chunk = name.toByteArray().append(4, '\0');
    qToLittleEndian<quint32>(quint32(data.size()), chunk.data() + 4);
    chunk.append(data);
    if (data.size() % 2 != 0)
        chunk.append('\0');
    return chunk;
}

// ---- GIF: blocks of sub-blocks; extensions hold comments and applications' data such as XMP.

constexpr char GifImage = 0x2C;
constexpr char GifExtension = 0x21;
constexpr char GifTrailer = 0x3B;
constexpr uchar GifColourTableFlag = 0x80;
constexpr uchar GraphicControl = 0xF9;
constexpr uchar PlainText = 0x01;
constexpr uchar ApplicationExtension = 0xFF;

[[noreturn]] void unreadableGif(const char* why) {
    unreadable("GIF", why);
}

qsizetype colourTableSize(uchar flags) {
    return flags & GifColourTableFlag ? 3 * (qsizetype(2) << (flags & 7)) : 0;
}

// Where the sub-blocks that begin at from end, after their empty last one.
qsizetype subBlocksEnd(QByteArrayView gif, qsizetype from) {
    qsizetype at = from;
    while (at < gif.size() && gif[at] != 0)
        at += 1 + uchar(gif[at]);
    if (at >= gif.size())
        unreadableGif("it ends inside a block");
    return at + 1;
}

// Of the extensions, those that draw or time the frames stay, and the applications' that say
// how often to play them or hold the colour profile.
bool keptInGif(QByteArrayView extension) {
    const uchar label = uchar(extension[1]);
    if (label == GraphicControl || label == PlainText)
        return true;
    const QByteArrayView application = extension.sliced(2);
    return label == ApplicationExtension && (application.startsWith("\x0BNETSCAPE2.0") ||
                                             application.startsWith("\x0B"
                                                                    "ANIMEXTS1.0") ||
                                             application.startsWith("\x0BICCRGBG1012"));
}

} // namespace

PhotoKind photoKindOf(QByteArrayView head) {
    if (beginsWith(head, 0, "\xFF\xD8\xFF"))
        return PhotoKind::Jpeg;
    if (head.startsWith(PngSignature))
        return PhotoKind::Png;
    if (head.startsWith("RIFF") && beginsWith(head, 8, "WEBP"))
        return PhotoKind::WebP;
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return PhotoKind::Gif;
    // TIFF and the raw formats built on it, JPEG XR, the boxes of HEIF, AVIF, JPEG XL, JPEG
    // 2000, raw formats and phones' videos, the other raw and layered formats, and the PNG-like
    // JNG and MNG, whose chunks differ from PNG's: all may hold EXIF.
    static const QList<QByteArrayView> tiffLike = {
        exactly("MM\0*"), exactly("II*\0"), exactly("MM\0+"), exactly("II+\0"), "IIRO",
        "IIRS",           "MMOR",           exactly("IIU\0"), "II\xBC",         exactly("II\x1A\0"),
        "FUJIFILM",       exactly("\0MRM"), "FOVb",           "8BPS",           "\xFF\x0A",
        "\x8BJNG\r\n",    "\x8AMNG\r\n"};
    for (const QByteArrayView start : tiffLike)
        if (head.startsWith(start))
            return PhotoKind::Unstrippable;
    for (const QByteArrayView box : {"ftyp", "moov", "mdat", "wide", "jP  ", "JXL "})
        if (beginsWith(head, 4, box))
            return PhotoKind::Unstrippable;
    return PhotoKind::Plain;
}

QByteArray photoWithoutMetadata(PhotoKind kind, QByteArrayView photo) {
    switch (kind) {
    case PhotoKind::Jpeg:
        return jpegWithoutMetadata(photo);
    case PhotoKind::Png:
        return pngWithoutMetadata(photo);
    case PhotoKind::WebP:
        return webpWithoutMetadata(photo);
    case PhotoKind::Gif:
        return gifWithoutMetadata(photo);
    case PhotoKind::Unstrippable:
        throw Error(QStringLiteral("Location data cannot be taken out of this kind of file."));
    case PhotoKind::Plain:
        break;
    }
    return photo.toByteArray();
}

QByteArray jpegWithoutMetadata(QByteArrayView jpeg) {
    if (photoKindOf(jpeg) != PhotoKind::Jpeg)
        unreadableJpeg("it does not begin as a JPEG file");
    const QList<JpegPiece> pieces = jpegPieces(jpeg);
    const int orientation = jpegOrientation(pieces);
    QByteArray kept = jpeg.first(2).toByteArray();
    kept.reserve(jpeg.size());
    qsizetype next = 0;
    // The EXIF segment goes where it is expected: right after the JFIF one, if any.
    for (; next < pieces.size() && pieces[next].marker == App0; ++next)
        if (keptInJpeg(pieces[next]))
            kept.append(pieces[next].bytes);
    if (orientation != 0)
        kept.append(jpegSegment(App1, exactly("Exif\0\0").toByteArray() +
                                          tiffWithOnlyOrientation(orientation)));
    for (; next < pieces.size(); ++next)
        if (keptInJpeg(pieces[next]))
            kept.append(pieces[next].bytes);
    return kept;
}

QByteArray pngWithoutMetadata(QByteArrayView png) {
    if (!png.startsWith(PngSignature))
        unreadablePng("it does not begin as a PNG file");
    constexpr qsizetype HeaderEnd = PngSignature.size() + 25;
    if (!beginsWith(png, PngSignature.size(), exactly("\0\0\0\x0DIHDR")) || png.size() < HeaderEnd)
        unreadablePng("it does not begin with its header");
    QByteArray kept = png.first(HeaderEnd).toByteArray();
    kept.reserve(png.size());
    int orientation = 0;
    qsizetype at = HeaderEnd;
    for (;;) {
        if (at + 12 > png.size())
            unreadablePng("it ends before its last chunk");
        const qsizetype length = qFromBigEndian<quint32>(png.data() + at);
        const QByteArrayView name = png.sliced(at + 4, 4);
        if (length > png.size() - at - 12)
            unreadablePng("a chunk is longer than the file");
        if (!isChunkName(name))
            unreadablePng("a chunk has no name");
        if (name == "eXIf" && orientation == 0)
            orientation = orientationIn(png.sliced(at + 8, length));
        if (keptInPng(name))
            kept.append(png.sliced(at, length + 12));
        at += length + 12;
        if (name == "IEND")
            break;
    }
    // The EXIF chunk must come before the image data: right after the header.
    if (orientation != 0)
        kept.insert(HeaderEnd, pngChunk("eXIf", tiffWithOnlyOrientation(orientation)));
    return kept;
}

QByteArray webpWithoutMetadata(QByteArrayView webp) {
    if (photoKindOf(webp) != PhotoKind::WebP)
        unreadableWebP("it does not begin as a WebP file");
    const qsizetype end = 8 + qsizetype(qFromLittleEndian<quint32>(webp.data() + 4));
    if (end > webp.size())
        unreadableWebP("it is shorter than it says");
    QByteArray kept = webp.first(12).toByteArray();
    kept.reserve(webp.size());
    int orientation = 0;
    for (qsizetype at = 12; at < end;) {
        if (at + 8 > end)
            unreadableWebP("it ends inside a chunk's header");
        const QByteArrayView name = webp.sliced(at, 4);
        const qsizetype length = qFromLittleEndian<quint32>(webp.data() + at + 4);
        if (length > end - at - 8)
            unreadableWebP("a chunk is longer than the file");
        if (name == "EXIF" && orientation == 0)
            orientation = orientationIn(webp.sliced(at + 8, length));
        const qsizetype next = std::min(end, at + 8 + length + length % 2);
        if (keptInWebP(name))
            kept.append(webp.sliced(at, next - at));
        at = next;
    }
    const bool extended =
        kept.sliced(12).startsWith("VP8X") && qFromLittleEndian<quint32>(kept.data() + 16) >= 10;
    if (extended) {
        uchar flags = uchar(kept[20]) & ~(WebPExifFlag | WebPXmpFlag);
        // Without the extended header an EXIF chunk would not be read: the orientation needs it.
        if (orientation != 0)
            flags |= WebPExifFlag;
        kept[20] = char(flags);
        if (orientation != 0)
            kept.append(webpChunk("EXIF", tiffWithOnlyOrientation(orientation)));
    }
    qToLittleEndian<quint32>(quint32(kept.size() - 8), kept.data() + 4);
    return kept;
}

QByteArray gifWithoutMetadata(QByteArrayView gif) {
    if (photoKindOf(gif) != PhotoKind::Gif || gif.size() < 13)
        unreadableGif("it does not begin as a GIF file");
    qsizetype at = 13 + colourTableSize(uchar(gif[10]));
    QByteArray kept = gif.first(std::min(at, gif.size())).toByteArray();
    kept.reserve(gif.size());
    for (;;) {
        if (at >= gif.size())
            unreadableGif("it ends before its trailer");
        const char block = gif[at];
        if (block == GifTrailer)
            return kept.append(block);
        qsizetype end = 0;
        if (block == GifExtension && at + 2 < gif.size()) {
            end = subBlocksEnd(gif, at + 2);
        } else if (block == GifImage && at + 10 < gif.size()) {
            end = subBlocksEnd(gif, at + 11 + colourTableSize(uchar(gif[at + 9])));
        } else {
            unreadableGif("a block of an unknown kind begins");
        }
        const QByteArrayView piece = gif.sliced(at, end - at);
        if (block == GifImage || keptInGif(piece))
            kept.append(piece);
        at = end;
    }
}

} // namespace quaddle
