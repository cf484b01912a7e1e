#include "config/Cipher.h"

#include <QTest>
#include <cstring>
#include <nettle/sha1.h>
#include <nettle/twofish.h>

using namespace quaddle;

namespace {

QByteArray twofishOfZeroBlock(const QByteArray& key) {
    twofish_ctx context;
    twofish_set_key(&context, size_t(key.size()), reinterpret_cast<const uint8_t*>(key.data()));
    uint8_t zeros[TWOFISH_BLOCK_SIZE] = {};
    uint8_t block[TWOFISH_BLOCK_SIZE];
    twofish_encrypt(&context, sizeof block, block, zeros);
    return QByteArray(reinterpret_cast<const char*>(block), sizeof block);
}

// The construction written out byte by byte, independently of the library's CFB-8: key from
// SHA-1, register from the zero block, one block encryption per byte.
class ReferenceCipher {
public:
    explicit ReferenceCipher(const QByteArray& password) {
        uint8_t digest[SHA1_DIGEST_SIZE];
        sha1_ctx sha;
        sha1_init(&sha);
        sha1_update(&sha, size_t(password.size()),
                    reinterpret_cast<const uint8_t*>(password.data()));
        sha1_digest(&sha, sizeof digest, digest);
        twofish_set_key(&m_key, sizeof digest, digest);
        const uint8_t zeros[TWOFISH_BLOCK_SIZE] = {};
        twofish_encrypt(&m_key, sizeof m_register, m_register, zeros);
    }

    QByteArray encrypt(const QByteArray& plain) {
        QByteArray cipher;
        for (const char byte : plain) {
            uint8_t output[TWOFISH_BLOCK_SIZE];
            twofish_encrypt(&m_key, sizeof output, output, m_register);
            const auto c = uint8_t(uint8_t(byte) ^ output[0]);
            std::memmove(m_register, m_register + 1, sizeof m_register - 1);
            m_register[sizeof m_register - 1] = c;
            cipher.append(char(c));
        }
        return cipher;
    }

private:
    twofish_ctx m_key;
    uint8_t m_register[TWOFISH_BLOCK_SIZE];
};

} // namespace

class TestCipher : public QObject {
    Q_OBJECT

private slots:
    void twofishKnownAnswers_data();
    void twofishKnownAnswers();
    void shortKeyIsPaddedWithZeros();
    void matchesTheByteWiseConstruction();
    void decryptsSequenceWithSecondObject();
    void registerCarriesOverBetweenTexts();
    void sameTextTwiceGivesTwoCiphertexts();
    void emptyTextLeavesRegisterAlone();
    void otherPasswordDoesNotDecrypt();
    void base64LengthFollowsTextLength_data();
    void base64LengthFollowsTextLength();
    void base64KnownAnswers();
    void base64DecodingRules_data();
    void base64DecodingRules();
    void damagedBase64KeepsLaterTextsInStep();
    void passwordHash_data();
    void passwordHash();
};

void TestCipher::twofishKnownAnswers_data() {
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipher");
    QTest::newRow("192-bit key") << QByteArray::fromHex(
                                        "0123456789ABCDEFFEDCBA98765432100011223344556677")
                                 << QByteArray::fromHex("CFD1D2E5A9BE9CDF501F13B892BD2248");
    QTest::newRow("all-zero 192-bit key")
        << QByteArray(24, '\0') << QByteArray::fromHex("EFA71F788965BD4453F860178FC19101");
}

void TestCipher::twofishKnownAnswers() {
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipher);
    QCOMPARE(twofishOfZeroBlock(key).toHex(), cipher.toHex());
}

void TestCipher::shortKeyIsPaddedWithZeros() {
    const QByteArray key = QByteArray::fromHex("00112233445566778899AABBCCDDEEFF01234567");
    QCOMPARE(twofishOfZeroBlock(key), twofishOfZeroBlock(key + QByteArray(4, '\0')));
    QVERIFY(twofishOfZeroBlock(key) != twofishOfZeroBlock(key + QByteArray(4, '\1')));
}

void TestCipher::matchesTheByteWiseConstruction() {
    for (const QString& password :
         {QString(), QStringLiteral("s3cret"), QStringLiteral("pässwört")}) {
        Cipher cipher(password);
        ReferenceCipher reference(password.toUtf8());
        for (const QString& text : {QStringLiteral("alice"), QString(), QStringLiteral("pw"),
                                    QStringLiteral("a longer password of more than 16 bytes")})
            QCOMPARE(cipher.encryptString(text), base64Encode(reference.encrypt(text.toUtf8())));
    }
}

void TestCipher::decryptsSequenceWithSecondObject() {
    const QStringList texts{"alice", "pa$$word", "", "bob", "Zürich €", "x"};
    Cipher writer("master");
    QStringList encrypted;
    for (const QString& text : texts)
        encrypted.append(writer.encryptString(text));
    Cipher reader("master");
    for (qsizetype i = 0; i < texts.size(); ++i)
        QCOMPARE(reader.decryptString(encrypted[i]), texts[i]);
}

