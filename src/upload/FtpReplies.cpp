#include "upload/FtpReplies.h"

#include <QRegularExpression>

namespace quaddle {

namespace {

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Reply codes are three ASCII digits; other scripts' digits are no code.
bool IsCode(QStringView text) {
    return text.size() >= 3 && IsAsciiDigit(text[0]) && IsAsciiDigit(text[1]) &&
           IsAsciiDigit(text[2]);
}

} // namespace

std::optional<TFtpReply>
TFtpReplyReader::Next(const std::function<void(const QString& line)>& onLine) {
    for (qsizetype end = Pending.indexOf('\n'); end >= 0; end = Pending.indexOf('\n')) {
        QByteArray raw = Pending.left(end);
        Pending.remove(0, end + 1);
        while (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        if (onLine)
            onLine(line);
        if (!MultiLineCode.isEmpty()) {
            if (line != MultiLineCode && !line.startsWith(MultiLineCode + QLatin1Char(' ')))
                continue;
            MultiLineCode.clear();
        } else if (!IsCode(line)) {
            continue;
        } else if (line.size() > 3 && line[3] == QLatin1Char('-')) {
            MultiLineCode = line.left(3);
            continue;
        }
        return TFtpReply{line.left(3).toInt(), line};
    }
    return std::nullopt;
}

void TFtpReplyReader::Reset() {
    Pending.clear();
    MultiLineCode.clear();
}

std::optional<quint16> PasvPort(const QString& reply) {
    static const QRegularExpression address(
        QStringLiteral("(?<!\\d)(\\d+),(\\d+),(\\d+),(\\d+),(\\d+),(\\d+)(?!\\d)"));
    const QRegularExpressionMatch match = address.match(reply);
    if (!match.hasMatch())
        return std::nullopt;
    uint bytes[6] = {};
    for (int part = 0; part < 6; ++part) {
        bool numeric = false;
        bytes[part] = match.capturedView(part + 1).toUInt(&numeric);
        if (!numeric || bytes[part] > 255)
            return std::nullopt;
    }
    const uint port = bytes[4] * 256 + bytes[5];
    if (port == 0)
        return std::nullopt;
    return quint16(port);
}

} // namespace quaddle
