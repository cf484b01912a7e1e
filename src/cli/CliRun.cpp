#include "cli/CliRun.h"

#include "capture/Screenshot.h"
#include "config/CommandLine.h"
#include "platform/ClipboardKeeper.h"
#include "platform/Error.h"
#include "platform/TerminationSignals.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadRunSupport.h"
#include "upload/UploadSession.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace quaddle {

namespace {

constexpr int BarWidth = 20;
constexpr qint64 RepaintMs = 200;

QString byteCount(double bytes) {
    const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    return QString::number(bytes, 'f', unit == 0 ? 0 : 1) + QLatin1Char(' ') +
           QLatin1String(units[unit]);
}

QString duration(qint64 seconds) {
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void printOut(const QString& text) {
    const QByteArray out = text.toLocal8Bit();
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
}

// The lines as printed: one per file, whatever its name holds.
QStringList printableLines(const QStringList& lines) {
    QStringList printable;
    for (const QString& line : lines)
        printable.append(printableText(line));
    return printable;
}

} // namespace

void printLines(const QStringList& lines) {
    QString out;
    for (const QString& line : printableLines(lines))
        out += line + QLatin1Char('\n');
    printOut(out);
}

ProgramName programNamed(const char* argv0, bool standalone) {
    const QString name = QFileInfo(QString::fromLocal8Bit(argv0)).fileName();
    return {name.isEmpty()
                ? (standalone ? QStringLiteral("quaddle-cli") : QStringLiteral("quaddle"))
                : name,
            standalone};
}

namespace {

// The forms of a run without windows; command: how the program is started for one.
QString cliForms(const QString& command) {
    return QStringLiteral("%1 [options] [:server[/folder]] files...\n"
                          "       %1 --servers [:server] [--json]\n"
                          "       %1 --history[=N] [--json]\n"
                          "       %1 --delete [options] URL...\n"
                          "       %1 --test-server :server [options]\n")
        .arg(command);
}

const QString WindowHelp =
    QStringLiteral("Uploads files to your web server by FTP or SFTP and shows their addresses.\n"
                   "\n"
                   "  :server[/folder]  pick a configured server and one of its folders, both\n"
                   "                    counted from 0 (\":2/1\"), and upload the files at once\n"
                   "  files...          the files to upload; name a file called \"--help\" or\n"
                   "                    \"--version\" as \"./--help\"\n"
                   "  --screenshot      (first) take a screenshot and upload it: the desktop's\n"
                   "                    screenshot portal asks for the area, or, on X11 without\n"
                   "                    one, drag a rectangle, click for the whole screen, Esc\n"
                   "                    cancels\n"
                   "  --help            show this text\n"
                   "  --version         show the program's version\n"
                   "  --history         open the window with the history of uploads over it\n"
                   "\n"
                   "With --cli (first), no window opens and no display is needed: the files go to\n"
                   "the server the selector picks (else the current one and its default\n"
                   "directory), and one line per uploaded file is printed on standard output.\n");

const QString StandaloneHelp = QStringLiteral(
    "Uploads files to your web server by FTP or SFTP and prints their addresses, one\n"
    "line per uploaded file, without a window or a display: the files go to the\n"
    "server the selector picks (\":2/1\": server 2 and its folder 1, both counted\n"
    "from 0; else the current one and its default directory).\n");

const QString CliHelp = QStringLiteral(
    "\n"
    "  --tags=STYLE      url (the addresses only), bbcode, bbcode-img, html,\n"
    "                    html-img or markdown; default: the tag style chosen last\n"
    "                    in the window's list of results\n"
    "  --thumbnails      make and upload thumbnails of JPEG and BMP files\n"
    "  --strip-metadata  upload photos without their location and camera data\n"
    "                    (all but the orientation); formats it cannot be taken\n"
    "                    out of stay home; the files themselves stay as they are\n"
    "  --on-exists=WHAT  overwrite, rename, skip or ask (on the terminal; without\n"
    "                    one the file is skipped); default: the option set\n"
    "  --connections=N   open up to N connections (1 to 10) for several files;\n"
    "                    default: the option set\n"
    "  --accept-new      accept and remember a server's unknown host key or\n"
    "                    certificate (never a changed one)\n"
    "  --copy            also put the printed lines on the clipboard, where they\n"
    "                    stay after the program ends\n"
    "  --screenshot      take a screenshot and upload it after the files (which\n"
    "                    may then be left out)\n"
    "  --master-password-file=FILE\n"
    "                    read the master password from the first line of FILE\n"
    "  -q, --quiet       print nothing on standard error but errors\n"
    "  --                every word after it is a file\n"
    "\n"
    "  --servers         list the configured servers, one per line: the number that\n"
    "                    selects it, its name and where it is; with \":N\" the\n"
    "                    folders of server N; with --json as a JSON array\n"
    "  --history[=N]     list the last N uploads (default 20), newest first: time,\n"
    "                    server and address; with --json one JSON object per line\n"
    "  --delete URL...   delete those uploads of the history, with their\n"
    "                    thumbnails, from their servers and mark them deleted\n"
    "  --test-server :N  log in to server N, put a small test file into its default\n"
    "                    folder, fetch it from its address, delete it, and print\n"
    "                    each step; exit status 0 only when every step passed\n"
    "\n"
    "Passwords that are not stored are asked on the terminal. Exit status: 0 all\n"
    "files uploaded, skipped or deleted, 1 some failed or no screenshot could be\n"
    "taken, 2 wrong usage or unreadable configuration, 3 server not reached or login\n"
    "refused, 130 interrupted or screenshot cancelled.\n");

} // namespace

QString usageText(const ProgramName& program) {
    if (program.standalone)
        return QStringLiteral("Usage: ") + cliForms(program.name) + QLatin1Char('\n') +
               StandaloneHelp + CliHelp;
    return QStringLiteral("Usage: %1 [:server[/folder]] [files...]\n"
                          "       %1 --screenshot [:server[/folder]]\n"
                          "       ")
               .arg(program.name) +
           cliForms(program.name + QStringLiteral(" --cli")) + QLatin1Char('\n') + WindowHelp +
           CliHelp;
}

QString progressLine(const QString& name, qint64 size, qint64 sent, const RunBytes& run,
                     int width) {
    const double share = size > 0 ? std::clamp(double(sent) / double(size), 0.0, 1.0) : 0.0;
    const int filled = int(share * BarWidth);
    QString tail = QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                   QString(BarWidth - filled, QLatin1Char('-')) +
                   QStringLiteral("] %1%").arg(int(share * 100), 3);
    if (run.elapsedMs > 0 && run.done > 0) {
        const double perSecond = double(run.done) * 1000.0 / double(run.elapsedMs);
        tail += QStringLiteral("  ") + byteCount(perSecond) + QStringLiteral("/s");
        if (run.total > run.done)
            tail += QStringLiteral("  ") +
                    duration(qint64(double(run.total - run.done) / perSecond + 0.5)) +
                    QStringLiteral(" left");
    }
    // The line must not wrap, or the next one would not replace it: the name gives way.
    const qsizetype room = std::max<qsizetype>(width - 1 - tail.size(), 0);
    QString shown = name;
    if (shown.size() > room)
        shown = room > 3 ? QStringLiteral("...") + name.right(room - 3) : QString();
    return QString(shown + tail).left(std::max(width - 1, 0));
}

int runCli(const QStringList& arguments, const ProgramName& program) {
    CliOptions options;
    try {
        options = parseCliOptions(arguments);
    } catch (const Error& error) {
        const QByteArray name = program.name.toLocal8Bit();
        std::fprintf(stderr, "%s: %s\nTry \"%s --help\" for more information.\n", name.constData(),
                     error.what(), name.constData());
        return ExitUsage;
    }
    if (options.help) {
        printOut(usageText(program));
        return ExitDone;
    }
    CliRun run(std::move(options), program);
    return run.exec();
}

CliRun::CliRun(CliOptions options, const ProgramName& program)
    : m_options(std::move(options)), m_terminal(program.name, m_options.quiet),
      m_dialogs(m_terminal,
                {m_options.acceptNew, m_options.thumbnails, m_options.masterPasswordFile}) {}

CliRun::~CliRun() = default;

int CliRun::exec() {
    Dialogs* const previous = installDialogs(&m_dialogs);
    onTerminationSignal([this] { interrupt(); });
    const int status = run();
    m_terminal.clear();
    // Thumbnails are private photos in small: none outlives the run.
    removeMadeThumbnails();
    installDialogs(previous);
    return interrupted() ? ExitInterrupted : status;
}

void CliRun::interrupt() {
    m_terminal.interrupt();
    if (m_run)
        m_run->cancel();
    if (m_deleteRun)
        m_deleteRun->cancel();
    if (m_probe)
        m_probe->cancel();
    if (m_screenshot)
        m_screenshot->cancel();
}

int CliRun::run() {
    if (m_options.history)
        return listHistory();
    if (!m_options.masterPasswordFile.isEmpty()) {
        QFile file(m_options.masterPasswordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            m_terminal.error(QStringLiteral("The master password file \"%1\" cannot be read: %2")
                                 .arg(m_options.masterPasswordFile, file.errorString()));
            return ExitUsage;
        }
    }
    Config config;
    config.loadConfig(false);
    if (config.loadFailed() || interrupted())
        return ExitUsage;
    if (m_options.servers)
        return listServers(config);
    if (m_options.deleteUploads)
        return deleteUploads(config);
    if (m_options.testServer)
        return testServer(config);

    QString remoteDir;
    if (m_options.selector) {
        const std::optional<ServerSelection> selection =
            resolveSelector(*m_options.selector, config);
        if (!selection) {
            m_terminal.error(
                QStringLiteral("\"%1\" names no configured server.").arg(*m_options.selector));
            return ExitUsage;
        }
        config.currentServer = selection->server;
        if (selection->folder)
            remoteDir = config.folders(selection->server).at(*selection->folder);
    }
    if (!config.serverExists(config.currentServer)) {
        m_terminal.error(
            QStringLiteral("No server is configured; add one in the window's server manager."));
        return ExitUsage;
    }
    const ServerRecord server = config.currentServerRecord();
    if (const QString problem = serverTypeProblem(config); !problem.isEmpty()) {
        m_terminal.error(problem);
        return ExitUsage;
    }
    if (remoteDir.isEmpty())
        remoteDir = server.defaultDir;

    FileList files;
    for (const QString& path : m_options.files) {
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable()) {
            m_terminal.error(QStringLiteral("\"%1\" is no file that can be read.").arg(path));
            return ExitUsage;
        }
        files.append({path, QString()});
    }
    if (m_options.screenshot)
        if (const std::optional<int> status = addScreenshot(files))
            return *status;
    UploadRun upload(config, server, remoteDir,
                     m_options.onExists.value_or(config.overwritePolicy()), runEvents());
    if (m_options.connections)
        upload.setConnections(*m_options.connections);
    if (m_options.stripMetadata)
        upload.setStripMetadata(true);
    // Thumbnails on the command line are --thumbnails' alone, whatever the window's setting.
    upload.setThumbnailPolicy(m_options.thumbnails ? Config::ThumbnailPolicy::Always
                                                   : Config::ThumbnailPolicy::Never);
    m_run = &upload;
    // A signal that came before the run stops it all the same.
    if (interrupted())
        upload.cancel();
    const UploadRunResult& result = upload.run(files);
    m_run = nullptr;
    const int status = present(upload, config, result);
    if (result.logError)
        m_terminal.error(*result.logError);
    return status;
}

