#pragma once

#include "config/Config.h"
#include "config/FileList.h"

#include <QStringList>

namespace quaddle {

// How the lines of uploaded files are written: bare, or for forums, web pages and Markdown.
// The values are stored in the setting "TagStyle".
enum class TagStyle { None, Url, Img, Link, Image, Markdown };

// Percent-encodes the text's bytes: letters, digits, "-", "." and "_" stay, a space becomes
// "%20", "/" stays when keepSlash, everything else becomes "%" and two upper-case hex digits.
QString urlEncode(const QString& text, bool keepSlash);

// The address of fileName in remoteDir on server, from the server's URL mask with its
// variables $host, $user, $dir and $file.
QString buildUrl(const ServerRecord& server, const QString& remoteDir, const QString& fileName);

// The style stored in the setting "TagStyle"; None for a value that names no style.
TagStyle storedTagStyle(const Config& config);

// Whether a Markdown line shows the file as a picture, by its extension.
bool isWebImage(const QString& fileName);

// The line of one uploaded file in the given style; thumbnailUrl empty for none.
QString tagLine(const QString& name, const QString& url, const QString& thumbnailUrl,
                TagStyle style);

// One line per uploaded file in the given style; thumbnails link to their images where the
// style allows it. A file name shown as link text is escaped for the style, so no name adds
// markup of its own to the page the line is pasted into.
QStringList urlLines(const ServerRecord& server, const QString& remoteDir,
                     const UploadResults& results, TagStyle style);

} // namespace quaddle
