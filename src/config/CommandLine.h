#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quaddle {

class Config;

// The program's arguments: "--screenshot" in first place when a screenshot is to be taken, an
// optional server selector (":" server ["/" folder]) next, then the files to upload.
struct CommandLine {
    bool screenshot = false;
    std::optional<QString> selector;
    QStringList files;
};

// Splits the arguments after the program's own path; empty words are skipped.
CommandLine parseCommandLine(const QStringList& arguments);

// What a selector picks: an existing server, and one of its folders when the folder part
// names one.
struct ServerSelection {
    qint32 server = -1;
    std::optional<qint32> folder;
};

// The selector that picks the server, and the folder if given, from config.xml once the
// configuration is saved: deleted servers and folders are not written, so those after them
// move up.
QString selectorFor(const Config& config, qint32 server, std::optional<qint32> folder = {});

// Resolves a selector against the configuration; nothing when it names no existing server.
std::optional<ServerSelection> resolveSelector(const QString& selector, const Config& config);

} // namespace quaddle
