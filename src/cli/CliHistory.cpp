#include "cli/CliRun.h"
#include "history/History.h"
#include "platform/Error.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace quaddle {

namespace {

QJsonValue timeText(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toString(Qt::ISODateWithMs)) : QJsonValue();
}

// null for entries kept before the login was.
QJsonValue loginPart(const HistoryEntry& entry, QString HistoryLogin::*part) {
    return entry.login ? QJsonValue((*entry.login).*part) : QJsonValue();
}

QString jsonLine(const HistoryEntry& entry) {
    const QJsonObject object{{QStringLiteral("id"), entry.id},
                             {QStringLiteral("time"), timeText(entry.time)},
                             {QStringLiteral("server"), entry.serverName},
                             {QStringLiteral("host"), entry.host},
                             {QStringLiteral("protocol"), entry.protocol},
                             {QStringLiteral("user"), loginPart(entry, &HistoryLogin::user)},
                             {QStringLiteral("port"), loginPart(entry, &HistoryLogin::port)},
                             {QStringLiteral("remotePath"), entry.remotePath()},
                             {QStringLiteral("thumbnailPath"), entry.thumbnailPath()},
                             {QStringLiteral("url"), entry.url},
                             {QStringLiteral("thumbnailUrl"), entry.thumbnailUrl},
                             {QStringLiteral("size"), entry.size},
                             {QStringLiteral("sha256"), entry.sha256},
                             {QStringLiteral("deleted"), entry.deleted()},
                             {QStringLiteral("deletedTime"), timeText(entry.deletedTime)}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString textLine(const HistoryEntry& entry) {
    QString line = entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                   QStringLiteral("  ") + entry.serverName + QStringLiteral("  ") + entry.url;
    if (entry.deleted())
        line += QStringLiteral("  (deleted)");
    return line;
}

} // namespace

int CliRun::listHistory() {
    const QString programDir = Config().programDir;
    // Listing makes no history where there is none.
    if (!QFile::exists(History::filePath(programDir)))
        return ExitDone;
    try {
        const History history(programDir);
        QStringList lines;
        for (const HistoryEntry& entry : history.entries(0, *m_options.history))
            lines.append(m_options.json ? jsonLine(entry) : textLine(entry));
        printLines(lines);
    } catch (const Error& error) {
        m_terminal.error(error.message());
        return ExitUsage;
    }
    return ExitDone;
}

std::optional<HistoryEntries> CliRun::uploadsNamed(const History& history) {
    HistoryEntries uploads;
    bool allFound = true;
    for (const QString& url : QSet<QString>(m_options.files.begin(), m_options.files.end())) {
        HistoryEntries found = history.withUrl(url);
        found.removeIf([](const HistoryEntry& entry) { return entry.deleted(); });
        if (found.isEmpty()) {
            m_terminal.error(
                QStringLiteral("\"%1\" is no upload of the history that is still on its server.")
                    .arg(url));
            allFound = false;
        } else {
            uploads.append(found.first());
        }
    }
    if (!allFound)
        return std::nullopt;
    return uploads;
}

int CliRun::deleteUploads(Config& config) {
    try {
        if (!QFile::exists(History::filePath(config.programDir)))
            throw Error(QStringLiteral("There is no upload history yet."));
        History history(config.programDir);
        // Nothing is deleted while an address is mistyped.
        const std::optional<HistoryEntries> uploads = uploadsNamed(history);
        if (!uploads)
            return ExitUsage;
        DeleteRun deleting(config, history);
        m_deleteRun = &deleting;
        if (interrupted())
            deleting.cancel();
        const QList<DeleteOutcome> outcomes = deleting.run(*uploads);
        m_deleteRun = nullptr;
        QStringList lines;
        bool failed = false;
        for (qsizetype index = 0; index < outcomes.size(); ++index) {
            if (outcomes[index].done)
                lines.append(uploads->at(index).url);
            if (!outcomes[index].reason.isEmpty() && !interrupted())
                m_terminal.error(outcomes[index].reason);
            failed = failed || !outcomes[index].reason.isEmpty();
        }
        printLines(lines);
        markDeleted(history, *uploads, outcomes);
        return failed ? ExitSomeFailed : ExitDone;
    } catch (const Error& error) {
        m_terminal.error(error.message());
        return ExitUsage;
    }
}

} // namespace quaddle
