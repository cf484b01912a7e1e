#include "thumbs/Jpeg.h"

#include "platform/Error.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <vector>

namespace quaddle {

namespace {

// libjpeg reports errors through these callbacks. Its default handler ends the process, so
// error_exit jumps back to the guarded call instead, with the library's message saved.
struct JpegErrors {
    jpeg_error_mgr manager; // first, so the library's pointer converts back
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void errorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void emitMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return; // trace output
    // A file cut short decodes with a grey remainder; the thumbnail would look broken, so it
    // counts as an error. Other damage is tolerated, as image viewers do.
    if (info->err->msg_code == JWRN_JPEG_EOF)
        errorExit(info);
    ++info->err->num_warnings;
}

void outputMessage(j_common_ptr) {}

jpeg_error_mgr* installErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = errorExit;
    errors.manager.emit_message = emitMessage;
    errors.manager.output_message = outputMessage;
    errors.message[0] = '\0';
    return &errors.manager;
}

// Runs one step of library calls, which may jump back here on an error. The step must hold
// nothing that needs destroying, since a jump skips its destructors.
template <typename Job> bool guarded(Job& job, void (*step)(Job&)) {
    if (setjmp(job.errors.jump) != 0)
        return false;
    step(job);
    return true;
}

template <typename Job> void run(Job& job, void (*step)(Job&)) {
    if (!guarded(job, step))
        throw Error(QString::fromLatin1(job.errors.message));
}

struct Decoder {
    jpeg_decompress_struct info{};
    JpegErrors errors;
    const unsigned char* data = nullptr;
    unsigned long size = 0;
    uchar* row = nullptr; // where the next scanline goes

    Decoder() { info.err = installErrors(errors); }
    ~Decoder() { jpeg_destroy_decompress(&info); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    static void readHeader(Decoder& job) {
        jpeg_create_decompress(&job.info);
        jpeg_mem_src(&job.info, job.data, job.size);
        jpeg_read_header(&job.info, TRUE);
    }

    static void start(Decoder& job) { jpeg_start_decompress(&job.info); }

    static void readRow(Decoder& job) {
        JSAMPROW row = job.row;
        jpeg_read_scanlines(&job.info, &row, 1);
    }

    static void finish(Decoder& job) { jpeg_finish_decompress(&job.info); }
};

// CMYK pixels decoded into 32-bit cells become RGB. Photoshop's files, marked by the Adobe
// segment, hold inverted ink values.
void cmykToRgb(QRgb* pixels, int width, bool inverted) {
    for (int x = 0; x < width; ++x) {
        const auto* ink = reinterpret_cast<const uchar*>(pixels + x);
        int light[4];
        for (int i = 0; i < 4; ++i)
            light[i] = inverted ? ink[i] : 255 - ink[i];
        const auto channel = [&](int i) { return (light[i] * light[3] + 127) / 255; };
        pixels[x] = qRgb(channel(0), channel(1), channel(2));
    }
}

struct Encoder {
    jpeg_compress_struct info{};
    JpegErrors errors;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const uchar* pixels = nullptr;
    qsizetype stride = 0;
    int width = 0;
    int height = 0;
    int components = 3;
    J_COLOR_SPACE input = JCS_RGB;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool adobeMarker = false;
    int quality = 90;

    Encoder() { info.err = installErrors(errors); }
    ~Encoder() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    static void encode(Encoder& job) {
        jpeg_create_compress(&job.info);
        jpeg_mem_dest(&job.info, &job.buffer, &job.size);
        job.info.image_width = JDIMENSION(job.width);
        job.info.image_height = JDIMENSION(job.height);
        job.info.input_components = job.components;
        job.info.in_color_space = job.input;
        jpeg_set_defaults(&job.info);
        jpeg_set_colorspace(&job.info, job.stored);
        job.info.write_Adobe_marker = job.adobeMarker ? TRUE : FALSE;
        jpeg_set_quality(&job.info, job.quality, TRUE);
        job.info.dct_method = JDCT_ISLOW;
        jpeg_start_compress(&job.info, TRUE);
        while (job.info.next_scanline < job.info.image_height) {
            auto row =
                const_cast<JSAMPROW>(job.pixels + job.stride * qsizetype(job.info.next_scanline));
            jpeg_write_scanlines(&job.info, &row, 1);
        }
        jpeg_finish_compress(&job.info);
    }

