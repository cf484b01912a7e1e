#include "config/IntegerText.h"

#include <QTest>

using quaddle::parseInteger;

class TestIntegerText : public QObject {
    Q_OBJECT

private slots:
    void readsIntegers_data();
    void readsIntegers();
    void rejectsNonIntegers_data();
    void rejectsNonIntegers();
};

void TestIntegerText::readsIntegers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("value");
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("leading blanks") << "   12" << 12;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("minus sign") << "-1" << -1;
    QTest::newRow("dollar hex") << "$A" << 10;
    QTest::newRow("0x hex") << "0x1F" << 31;
    QTest::newRow("0X lower digits") << "0X1f" << 31;
    QTest::newRow("negative hex") << "-$A" << -10;
    QTest::newRow("blank then hex") << " $10" << 16;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << std::numeric_limits<qint32>::min();
    QTest::newRow("hex bit pattern") << "$FFFFFFFF" << -1;
    QTest::newRow("leading zeros") << "007" << 7;
}

void TestIntegerText::readsIntegers() {
    QFETCH(QString, text);
    QFETCH(qint32, value);
    const std::optional<qint32> parsed = parseInteger(text);
    QVERIFY(parsed.has_value());
    QCOMPARE(*parsed, value);
}

void TestIntegerText::rejectsNonIntegers_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("blank only") << "  ";
    QTest::newRow("sign only") << "-";
    QTest::newRow("dollar only") << "$";
    QTest::newRow("0x only") << "0x";
    QTest::newRow("trailing blank") << "1 ";
    QTest::newRow("trailing letter") << "12a";
    QTest::newRow("letter") << "x";
    QTest::newRow("two signs") << "--1";
    QTest::newRow("tab is no blank") << "\t1";
    QTest::newRow("decimal point") << "1.5";
    QTest::newRow("hex digit in decimal") << "1F";
    QTest::newRow("too large") << "2147483648";
    QTest::newRow("too small") << "-2147483649";
    QTest::newRow("hex beyond 32 bits") << "$100000000";
    QTest::newRow("slash") << "2/1";
}

void TestIntegerText::rejectsNonIntegers() {
    QFETCH(QString, text);
    QVERIFY(!parseInteger(text).has_value());
}

QTEST_APPLESS_MAIN(TestIntegerText)
#include "TestIntegerText.moc"
