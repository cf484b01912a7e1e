#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quaddle {

class TCfg;

// The program's arguments: an optional server selector (":" server ["/" folder]) in first
// place, then the files to upload.
struct TCommandLine {
    std::optional<QString> Selector;
    QStringList Files;
};

// Splits the arguments after the program's own path; empty words are skipped.
TCommandLine ParseCommandLine(const QStringList& arguments);

// What a selector picks: an existing server, and one of its folders when the folder part
// names one.
struct TServerSelection {
    qint32 Server = -1;
    std::optional<qint32> Folder;
};

// Resolves a selector against the configuration; nothing when it names no existing server.
std::optional<TServerSelection> ResolveSelector(const QString& selector, const TCfg& cfg);

} // namespace quaddle