std::optional<int> CliRun::addScreenshot(FileList& files) {
    ScreenshotTaker taker(m_images);
    m_screenshot = &taker;
    // A signal that came before stops it all the same.
    if (interrupted())
        taker.cancel();
    const ScreenshotResult shot = taker.take();
    m_screenshot = nullptr;
    switch (shot.status) {
    case ScreenshotStatus::Taken:
        files.append({shot.path, QString()});
        return std::nullopt;
    case ScreenshotStatus::Cancelled:
        m_terminal.notice(QStringLiteral("Screenshot cancelled."));
        return ExitInterrupted;
    case ScreenshotStatus::Failed:
        break;
    }
    m_terminal.error(shot.problem);
    return ExitSomeFailed;
}

UploadRunEvents CliRun::runEvents() {
    UploadRunEvents events;
    events.progress = [this](const QString& name, qint64 size, qint64 sent) {
        showProgress(name, size, sent);
    };
    events.showThumbnails = [this] { return thumbnailEvents(); };
    // A configuration that cannot be used is the user's to mend, not the server's to log.
    events.logsError = [](RunStep step) { return step != RunStep::Configure; };
    return events;
}

ThumbnailEvents CliRun::thumbnailEvents() {
    ThumbnailEvents events;
    // A termination signal gets through while the thumbnails are made: no further one begins.
    events.progress = [this](qsizetype, qsizetype) { return !interrupted(); };
    events.failed = [this](const QString& path, const QString& message) {
        m_terminal.error(
            QStringLiteral("An error occurred while resizing \"%1\": %2").arg(path, message));
    };
    return events;
}

