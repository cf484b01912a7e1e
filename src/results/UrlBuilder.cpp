#include "results/UrlBuilder.h"

namespace quaddle {

namespace {

bool KeptAsIs(char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_';
}

// Replaces every occurrence of a variable from left to right; inserted text is not searched
// again.
QString ReplaceVariable(const QString& text, const QString& variable, const QString& value) {
    QString result;
    qsizetype from = 0;
    for (qsizetype found = text.indexOf(variable); found >= 0;
         found = text.indexOf(variable, from)) {
        result += QStringView(text).mid(from, found - from) + value;
        from = found + variable.size();
    }
    return result + QStringView(text).mid(from);
}

// Behind the first "//" (the scheme's), every doubled slash becomes one, pair by pair.
QString CollapseSlashes(const QString& url) {
    const qsizetype scheme = url.indexOf(QLatin1String("//"));
    if (scheme < 0)
        return url;
    const qsizetype rest = scheme + 1;
    return url.left(rest) + url.mid(rest).replace(QLatin1String("//"), QLatin1String("/"));
}

} // namespace

QString UrlEncode(const QString& text, bool keepSlash) {
    QString encoded;
    for (const char byte : text.toLocal8Bit()) {
        if (KeptAsIs(byte) || (keepSlash && byte == '/'))
            encoded += QLatin1Char(byte);
        else if (byte == ' ')
            encoded += QLatin1String("%20");
        else
            encoded += QStringLiteral("%%1").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return encoded;
}

QString BuildUrl(const TServer& server, const QString& remoteDir, const QString& fileName) {
    QString url = server[URLMask];
    url = ReplaceVariable(url, QStringLiteral("$host"), server[Hostname]);
    url = ReplaceVariable(url, QStringLiteral("$user"), UrlEncode(server[Username], false));
    url =
        ReplaceVariable(url, QStringLiteral("$dir"), QLatin1Char('/') + UrlEncode(remoteDir, true));
    url = ReplaceVariable(url, QStringLiteral("$file"),
                          QLatin1Char('/') + UrlEncode(fileName, false));
    return CollapseSlashes(url);
}

QStringList UrlLines(const TServer& server, const QString& remoteDir, const TUploadResults& results,
                     TTagStyle style) {
    QStringList lines;
    for (const TUploadResult& result : results) {
        const QString url = BuildUrl(server, remoteDir, result.File);
        const bool hasThumb = !result.Thumbnail.isEmpty();
        const QString thumb = hasThumb ? BuildUrl(server, remoteDir, result.Thumbnail) : QString();
        switch (style) {
        case TTagStyle::None:
            lines.append(url);
            break;
        case TTagStyle::Url:
            lines.append(hasThumb ? QStringLiteral("[URL=%1][IMG]%2[/IMG][/URL]").arg(url, thumb)
                                  : QStringLiteral("[URL=%1]%2[/URL]").arg(url, result.File));
            break;
        case TTagStyle::Img:
            lines.append(QStringLiteral("[IMG]%1[/IMG]").arg(url));
            break;
        case TTagStyle::Link:
            lines.append(
                hasThumb ? QStringLiteral("<a href=\"%1\"><img src=\"%2\" /></a>").arg(url, thumb)
                         : QStringLiteral("<a href=\"%1\">%2</a>").arg(url, result.File));
            break;
        case TTagStyle::Image:
            lines.append(QStringLiteral("<img src=\"%1\" />").arg(url));
            break;
        }
    }
    return lines;
}

} // namespace quaddle