void TestCipher::registerCarriesOverBetweenTexts() {
    Cipher writer("master");
    writer.encryptString("first");
    const QString second = writer.encryptString("second");
    QVERIFY(Cipher("master").decryptString(second) != QStringLiteral("second"));
}

void TestCipher::sameTextTwiceGivesTwoCiphertexts() {
    Cipher cipher{QString()};
    const QString first = cipher.encryptString("admin");
    const QString second = cipher.encryptString("admin");
    QVERIFY(first != second);
    QCOMPARE(first.size(), second.size());
}

void TestCipher::emptyTextLeavesRegisterAlone() {
    Cipher withEmpty("k");
    QCOMPARE(withEmpty.encryptString(QString()), QString());
    QCOMPARE(withEmpty.encryptString("user"), Cipher("k").encryptString("user"));
    QCOMPARE(Cipher("k").decryptString(QString()), QString());
}

void TestCipher::otherPasswordDoesNotDecrypt() {
    const QString encrypted = Cipher("right").encryptString("secret");
    QVERIFY(Cipher("wrong").decryptString(encrypted) != QStringLiteral("secret"));
    QVERIFY(Cipher(QString()).decryptString(encrypted) != QStringLiteral("secret"));
}

void TestCipher::base64LengthFollowsTextLength_data() {
    QTest::addColumn<int>("bytes");
    for (int bytes = 0; bytes <= 7; ++bytes)
        QTest::addRow("%d bytes", bytes) << bytes;
}

void TestCipher::base64LengthFollowsTextLength() {
    QFETCH(int, bytes);
    const QString encrypted = Cipher(QString()).encryptString(QString(bytes, QLatin1Char('u')));
    QCOMPARE(encrypted.size(), 4 * ((bytes + 2) / 3));
    if (bytes % 3 == 1)
        QVERIFY(encrypted.endsWith("=="));
    QVERIFY(!encrypted.contains('\n'));
}

void TestCipher::base64KnownAnswers() {
    QCOMPARE(base64Encode("f"), QStringLiteral("Zg=="));
    QCOMPARE(base64Encode("fo"), QStringLiteral("Zm8="));
    QCOMPARE(base64Encode("foobar"), QStringLiteral("Zm9vYmFy"));
    QCOMPARE(base64Encode(QByteArray::fromHex("FBFF")), QStringLiteral("+/8="));
    QCOMPARE(base64Decode("Zm9vYmFy"), QByteArray("foobar"));
    QCOMPARE(base64Decode("+/8="), QByteArray::fromHex("FBFF"));
}

void TestCipher::base64DecodingRules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one byte") << "QQ==" << QByteArray("A");
    QTest::newRow("two bytes") << "QUI=" << QByteArray("AB");
    QTest::newRow("three bytes") << "QUJD" << QByteArray("ABC");
    QTest::newRow("short last group ignored") << "QUJDRA" << QByteArray("ABC");
    QTest::newRow("only a short group") << "QUJ" << QByteArray();
    QTest::newRow("left-over bits ignored") << "QR==" << QByteArray("A");
    QTest::newRow("= in third place decides") << "QU=D" << QByteArray("A");
    QTest::newRow("= in first place counts as A") << "=UJD" << QByteArray::fromHex("014243");
    QTest::newRow("foreign character counts as A") << "Q!==" << QByteArray("@");
    QTest::newRow("line break counts as A") << "QU\nD" << QByteArray::fromHex("4140 03");
    QTest::newRow("non-Latin character") << "QUJ€" << QByteArray::fromHex("414240");
}

void TestCipher::base64DecodingRules() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(base64Decode(text).toHex(), bytes.toHex());
}

void TestCipher::damagedBase64KeepsLaterTextsInStep() {
    // A damaged byte stays in the feedback register for sixteen bytes; the decryption is back
    // in step after that because the byte count did not change.
    Cipher writer("m");
    QString first = writer.encryptString("user");
    const QString second = writer.encryptString("sixteen bytes on");
    const QString third = writer.encryptString("password");
    first[1] = QLatin1Char('#');
    Cipher reader("m");
    QVERIFY(reader.decryptString(first) != QStringLiteral("user"));
    QVERIFY(reader.decryptString(second) != QStringLiteral("sixteen bytes on"));
    QCOMPARE(reader.decryptString(third), QStringLiteral("password"));
}

void TestCipher::passwordHash_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hash");
    QTest::newRow("empty") << ""
                           << "D41D8CD98F00B204E9800998ECF8427E";
    QTest::newRow("abc") << "abc"
                         << "900150983CD24FB0D6963F7D28E17F72";
    QTest::newRow("sentence") << "The quick brown fox jumps over the lazy dog"
                              << "9E107D9D372BB6826BD81D3542A419D6";
}

void TestCipher::passwordHash() {
    QFETCH(QString, text);
    QFETCH(QString, hash);
    QCOMPARE(quaddle::passwordHash(text), hash);
}

QTEST_APPLESS_MAIN(TestCipher)
#include "TestCipher.moc"