int CliRun::present(const UploadRun& upload, const Config& config, const UploadRunResult& result) {
    if (result.error && (result.stoppedAt == RunStep::Configure || !interrupted()))
        m_terminal.error(*result.error);
    switch (result.stoppedAt) {
    case RunStep::Thumbnails:
        return ExitInterrupted;
    case RunStep::Configure:
        return ExitUsage;
    case RunStep::Login:
        return ExitNoLogin;
    case RunStep::EnterDirs:
        if (!result.error)
            return ExitSomeFailed;
        break;
    case RunStep::Upload:
    case RunStep::Done:
        break;
    }
    reportMissing(result.missing);
    m_terminal.clear();
    for (const RenamedFile& renamed : result.renamed)
        m_terminal.notice(QStringLiteral("The file \"%1\" on the server was renamed to \"%2\".")
                              .arg(renamed.oldName, renamed.newName));
    const QStringList lines = upload.urlLines(m_options.tags.value_or(storedTagStyle(config)));
    printLines(lines);
    // With CR LF between them, as the window copies them.
    if (m_options.copy && !lines.isEmpty())
        if (const std::optional<QString> problem = keepOnClipboard(
                printableLines(lines).join(QLatin1String("\r\n")), sessionClipboard()))
            m_terminal.error(*problem);
    return result.missing.isEmpty() ? ExitDone : ExitSomeFailed;
}

