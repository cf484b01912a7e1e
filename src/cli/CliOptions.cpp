#include "cli/CliOptions.h"

#include "config/CommandLine.h"
#include "config/Config.h"
#include "config/IntegerText.h"
#include "platform/Error.h"
#include "upload/UploadSession.h"

#include <cstring>
#include <utility>

namespace quaddle {

namespace {

struct NamedStyle {
    const char* name;
    TagStyle style;
};

// The tag styles by their names on the command line.
const NamedStyle TagStyleNames[] = {
    {"url", TagStyle::None},          {"none", TagStyle::None}, {"bbcode", TagStyle::Url},
    {"bbcode-img", TagStyle::Img},    {"html", TagStyle::Link}, {"html-img", TagStyle::Image},
    {"markdown", TagStyle::Markdown},
};

const std::pair<const char*, int> OnExistsNames[] = {
    {"overwrite", PolicyOverwrite},
    {"rename", PolicyRename},
    {"skip", PolicySkip},
    {"ask", PolicyAsk},
};

Error usageError(const QString& text) {
    return Error(text);
}

// The option's value: after "=" in the same word, or the next word.
QString optionValue(const QString& word, const QString& option, const QStringList& arguments,
                    qsizetype& index) {
    if (word.size() > option.size())
        return word.mid(option.size() + 1);
    if (index + 1 >= arguments.size())
        throw usageError(QStringLiteral("The option %1 needs a value.").arg(option));
    return arguments[++index];
}

// Listing and deleting uploads take none of an upload's options, and only deleting takes words.
void checkHistoryOptions(const CliOptions& options, const QStringList& words) {
    if (options.json && !options.history && !options.servers)
        throw usageError(QStringLiteral("--json goes with --history or --servers."));
    if (!options.history && !options.deleteUploads)
        return;
    if (options.history && options.deleteUploads)
        throw usageError(QStringLiteral("--history and --delete cannot be combined."));
    const QString mode = options.history ? QStringLiteral("--history") : QStringLiteral("--delete");
    if (options.thumbnails || options.stripMetadata || options.tags || options.onExists ||
        options.connections || options.copy || options.screenshot)
        throw usageError(
            QStringLiteral("%1 cannot be combined with the options of an upload.").arg(mode));
    if (options.history && !words.isEmpty())
        throw usageError(QStringLiteral("--history takes no files."));
    if (options.deleteUploads && words.isEmpty())
        throw usageError(QStringLiteral("No addresses of uploads to delete."));
}

// Listing servers takes no other option but --json, and at most a server whose folders to list.
void checkServersOptions(CliOptions& options, const QStringList& words) {
    const bool otherOption = options.thumbnails || options.stripMetadata || options.tags ||
                             options.onExists || options.connections || options.copy ||
                             options.screenshot || options.history || options.deleteUploads ||
                             options.acceptNew || !options.masterPasswordFile.isEmpty();
    if (otherOption || words.size() > 1 ||
        (words.size() == 1 && !words.front().startsWith(QLatin1Char(':'))))
        throw usageError(
            QStringLiteral("--servers takes no other option but --json, and at most a server "
                           "(\":N\") whose folders to list."));
    if (!words.isEmpty())
        options.selector = words.front();
}

// Whether the option is among the words from argv[first] on, before any "--".
bool hasOption(int argc, char** argv, int first, const char* option) {
    for (int i = first; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], option) == 0)
            return true;
    return false;
}

} // namespace

std::optional<TagStyle> tagStyleNamed(const QString& name) {
    for (const NamedStyle& entry : TagStyleNames)
        if (name == QLatin1String(entry.name))
            return entry.style;
    return std::nullopt;
}