    QByteArray encoded() {
        run(*this, encode);
        return QByteArray(reinterpret_cast<const char*>(buffer), qsizetype(size));
    }
};

} // namespace

void checkImageSize(qint64 width, qint64 height, qint64 maxPixels) {
    if (width > MaxImageSide || height > MaxImageSide ||
        width * height > std::min(maxPixels, MaxImagePixels))
        throw Error(
            QStringLiteral("The image is too large (%1 x %2 pixels) to make a thumbnail of.")
                .arg(width)
                .arg(height));
}

void decodeJpegRows(QByteArrayView data, const JpegSizeHandler& sized, const JpegRowHandler& row) {
    Decoder decoder;
    decoder.data = reinterpret_cast<const unsigned char*>(data.data());
    decoder.size = static_cast<unsigned long>(data.size());
    run(decoder, Decoder::readHeader);

    jpeg_decompress_struct& info = decoder.info;
    checkImageSize(info.image_width, info.image_height);
    info.dct_method = JDCT_ISLOW;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Both fill 32-bit cells: RGB with the filler byte 0xFF in QRgb's byte order, or the four
    // inks, turned into RGB afterwards.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif
    const int width = int(info.image_width);
    sized(QSize(width, int(info.image_height)));

    std::vector<QRgb> pixels(static_cast<size_t>(width));
    decoder.row = reinterpret_cast<uchar*>(pixels.data());
    run(decoder, Decoder::start);
    // Row by row, so that the handler runs outside the library's error jumps.
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        run(decoder, Decoder::readRow);
        if (cmyk)
            cmykToRgb(pixels.data(), width, info.saw_Adobe_marker);
        row(y, pixels.data());
    }
    run(decoder, Decoder::finish);
}

void readJpegRows(const QString& path, const JpegSizeHandler& sized, const JpegRowHandler& row) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("The file could not be opened: ") + file.errorString());
    // Read, not mapped: a file cut short by someone else while it is decoded would end the
    // program with SIGBUS; read bytes stay as they were.
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("The file could not be read: ") + file.errorString());
    decodeJpegRows(contents, sized, row);
}

QImage decodeJpeg(QByteArrayView data) {
    QImage image;
    decodeJpegRows(
        data,
        [&](QSize size) {
            image = QImage(size, QImage::Format_RGB32);
            if (image.isNull())
                throw Error(QStringLiteral("There is not enough memory to decode the image."));
        },
        [&](int y, const QRgb* pixels) {
            std::memcpy(image.scanLine(y), pixels, size_t(image.width()) * sizeof(QRgb));
        });
    return image;
}

QByteArray encodeJpeg(const QImage& image, int quality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Encoder encoder;
    encoder.pixels = rgb.constBits();
    encoder.stride = rgb.bytesPerLine();
    encoder.width = rgb.width();
    encoder.height = rgb.height();
    encoder.quality = quality;
    return encoder.encoded();
}

QByteArray encodeJpegSamples(QByteArrayView samples, int width, int height, JpegColours colours,
                             int quality) {
    Encoder encoder;
    switch (colours) {
    case JpegColours::Grey:
        encoder.components = 1;
        encoder.input = encoder.stored = JCS_GRAYSCALE;
        break;
    case JpegColours::Rgb:
        break;
    case JpegColours::Cmyk:
    case JpegColours::AdobeCmyk:
    case JpegColours::AdobeYcck:
        encoder.components = 4;
        encoder.input = JCS_CMYK;
        encoder.stored = colours == JpegColours::AdobeYcck ? JCS_YCCK : JCS_CMYK;
        encoder.adobeMarker = colours != JpegColours::Cmyk;
        break;
    }
    if (width < 0 || height < 0 || samples.size() < qsizetype(width) * height * encoder.components)
        throw Error(QStringLiteral("Too few samples for a %1 x %2 image.").arg(width).arg(height));
    encoder.pixels = reinterpret_cast<const uchar*>(samples.data());
    encoder.stride = qsizetype(width) * encoder.components;
    encoder.width = width;
    encoder.height = height;
    encoder.quality = quality;
    return encoder.encoded();
}

} // namespace quaddle
