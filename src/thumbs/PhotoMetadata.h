#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace quaddle {

// Whether the bytes begin as a JPEG file does, whatever its name.
bool isJpegData(QByteArrayView data);

// The JPEG file without its APP1 segments, which hold the EXIF data (camera, time, the GPS
// position) and XMP; every other segment, the compressed image and whatever follows it are kept
// byte for byte, so the picture is exactly the same. Throws Error for data whose segments
// cannot be followed up to the image.
QByteArray jpegWithoutMetadata(QByteArrayView jpeg);

} // namespace quaddle
