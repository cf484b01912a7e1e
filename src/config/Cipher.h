#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <nettle/twofish.h>

namespace quaddle {

// Encrypts the credentials stored in config.xml: Twofish keyed with the SHA-1 of the master
// password (the empty text when there is none), in 8-bit cipher feedback mode. One object
// serves one whole load or save: its feedback register carries over from each text to the
// next, so texts must be decrypted in the order they were encrypted.
class Cipher {
public:
    explicit Cipher(const QString& masterPassword);

    // The ciphertext of text as Base64; the empty text gives the empty text.
    QString encryptString(const QString& text);
    QString decryptString(const QString& base64);

private:
    twofish_ctx m_key;
    std::array<uint8_t, TWOFISH_BLOCK_SIZE> m_register;
};

// The verifier stored for a master password: its MD5 as 32 upper-case hexadecimal digits.
QString passwordHash(const QString& text);

// Standard Base64 with padding and without line breaks.
QString base64Encode(const QByteArray& bytes);
// Decodes four characters at a time and ignores a last group of fewer than four. In a group,
// "=" in third place gives one byte, "=" in fourth place only gives two, otherwise three;
// any other character outside the alphabet counts as "A". A damaged character so keeps the
// byte count, and with it the place of every later text in the cipher's sequence.
QByteArray base64Decode(const QString& text);

} // namespace quaddle