CliOptions parseCliOptions(const QStringList& arguments) {
    CliOptions options;
    QStringList words;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        const auto is = [&word](const char* option) {
            return word == QLatin1String(option) ||
                   word.startsWith(QLatin1String(option) + QLatin1Char('='));
        };
        if (optionsEnded || !word.startsWith(QLatin1Char('-')) || word == QLatin1String("-")) {
            words.append(word);
        } else if (word == QLatin1String("--")) {
            optionsEnded = true;
        } else if (word == QLatin1String("--help")) {
            options.help = true;
        } else if (word == QLatin1String("-q") || word == QLatin1String("--quiet")) {
            options.quiet = true;
        } else if (word == QLatin1String("--thumbnails")) {
            options.thumbnails = true;
        } else if (word == QLatin1String("--strip-metadata")) {
            options.stripMetadata = true;
        } else if (word == QLatin1String("--accept-new")) {
            options.acceptNew = true;
        } else if (word == QLatin1String("--copy")) {
            options.copy = true;
        } else if (word == QLatin1String("--screenshot")) {
            options.screenshot = true;
        } else if (is("--tags")) {
            const QString name = optionValue(word, QStringLiteral("--tags"), arguments, i);
            options.tags = tagStyleNamed(name);
            if (!options.tags)
                throw usageError(QStringLiteral("Unknown tag style \"%1\".").arg(name));
        } else if (is("--on-exists")) {
            const QString name = optionValue(word, QStringLiteral("--on-exists"), arguments, i);
            for (const auto& [known, policy] : OnExistsNames)
                if (name == QLatin1String(known))
                    options.onExists = policy;
            if (!options.onExists)
                throw usageError(QStringLiteral("Unknown --on-exists choice \"%1\".").arg(name));
        } else if (is("--connections")) {
            const QString count = optionValue(word, QStringLiteral("--connections"), arguments, i);
            options.connections = parseInteger(count);
            if (!options.connections || *options.connections < 1 ||
                *options.connections > Config::MaxConnections)
                throw usageError(QStringLiteral("--connections takes a number from 1 to %1, not "
                                                "\"%2\".")
                                     .arg(Config::MaxConnections)
                                     .arg(count));
        } else if (word == QLatin1String("--history")) {
            options.history = DefaultHistoryLines;
        } else if (word.startsWith(QLatin1String("--history="))) {
            const QString count = word.mid(word.indexOf(QLatin1Char('=')) + 1);
            options.history = parseInteger(count);
            if (!options.history || *options.history < 1)
                throw usageError(
                    QStringLiteral("--history takes a number of uploads, not \"%1\".").arg(count));
        } else if (word == QLatin1String("--json")) {
            options.json = true;
        } else if (word == QLatin1String("--delete")) {
            options.deleteUploads = true;
        } else if (word == QLatin1String("--servers")) {
            options.servers = true;
        } else if (is("--test-server")) {
            options.testServer = optionValue(word, QStringLiteral("--test-server"), arguments, i);
            if (!options.testServer->startsWith(QLatin1Char(':')))
                throw usageError(QStringLiteral("--test-server takes a server such as :0, not "
                                                "\"%1\".")
                                     .arg(*options.testServer));
        } else if (is("--master-password-file")) {
            options.masterPasswordFile =
                optionValue(word, QStringLiteral("--master-password-file"), arguments, i);
            if (options.masterPasswordFile.isEmpty())
                throw usageError(QStringLiteral("The master password file has no name."));
        } else {
            throw usageError(QStringLiteral("Unknown option \"%1\".").arg(word));
        }
    }
    if (options.servers) {
        checkServersOptions(options, words);
        return options;
    }
    checkHistoryOptions(options, words);
    if (options.testServer) {
        if (!words.isEmpty())
            throw usageError(QStringLiteral("--test-server takes no files."));
        return options;
    }
    if (options.deleteUploads) {
        options.files = words;
        return options;
    }
    CommandLine commandLine = parseCommandLine(words);
    options.selector = std::move(commandLine.selector);
    options.files = std::move(commandLine.files);
    if (!options.help && !options.history && !options.screenshot && options.files.isEmpty())
        throw usageError(QStringLiteral("No files to upload."));
    return options;
}

bool wantsCli(int argc, char** argv) {
    return argc >= 2 && std::strcmp(argv[1], "--cli") == 0;
}

bool wantsThumbnails(int argc, char** argv, int first) {
    return hasOption(argc, argv, first, "--thumbnails");
}

bool wantsScreenshot(int argc, char** argv, int first) {
    return hasOption(argc, argv, first, "--screenshot");
}

} // namespace quaddle
