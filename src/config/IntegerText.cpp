#include "config/IntegerText.h"

#include <QString>

namespace quaddle {

namespace {

int digitValue(QChar c, int base) {
    int value = -1;
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        value = c.unicode() - '0';
    else if (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
        value = c.toLower().unicode() - 'a' + 10;
    return value < base ? value : -1;
}

} // namespace

std::optional<qint32> parseInteger(QStringView text) {
    qsizetype pos = 0;
    while (pos < text.size() && text[pos] == QLatin1Char(' '))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == QLatin1Char('-') || text[pos] == QLatin1Char('+')))
        negative = text[pos++] == QLatin1Char('-');

    int base = 10;
    if (text.mid(pos).startsWith(QLatin1Char('$'))) {
        base = 16;
        pos += 1;
    } else if (text.mid(pos).startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        pos += 2;
    }
    if (pos == text.size())
        return std::nullopt;

    // Decimal values must fit a signed 32-bit integer; hexadecimal ones its bit pattern.
    const qint64 limit = base == 16 ? 0xFFFFFFFFLL : (negative ? 0x80000000LL : 0x7FFFFFFFLL);
    qint64 magnitude = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = digitValue(text[pos], base);
        if (digit < 0)
            return std::nullopt;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    const auto bits = static_cast<quint32>(magnitude);
    const auto value = static_cast<qint32>(bits);
    return negative ? static_cast<qint32>(0u - bits) : value;
}

} // namespace quaddle