void CliRun::reportMissing(const QList<MissingFile>& missing) {
    if (interrupted())
        return;
    for (const MissingFile& file : missing)
        m_terminal.error((file.thumbnailOnly
                              ? QStringLiteral("The thumbnail of \"%1\" was not uploaded.")
                              : QStringLiteral("\"%1\" was not uploaded."))
                             .arg(file.path));
}

void CliRun::showProgress(const QString& name, qint64 size, qint64 sent) {
    if (!m_terminal.showsProgress())
        return;
    if (!m_runClock.isValid())
        m_runClock.start();
    if (name != m_progressName) {
        m_progressName = name;
    } else if (m_repaintClock.isValid() && m_repaintClock.elapsed() < RepaintMs && sent < size) {
        return;
    }
    m_repaintClock.start();
    // Several connections send at once: the speed is that of all of them together. Thumbnails
    // are not among the run's bytes, and a file sent outside a run is the run.
    const UploadSession* const session = m_run ? m_run->session() : nullptr;
    const bool counted = session && session->bytesTotal() > 0;
    const RunBytes run{counted ? session->bytesDone() : sent,
                       counted ? session->bytesTotal() : size, m_runClock.elapsed()};
    // Escaped before it is cut to the width, so the line still fits.
    m_terminal.progress(progressLine(printableText(name), size, sent, run, m_terminal.width()));
}

} // namespace quaddle
