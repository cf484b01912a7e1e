#include "thumbs/Jpeg.h"

#include "platform/Error.h"

#include <QFile>
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <jerror.h>
#include <jpeglib.h>

namespace quaddle {

namespace {

// libjpeg reports errors through these callbacks. Its default handler ends the process, so
// error_exit jumps back to the guarded call instead, with the library's message saved.
struct TJpegErrors {
    jpeg_error_mgr Manager; // first, so the library's pointer converts back
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->Message);
    std::longjmp(errors->Jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return; // trace output
    // A file cut short decodes with a grey remainder; the thumbnail would look broken, so it
    // counts as an error. Other damage is tolerated, as image viewers do.
    if (info->err->msg_code == JWRN_JPEG_EOF)
        ErrorExit(info);
    ++info->err->num_warnings;
}

void OutputMessage(j_common_ptr) {}

jpeg_error_mgr* InstallErrors(TJpegErrors& errors) {
    jpeg_std_error(&errors.Manager);
    errors.Manager.error_exit = ErrorExit;
    errors.Manager.emit_message = EmitMessage;
    errors.Manager.output_message = OutputMessage;
    errors.Message[0] = '\0';
    return &errors.Manager;
}

// Runs one step of library calls, which may jump back here on an error. The step must hold
// nothing that needs destroying, since a jump skips its destructors.
template <typename TJob> bool Guarded(TJob& job, void (*step)(TJob&)) {
    if (setjmp(job.Errors.Jump) != 0)
        return false;
    step(job);
    return true;
}

template <typename TJob> void Run(TJob& job, void (*step)(TJob&)) {
    if (!Guarded(job, step))
        throw TError(QString::fromLatin1(job.Errors.Message));
}

struct TDecoder {
    jpeg_decompress_struct Info{};
    TJpegErrors Errors;
    const unsigned char* Data = nullptr;
    unsigned long Size = 0;
    uchar* Pixels = nullptr;
    qsizetype Stride = 0;

    TDecoder() { Info.err = InstallErrors(Errors); }
    ~TDecoder() { jpeg_destroy_decompress(&Info); }
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    static void ReadHeader(TDecoder& job) {
        jpeg_create_decompress(&job.Info);
        jpeg_mem_src(&job.Info, job.Data, job.Size);
        jpeg_read_header(&job.Info, TRUE);
    }

    static void ReadPixels(TDecoder& job) {
        jpeg_start_decompress(&job.Info);
        while (job.Info.output_scanline < job.Info.output_height) {
            JSAMPROW row = job.Pixels + job.Stride * qsizetype(job.Info.output_scanline);
            jpeg_read_scanlines(&job.Info, &row, 1);
        }
        jpeg_finish_decompress(&job.Info);
    }
};

// CMYK pixels decoded into the image's 32-bit cells become RGB. Photoshop's files, marked by
// the Adobe segment, hold inverted ink values.
void CmykToRgb(QImage& image, bool inverted) {
    for (int y = 0; y < image.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const auto* ink = reinterpret_cast<const uchar*>(pixel + x);
            int light[4];
            for (int i = 0; i < 4; ++i)
                light[i] = inverted ? ink[i] : 255 - ink[i];
            const auto channel = [&](int i) { return (light[i] * light[3] + 127) / 255; };
            pixel[x] = qRgb(channel(0), channel(1), channel(2));
        }
    }
}

struct TEncoder {
    jpeg_compress_struct Info{};
    TJpegErrors Errors;
    unsigned char* Buffer = nullptr;
    unsigned long Size = 0;
    const uchar* Pixels = nullptr;
    qsizetype Stride = 0;
    int Width = 0;
    int Height = 0;
    int Components = 3;
    J_COLOR_SPACE Input = JCS_RGB;
    J_COLOR_SPACE Stored = JCS_YCbCr;
    bool AdobeMarker = false;
    int Quality = 90;

    TEncoder() { Info.err = InstallErrors(Errors); }
    ~TEncoder() {
        jpeg_destroy_compress(&Info);
        std::free(Buffer);
    }
    TEncoder(const TEncoder&) = delete;
    TEncoder& operator=(const TEncoder&) = delete;

