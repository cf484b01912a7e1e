#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>
#include <functional>

namespace quaddle {

// Colour models of raw samples for encodeJpegSamples.
enum class JpegColours {
    Grey,      // one byte a pixel
    Rgb,       // R, G, B; stored as YCbCr
    Cmyk,      // C, M, Y, K ink (0 = no ink); stored as CMYK without an Adobe marker
    AdobeCmyk, // inverted ink (255 = no ink), the way Photoshop writes it; Adobe marker
    AdobeYcck, // inverted ink as for AdobeCmyk, stored as YCCK
};

// The largest image decoded: 100 megapixels, and no side longer than 32768 pixels.
inline constexpr qint64 MaxImagePixels = 100'000'000;
inline constexpr qint64 MaxImageSide = 32768;

// Throws Error ("The image is too large ...") for an image over those bounds, or over a lower
// pixel bound a decoder imposes.
void checkImageSize(qint64 width, qint64 height, qint64 maxPixels = MaxImagePixels);

// Told the image's size before the first row; may throw Error to refuse the image.
using JpegSizeHandler = std::function<void(QSize size)>;
// Given each row, top to bottom, as Format_RGB32 pixels that stay valid until the next row.
using JpegRowHandler = std::function<void(int y, const QRgb* pixels)>;

// Decodes JPEG data at full size with the accurate integer DCT, whatever the colour space stored
// (greyscale, YCbCr, RGB, CMYK or YCCK), and hands the rows over one by one: only one row is in
// memory at a time. Throws Error with the library's message for data that is no complete JPEG
// image, and for images too large.
void decodeJpegRows(QByteArrayView data, const JpegSizeHandler& sized, const JpegRowHandler& row);

// decodeJpegRows of a file's contents; Error also when the file cannot be read.
void readJpegRows(const QString& path, const JpegSizeHandler& sized, const JpegRowHandler& row);

// decodeJpegRows into a Format_RGB32 image.
QImage decodeJpeg(QByteArrayView data);

// A baseline YCbCr JPEG of the image at the given quality (0-100).
QByteArray encodeJpeg(const QImage& image, int quality);

// A baseline JPEG of raw samples: rows packed top to bottom, as many bytes a pixel as the
// colour model has components.
QByteArray encodeJpegSamples(QByteArrayView samples, int width, int height, JpegColours colours,
                             int quality);

} // namespace quaddle
