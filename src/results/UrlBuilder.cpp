#include "results/UrlBuilder.h"

#include <algorithm>

namespace quaddle {

namespace {

bool keptAsIs(char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_';
}

// Replaces every occurrence of a variable from left to right; inserted text is not searched
// again.
QString replaceVariable(const QString& text, const QString& variable, const QString& value) {
    QString result;
    qsizetype from = 0;
    for (qsizetype found = text.indexOf(variable); found >= 0;
         found = text.indexOf(variable, from)) {
        result += QStringView(text).mid(from, found - from) + value;
        from = found + variable.size();
    }
    return result + QStringView(text).mid(from);
}

// A literal IPv6 address stands in brackets in an address; no host name contains a colon.
QString urlHost(const QString& host) {
    return host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['))
               ? QLatin1Char('[') + host + QLatin1Char(']')
               : host;
}

// Behind the first "//" (the scheme's), every doubled slash becomes one, pair by pair.
QString collapseSlashes(const QString& url) {
    const qsizetype scheme = url.indexOf(QLatin1String("//"));
    if (scheme < 0)
        return url;
    const qsizetype rest = scheme + 1;
    return url.left(rest) + url.mid(rest).replace(QLatin1String("//"), QLatin1String("/"));
}

// CommonMark lets a backslash escape any ASCII punctuation; these are the characters that can
// start markup inside link text (emphasis, code, links, images, raw HTML, entities, tables,
// strike-through) or end the text early.
QString markdownEscaped(const QString& name) {
    static const QString markup = QStringLiteral("\\`*_{}[]()<>#!&~|$^");
    QString escaped;
    escaped.reserve(name.size());
    for (const QChar c : name) {
        if (markup.contains(c))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

// BBCode has no escape character: a bracket in the text could close [URL] early or open a tag
// of its own. Full-width brackets read the same and are markup to no forum.
QString bbcodeText(const QString& name) {
    QString text = name;
    return text.replace(QLatin1Char('['), QChar(0xFF3B)).replace(QLatin1Char(']'), QChar(0xFF3D));
}

QString markdownLine(const QString& name, const QString& url, const QString& thumb) {
    const QString text = markdownEscaped(name);
    if (!isWebImage(name))
        return QStringLiteral("[%1](%2)").arg(text, url);
    if (thumb.isEmpty())
        return QStringLiteral("![%1](%2)").arg(text, url);
    return QStringLiteral("[![%1](%2)](%3)").arg(text, thumb, url);
}

} // namespace

TagStyle storedTagStyle(const Config& config) {
    const qint32 stored = config.tagStyle();
    return stored >= int(TagStyle::None) && stored <= int(TagStyle::Markdown) ? TagStyle(stored)
                                                                              : TagStyle::None;
}

bool isWebImage(const QString& fileName) {
    static const QStringList extensions{QStringLiteral(".jpg"), QStringLiteral(".jpeg"),
                                        QStringLiteral(".png"), QStringLiteral(".gif"),
                                        QStringLiteral(".bmp"), QStringLiteral(".webp"),
                                        QStringLiteral(".svg")};
    return std::any_of(extensions.begin(), extensions.end(), [&](const QString& extension) {
        return fileName.endsWith(extension, Qt::CaseInsensitive);
    });
}

QString urlEncode(const QString& text, bool keepSlash) {
    QString encoded;
    for (const char byte : text.toLocal8Bit()) {
        if (keptAsIs(byte) || (keepSlash && byte == '/'))
            encoded += QLatin1Char(byte);
        else if (byte == ' ')
            encoded += QLatin1String("%20");
        else
            encoded += QStringLiteral("%%1").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return encoded;
}

QString buildUrl(const ServerRecord& server, const QString& remoteDir, const QString& fileName) {
    QString url = server.urlMask;
    url = replaceVariable(url, QStringLiteral("$host"), urlHost(server.host));
    url = replaceVariable(url, QStringLiteral("$user"), urlEncode(server.user, false));
    url =
        replaceVariable(url, QStringLiteral("$dir"), QLatin1Char('/') + urlEncode(remoteDir, true));
    url = replaceVariable(url, QStringLiteral("$file"),
                          QLatin1Char('/') + urlEncode(fileName, false));
    return collapseSlashes(url);
}

QString tagLine(const QString& name, const QString& url, const QString& thumbnailUrl,
                TagStyle style) {
    const bool hasThumb = !thumbnailUrl.isEmpty();
    switch (style) {
    case TagStyle::None:
        break;
    case TagStyle::Url:
        return hasThumb ? QStringLiteral("[URL=%1][IMG]%2[/IMG][/URL]").arg(url, thumbnailUrl)
                        : QStringLiteral("[URL=%1]%2[/URL]").arg(url, bbcodeText(name));
    case TagStyle::Img:
        return QStringLiteral("[IMG]%1[/IMG]").arg(url);
    case TagStyle::Link:
        // A mask may hold "&" or a quote: attributes are escaped like text.
        return hasThumb ? QStringLiteral("<a href=\"%1\"><img src=\"%2\" /></a>")
                              .arg(url.toHtmlEscaped(), thumbnailUrl.toHtmlEscaped())
                        : QStringLiteral("<a href=\"%1\">%2</a>")
                              .arg(url.toHtmlEscaped(), name.toHtmlEscaped());
    case TagStyle::Image:
        return QStringLiteral("<img src=\"%1\" />").arg(url.toHtmlEscaped());
    case TagStyle::Markdown:
        return markdownLine(name, url, thumbnailUrl);
    }
    return url;
}

QStringList urlLines(const ServerRecord& server, const QString& remoteDir,
                     const UploadResults& results, TagStyle style) {
    QStringList lines;
    for (const UploadResult& result : results)
        lines.append(tagLine(
            result.file, buildUrl(server, remoteDir, result.file),
            result.thumbnail.isEmpty() ? QString() : buildUrl(server, remoteDir, result.thumbnail),
            style));
    return lines;
}

} // namespace quaddle
