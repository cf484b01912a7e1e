#include "app/CommandLine.h"

#include "config/Config.h"
#include "config/IntegerText.h"

namespace quaddle {

TCommandLine ParseCommandLine(const QStringList& arguments) {
    TCommandLine result;
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            continue;
        if (result.Files.isEmpty() && !result.Selector && argument.startsWith(QLatin1Char(':')))
            result.Selector = argument;
        else
            result.Files.append(argument);
    }
    return result;
}

std::optional<TServerSelection> ResolveSelector(const QString& selector, const TCfg& cfg) {
    const QString rest = selector.mid(1);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QString serverText = slash < 0 ? rest : rest.left(slash);
    const QString folderText = slash < 0 ? QStringLiteral("-1") : rest.mid(slash + 1);

    const std::optional<qint32> server = ParseInteger(serverText);
    if (!server || !cfg.ServerExists(*server))
        return std::nullopt;

    TServerSelection selection;
    selection.Server = *server;
    const std::optional<qint32> folder = ParseInteger(folderText);
    const QStringList& folders = cfg.GetFolders(*server);
    // A deleted folder is blank: no directory to pick, as for a folder beyond the list.
    if (folder && *folder >= 0 && *folder < folders.size() && !folders[*folder].isEmpty())
        selection.Folder = *folder;
    return selection;
}

} // namespace quaddle
