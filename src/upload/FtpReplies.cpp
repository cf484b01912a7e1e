#include "upload/FtpReplies.h"

#include <QRegularExpression>

namespace quaddle {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Reply codes are three ASCII digits; other scripts' digits are no code.
bool isCode(QStringView text) {
    return text.size() >= 3 && isAsciiDigit(text[0]) && isAsciiDigit(text[1]) &&
           isAsciiDigit(text[2]);
}

} // namespace

std::optional<FtpReply>
FtpReplyReader::next(const std::function<void(const QString& line)>& onLine) {
    if (!m_violation.isEmpty())
        return std::nullopt;
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
        if (end > MaxLine) {
            violate(QStringLiteral("a reply line of more than %1 bytes").arg(MaxLine));
            return std::nullopt;
        }
        m_replyBytes += end + 1;
        if (++m_replyLines > MaxReplyLines) {
            violate(QStringLiteral("a reply of more than %1 lines").arg(MaxReplyLines));
            return std::nullopt;
        }
        if (m_replyBytes > MaxReplyBytes) {
            violate(QStringLiteral("a reply of more than %1 bytes").arg(MaxReplyBytes));
            return std::nullopt;
        }
        QByteArray raw = m_pending.left(end);
        m_pending.remove(0, end + 1);
        while (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        if (onLine)
            onLine(line);
        if (!m_multiLineCode.isEmpty()) {
            if (line != m_multiLineCode && !line.startsWith(m_multiLineCode + QLatin1Char(' ')))
                continue;
            m_multiLineCode.clear();
        } else if (!isCode(line)) {
            continue;
        } else if (line.size() > 3 && line[3] == QLatin1Char('-')) {
            m_multiLineCode = line.left(3);
            continue;
        }
        m_replyLines = 0;
        m_replyBytes = 0;
        return FtpReply{line.left(3).toInt(), line};
    }
    if (m_pending.size() > MaxLine)
        violate(QStringLiteral("a reply line of more than %1 bytes").arg(MaxLine));
    return std::nullopt;
}

void FtpReplyReader::violate(const QString& what) {
    m_violation = QStringLiteral("The server sent %1.").arg(what);
    m_pending.clear();
}

void FtpReplyReader::reset() {
    m_pending.clear();
    m_multiLineCode.clear();
    m_replyLines = 0;
    m_replyBytes = 0;
    m_violation.clear();
}

namespace {

// Calls take with each line of the listing, without its line end, until it returns true;
// whether one did.
bool anyLine(QByteArrayView listing, const std::function<bool(QByteArrayView line)>& take) {
    for (qsizetype start = 0; start < listing.size();) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        QByteArrayView line = listing.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (take(line))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

bool nameListed(QByteArrayView listing, const QString& name) {
    const QByteArray wanted = name.toUtf8();
    return anyLine(listing, [&wanted](QByteArrayView line) { return line == wanted; });
}

QSet<QString> listedNames(QByteArrayView listing, bool facts) {
    QSet<QString> names;
    anyLine(listing, [&names, facts](QByteArrayView line) {
        if (facts) {
            const qsizetype space = line.indexOf(' ');
            const QByteArray types = line.first(std::max<qsizetype>(space, 0)).toByteArray();
            if (space < 0 || types.toLower().contains("type=cdir;") ||
                types.toLower().contains("type=pdir;"))
                return false;
            line = line.sliced(space + 1);
        }
        if (!line.isEmpty())
            names.insert(QString::fromUtf8(line));
        return false;
    });
    return names;
}

std::optional<quint16> pasvPort(const QString& reply) {
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

std::optional<quint16> epsvPort(const QString& reply) {
    static const QRegularExpression address(
        QStringLiteral("\\(([\\x21-\\x2f\\x3a-\\x7e])\\1\\1(\\d{1,5})\\1\\)"));
    const QRegularExpressionMatch match = address.match(reply);
    if (!match.hasMatch())
        return std::nullopt;
    const uint port = match.capturedView(2).toUInt();
    if (port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

} // namespace quaddle
