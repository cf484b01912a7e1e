#include "config/CommandLine.h"

#include "config/Config.h"
#include "config/IntegerText.h"

#include <algorithm>

namespace quaddle {

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    // Only in first place, so that a file of that name may follow as any other.
    result.screenshot = !arguments.isEmpty() && arguments.first() == QLatin1String("--screenshot");
    for (const QString& argument : arguments.mid(result.screenshot ? 1 : 0)) {
        if (argument.isEmpty())
            continue;
        if (result.files.isEmpty() && !result.selector && argument.startsWith(QLatin1Char(':')))
            result.selector = argument;
        else
            result.files.append(argument);
    }
    return result;
}

QString selectorFor(const Config& config, qint32 server, std::optional<qint32> folder) {
    qint32 savedServer = 0;
    for (qint32 before = 0; before < server; ++before)
        savedServer += config.serverExists(before) ? 1 : 0;
    QString selector = QStringLiteral(":%1").arg(savedServer);
    if (folder) {
        const QStringList& folders = config.folders(server);
        const auto end =
            folders.begin() + std::clamp(qsizetype(*folder), qsizetype(0), folders.size());
        const auto savedFolder = std::count_if(folders.begin(), end,
                                               [](const QString& kept) { return !kept.isEmpty(); });
        selector += QStringLiteral("/%1").arg(savedFolder);
    }
    return selector;
}

std::optional<ServerSelection> resolveSelector(const QString& selector, const Config& config) {
    const QString rest = selector.mid(1);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString serverText = slash < 0 ? rest : rest.left(slash);
    const QString folderText = slash < 0 ? QStringLiteral("-1") : rest.mid(slash + 1);

    const std::optional<qint32> server = parseInteger(serverText);
    if (!server || !config.serverExists(*server))
        return std::nullopt;

    ServerSelection selection;
    selection.server = *server;
    const std::optional<qint32> folder = parseInteger(folderText);
    const QStringList& folders = config.folders(*server);
    // A deleted folder is blank: no directory to pick, as for a folder beyond the list.
    if (folder && *folder >= 0 && *folder < folders.size() && !folders[*folder].isEmpty())
        selection.folder = *folder;
    return selection;
}

} // namespace quaddle
