#pragma once

#include "results/UrlBuilder.h"

#include <QStringList>
#include <optional>

namespace quaddle {

class Config;

// The options of a run without windows, from the words after "--cli".
struct CliOptions {
    bool help = false;
    std::optional<QString> selector;
    QStringList files;
    // Unset: the remembered tag style and the "Overwrite" setting.
    std::optional<TagStyle> tags;
    std::optional<int> onExists;
    std::optional<int> connections;
    bool thumbnails = false;
    bool stripMetadata = false;
    bool acceptNew = false;
    bool quiet = false;
    // Puts the printed lines on the clipboard too.
    bool copy = false;
    // Takes a screenshot and uploads it after the files.
    bool screenshot = false;
    QString masterPasswordFile;
    // --history: list this many of the last uploads instead of uploading; --json: as JSON.
    std::optional<int> history;
    bool json = false;
    // --delete: the words are the addresses of uploads to delete from their servers.
    bool deleteUploads = false;
    // --servers: list the configured servers instead of uploading.
    bool servers = false;
    // --test-server: the selector of the server to test instead of uploading.
    std::optional<QString> testServer;
};

// How many uploads --history lists without a number.
constexpr int DefaultHistoryLines = 20;

// Reads the words after "--cli". Options come before "--", after which every word is a file.
// Throws Error with a message for the user on an unknown option or a bad value; the face adds
// where to find help.
CliOptions parseCliOptions(const QStringList& arguments);

// The style named on the command line; nothing for an unknown name.
std::optional<TagStyle> tagStyleNamed(const QString& name);

// Whether the words after the program's path ask for a run without windows.
bool wantsCli(int argc, char** argv);
// Whether such a run, of the words from argv[first] on, makes thumbnails, which need fonts for
// their size band.
bool wantsThumbnails(int argc, char** argv, int first);
// Whether such a run takes a screenshot, which needs the display for the program's own picker.
bool wantsScreenshot(int argc, char** argv, int first);

} // namespace quaddle
