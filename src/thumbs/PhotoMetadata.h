#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace quaddle {

// What a file is as far as location and camera data go, told by its first bytes, whatever its
// name.
enum class PhotoKind {
    Plain,        // cannot hold such data (text, BMP...): it goes as it is
    Jpeg,         // such data is taken out
    Png,          // such data is taken out
    WebP,         // such data is taken out
    Gif,          // such data is taken out
    Unstrippable, // may hold it where it cannot be taken out without changing the picture
};

// How many of a file's first bytes photoKindOf needs.
constexpr qsizetype PhotoHeadSize = 16;

PhotoKind photoKindOf(QByteArrayView head);

// The photo without what may tell where, when and with what it was taken: EXIF, XMP, IPTC,
// comments and texts, and the further pictures some cameras append. Only the orientation is
// kept, so the picture still stands upright. The compressed image goes byte for byte as it is.
// Throws Error for data whose structure cannot be followed, which might hide anything.
QByteArray photoWithoutMetadata(PhotoKind kind, QByteArrayView photo);

QByteArray jpegWithoutMetadata(QByteArrayView jpeg);
QByteArray pngWithoutMetadata(QByteArrayView png);
QByteArray webpWithoutMetadata(QByteArrayView webp);
QByteArray gifWithoutMetadata(QByteArrayView gif);

} // namespace quaddle