    static void Encode(TEncoder& job) {
        jpeg_create_compress(&job.Info);
        jpeg_mem_dest(&job.Info, &job.Buffer, &job.Size);
        job.Info.image_width = JDIMENSION(job.Width);
        job.Info.image_height = JDIMENSION(job.Height);
        job.Info.input_components = job.Components;
        job.Info.in_color_space = job.Input;
        jpeg_set_defaults(&job.Info);
        jpeg_set_colorspace(&job.Info, job.Stored);
        job.Info.write_Adobe_marker = job.AdobeMarker ? TRUE : FALSE;
        jpeg_set_quality(&job.Info, job.Quality, TRUE);
        job.Info.dct_method = JDCT_ISLOW;
        jpeg_start_compress(&job.Info, TRUE);
        while (job.Info.next_scanline < job.Info.image_height) {
            auto row =
                const_cast<JSAMPROW>(job.Pixels + job.Stride * qsizetype(job.Info.next_scanline));
            jpeg_write_scanlines(&job.Info, &row, 1);
        }
        jpeg_finish_compress(&job.Info);
    }

    QByteArray Encoded() {
        Run(*this, Encode);
        return QByteArray(reinterpret_cast<const char*>(Buffer), qsizetype(Size));
    }
};

} // namespace

void CheckImageSize(qint64 width, qint64 height, qint64 maxPixels) {
    if (width > MaxImageSide || height > MaxImageSide ||
        width * height > std::min(maxPixels, MaxImagePixels))
        throw TError(
            QStringLiteral("The image is too large (%1 x %2 pixels) to make a thumbnail of.")
                .arg(width)
                .arg(height));
}

QImage DecodeJpeg(QByteArrayView data) {
    TDecoder decoder;
    decoder.Data = reinterpret_cast<const unsigned char*>(data.data());
    decoder.Size = static_cast<unsigned long>(data.size());
    Run(decoder, TDecoder::ReadHeader);

    jpeg_decompress_struct& info = decoder.Info;
    CheckImageSize(info.image_width, info.image_height);
    info.dct_method = JDCT_ISLOW;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    // Both fill the image's 32-bit cells: RGB with the filler byte 0xFF in QRgb's byte order,
    // or the four inks, turned into RGB afterwards.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif

    QImage image(int(info.image_width), int(info.image_height), QImage::Format_RGB32);
    if (image.isNull())
        throw TError(QStringLiteral("There is not enough memory to decode the image."));
    decoder.Pixels = image.bits();
    decoder.Stride = image.bytesPerLine();
    Run(decoder, TDecoder::ReadPixels);
    if (cmyk)
        CmykToRgb(image, info.saw_Adobe_marker);
    return image;
}

QImage ReadJpeg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TError(QStringLiteral("The file could not be opened: ") + file.errorString());
    // Mapping spares a copy of the whole file; reading is the fallback where it cannot be mapped.
    if (const uchar* mapped = file.size() > 0 ? file.map(0, file.size()) : nullptr)
        return DecodeJpeg(QByteArrayView(mapped, file.size()));
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw TError(QStringLiteral("The file could not be read: ") + file.errorString());
    return DecodeJpeg(contents);
}

QByteArray EncodeJpeg(const QImage& image, int quality) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    TEncoder encoder;
    encoder.Pixels = rgb.constBits();
    encoder.Stride = rgb.bytesPerLine();
    encoder.Width = rgb.width();
    encoder.Height = rgb.height();
    encoder.Quality = quality;
    return encoder.Encoded();
}

QByteArray EncodeJpegSamples(QByteArrayView samples, int width, int height, EJpegColours colours,
                             int quality) {
    TEncoder encoder;
    switch (colours) {
    case EJpegColours::Grey:
        encoder.Components = 1;
        encoder.Input = encoder.Stored = JCS_GRAYSCALE;
        break;
    case EJpegColours::Rgb:
        break;
    case EJpegColours::Cmyk:
    case EJpegColours::AdobeCmyk:
    case EJpegColours::AdobeYcck:
        encoder.Components = 4;
        encoder.Input = JCS_CMYK;
        encoder.Stored = colours == EJpegColours::AdobeYcck ? JCS_YCCK : JCS_CMYK;
        encoder.AdobeMarker = colours != EJpegColours::Cmyk;
        break;
    }
    if (width < 0 || height < 0 || samples.size() < qsizetype(width) * height * encoder.Components)
        throw TError(QStringLiteral("Too few samples for a %1 x %2 image.").arg(width).arg(height));
    encoder.Pixels = reinterpret_cast<const uchar*>(samples.data());
    encoder.Stride = qsizetype(width) * encoder.Components;
    encoder.Width = width;
    encoder.Height = height;
    encoder.Quality = quality;
    return encoder.Encoded();
}

} // namespace quaddle
