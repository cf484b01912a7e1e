#include "config/Cipher.h"

#include "platform/ProcessProtection.h"

#include <nettle/base64.h>
#include <nettle/cfb.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>

namespace quaddle {

namespace {

void encryptBlocks(const void* key, size_t length, uint8_t* dst, const uint8_t* src) {
    twofish_encrypt(static_cast<const twofish_ctx*>(key), length, dst, src);
}

bool isBase64Character(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
           c == QLatin1Char('/');
}

// The number of bytes a complete group of four characters stands for.
int bytesInGroup(QStringView group) {
    if (group[2] == QLatin1Char('='))
        return 1;
    if (group[3] == QLatin1Char('='))
        return 2;
    return 3;
}

} // namespace

Cipher::Cipher(const QString& masterPassword) {
    QByteArray bytes = masterPassword.toLocal8Bit();
    uint8_t digest[SHA1_DIGEST_SIZE];
    sha1_ctx sha;
    sha1_init(&sha);
    sha1_update(&sha, static_cast<size_t>(bytes.size()),
                reinterpret_cast<const uint8_t*>(bytes.constData()));
    sha1_digest(&sha, sizeof digest, digest);
    // A 160-bit key: the key schedule pads it with zero bytes to 192 bits.
    twofish_set_key(&m_key, sizeof digest, digest);
    wipe(bytes);
    wipe(digest, sizeof digest);
    wipe(&sha, sizeof sha);
    const std::array<uint8_t, TWOFISH_BLOCK_SIZE> zeros{};
    twofish_encrypt(&m_key, m_register.size(), m_register.data(), zeros.data());
}

QString Cipher::encryptString(const QString& text) {
    QByteArray bytes = text.toLocal8Bit();
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    cfb8_encrypt(&m_key, encryptBlocks, m_register.size(), m_register.data(),
                 static_cast<size_t>(bytes.size()), data, data);
    return base64Encode(bytes);
}

QString Cipher::decryptString(const QString& base64) {
    QByteArray bytes = base64Decode(base64);
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    cfb8_decrypt(&m_key, encryptBlocks, m_register.size(), m_register.data(),
                 static_cast<size_t>(bytes.size()), data, data);
    const QString text = QString::fromLocal8Bit(bytes);
    wipe(bytes);
    return text;
}

QString passwordHash(const QString& text) {
    QByteArray bytes = text.toLocal8Bit();
    uint8_t digest[MD5_DIGEST_SIZE];
    md5_ctx md5;
    md5_init(&md5);
    md5_update(&md5, static_cast<size_t>(bytes.size()),
               reinterpret_cast<const uint8_t*>(bytes.constData()));
    md5_digest(&md5, sizeof digest, digest);
    wipe(bytes);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex().toUpper());
}

QString base64Encode(const QByteArray& bytes) {
    QByteArray text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), Qt::Uninitialized);
    base64_encode_raw(text.data(), static_cast<size_t>(bytes.size()),
                      reinterpret_cast<const uint8_t*>(bytes.constData()));
    return QString::fromLatin1(text);
}

QByteArray base64Decode(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (qsizetype start = 0; start + 4 <= text.size(); start += 4) {
        const QStringView group = QStringView(text).mid(start, 4);
        // Every group is decoded as four data characters and cut to its length afterwards, so
        // the bits a short group leaves over never matter.
        char digits[4];
        for (int i = 0; i < 4; ++i)
            digits[i] = isBase64Character(group[i]) ? char(group[i].unicode()) : 'A';
        uint8_t decoded[3];
        size_t length = sizeof decoded;
        base64_decode_ctx context;
        base64_decode_init(&context);
        base64_decode_update(&context, &length, decoded, sizeof digits, digits);
        bytes.append(reinterpret_cast<const char*>(decoded), bytesInGroup(group));
    }
    return bytes;
}

} // namespace quaddle
