#include "cli/CliRun.h"

#include "config/CommandLine.h"
#include "platform/Error.h"
#include "platform/TerminationSignals.h"
#include "results/UrlBuilder.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadRun.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
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

// One line per file, whatever its name holds.
void printLines(const QStringList& lines) {
    QString out;
    for (const QString& line : lines)
        out += printableText(line) + QLatin1Char('\n');
    printOut(out);
}

} // namespace

QString usageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [:server[/folder]] [files...]\n"
               "       %1 --cli [options] [:server[/folder]] files...\n"
               "\n"
               "Uploads files to your web server by FTP or SFTP and shows their addresses.\n"
               "\n"
               "  :server[/folder]  pick a configured server and one of its folders, both\n"
               "                    counted from 0 (\":2/1\"), and upload the files at once\n"
               "  files...          the files to upload; name a file called \"--help\" or\n"
               "                    \"--version\" as \"./--help\"\n"
               "  --help            show this text\n"
               "  --version         show the program's version\n"
               "\n"
               "With --cli (first), no window opens and no display is needed: the files go to\n"
               "the server the selector picks (else the current one and its default\n"
               "directory), and one line per uploaded file is printed on standard output.\n"
               "\n"
               "  --tags=STYLE      none, bbcode, bbcode-img, html, html-img or markdown;\n"
               "                    default: the tag style chosen last in the window\n"
               "  --thumbnails      make and upload thumbnails of JPEG and BMP files\n"
               "  --on-exists=WHAT  overwrite, rename, skip or ask (on the terminal; without\n"
               "                    one the file is skipped); default: the option set\n"
               "  --accept-new      accept and remember a server's unknown host key or\n"
               "                    certificate (never a changed one)\n"
               "  --master-password-file=FILE\n"
               "                    read the master password from the first line of FILE\n"
               "  -q, --quiet       print nothing on standard error but errors\n"
               "  --                every word after it is a file\n"
               "\n"
               "Passwords that are not stored are asked on the terminal. Exit status: 0 all\n"
               "files uploaded or skipped, 1 some failed, 2 wrong usage or unreadable\n"
               "configuration, 3 server not reached or login refused, 130 interrupted.\n")
        .arg(program);
}

QString progressLine(const QString& name, qint64 size, qint64 sent, qint64 elapsedMs, int width) {
    const double share = size > 0 ? std::clamp(double(sent) / double(size), 0.0, 1.0) : 0.0;
    const int filled = int(share * BarWidth);
    QString tail = QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                   QString(BarWidth - filled, QLatin1Char('-')) +
                   QStringLiteral("] %1%").arg(int(share * 100), 3);
    if (elapsedMs > 0 && sent > 0) {
        const double perSecond = double(sent) * 1000.0 / double(elapsedMs);
        tail += QStringLiteral("  ") + byteCount(perSecond) + QStringLiteral("/s");
        if (size > sent)
            tail += QStringLiteral("  ") + duration(qint64(double(size - sent) / perSecond + 0.5)) +
                    QStringLiteral(" left");
    }
    // The line must not wrap, or the next one would not replace it: the name gives way.
    const qsizetype room = std::max<qsizetype>(width - 1 - tail.size(), 0);
    QString shown = name;
    if (shown.size() > room)
        shown = room > 3 ? QStringLiteral("...") + name.right(room - 3) : QString();
    return QString(shown + tail).left(std::max(width - 1, 0));
}

int runCli(const QStringList& arguments) {
    CliOptions options;
    try {
        options = parseCliOptions(arguments);
    } catch (const Error& error) {
        std::fprintf(stderr, "quaddle: %s\n", error.what());
        return ExitUsage;
    }
    if (options.help) {
        printOut(usageText(QStringLiteral("quaddle")));
        return ExitDone;
    }
    CliRun run(std::move(options));
    return run.exec();
}

CliRun::CliRun(CliOptions options)
    : m_options(std::move(options)), m_terminal(m_options.quiet),
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
    if (m_session)
        m_session->cancel();
}

int CliRun::run() {
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
        remoteDir = server[DefaultDir];

    FileList files;
    for (const QString& path : m_options.files) {
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable()) {
            m_terminal.error(QStringLiteral("\"%1\" is no file that can be read.").arg(path));
            return ExitUsage;
        }
        files.append({path, QString()});
    }
    const std::optional<ThumbnailImages> images = imagesWithoutThumbnails(files);
    if (images && dialogs().offerThumbnails(*images))
        makeThumbnails(config, files);
    if (interrupted())
        return ExitInterrupted;

    const int status = upload(config, server, remoteDir, files);
    endSession(config);
    return status;
}

void CliRun::makeThumbnails(const Config& config, FileList& files) {
    ThumbnailOptions options;
    options.maxWidth = config.thumbWidth();
    options.maxHeight = config.thumbHeight();
    options.info = config.thumbInfo();
    options.frame = config.thumbFrame();
    options.bandFont = QGuiApplication::font();
    const QStringList names = thumbnailNames(files);
    for (qsizetype index = 0; index < files.size(); ++index) {
        FileEntry& entry = files[index];
        // Lets a termination signal through between pictures.
        QCoreApplication::processEvents();
        if (interrupted())
            return;
        if (!isThumbnailSource(entry.path))
            continue;
        try {
            entry.thumbnail = makeThumbnail(entry.path, options, names[index]);
        } catch (const Error& error) {
            // The picture itself still goes up, without a thumbnail.
            m_terminal.error(QStringLiteral("An error occurred while resizing \"%1\": %2")
                                 .arg(entry.path, error.message()));
        }
    }
}

int CliRun::upload(Config& config, const ServerRecord& server, const QString& remoteDir,
                   const FileList& files) {
    m_session = std::make_unique<UploadSession>(
        [this](const QString& name, qint64 size, qint64 sent) { showProgress(name, size, sent); },
        [](const QString&, int) {}, server[Type].toInt(),
        m_options.onExists.value_or(config.overwritePolicy()), config.logTraffic(),
        standardDrivers(config.programDir));
    try {
        configureSession(*m_session, config);
    } catch (const Error& error) {
        m_terminal.error(error.message());
        return ExitUsage;
    }

    try {
        if (!m_session->login(server[Hostname], server[Port], server[Username], server[Password],
                              server[KeyFile]))
            return ExitNoLogin;
    } catch (const Error& error) {
        m_session->addLog(error.message(), LogError);
        if (!interrupted())
            m_terminal.error(error.message());
        return ExitNoLogin;
    }

    UploadResults results;
    try {
        if (!m_session->enterDir(server[RootDir], false, true) ||
            !m_session->enterDir(sessionRemoteDir(server, remoteDir), false, true))
            return ExitSomeFailed;
        results = m_session->uploadFiles(files);
    } catch (const Error& error) {
        m_session->addLog(error.message(), LogError);
        if (!interrupted())
            m_terminal.error(error.message());
        // The files that went up before the error still get their lines.
        results = m_session->uploadedFiles();
    }
    const bool allUploaded = reportMissing(files, results);
    m_terminal.clear();
    for (const RenamedFile& renamed : m_session->renamedFiles())
        m_terminal.notice(QStringLiteral("The file \"%1\" on the server was renamed to \"%2\".")
                              .arg(renamed.oldName, renamed.newName));
    printLines(
        urlLines(server, remoteDir, results, m_options.tags.value_or(storedTagStyle(config))));
    return allUploaded ? ExitDone : ExitSomeFailed;
}

bool CliRun::reportMissing(const FileList& files, const UploadResults& results) {
    // Results keep the order of the files, so the files missing from them are the failed ones.
    qsizetype matched = 0;
    bool allUploaded = true;
    for (const FileEntry& entry : files) {
        const bool sent =
            matched < results.size() && results[matched].file == fileNameOf(entry.path);
        const bool thumbnailSent =
            entry.thumbnail.isEmpty() || (sent && !results[matched].thumbnail.isEmpty());
        if (sent)
            ++matched;
        if (sent && thumbnailSent)
            continue;
        allUploaded = false;
        if (!interrupted())
            m_terminal.error((sent ? QStringLiteral("The thumbnail of \"%1\" was not uploaded.")
                                   : QStringLiteral("\"%1\" was not uploaded."))
                                 .arg(entry.path));
    }
    return allUploaded;
}

void CliRun::endSession(const Config& config) {
    if (!m_session)
        return;
    const QStringList lines = m_session->logLines();
    m_session.reset();
    try {
        writeUploadLog(config.programDir, lines);
    } catch (const Error& error) {
        m_terminal.error(error.message());
    }
}

void CliRun::showProgress(const QString& name, qint64 size, qint64 sent) {
    if (!m_terminal.showsProgress())
        return;
    if (name != m_progressName || !m_fileClock.isValid()) {
        m_progressName = name;
        m_fileClock.start();
    } else if (m_repaintClock.isValid() && m_repaintClock.elapsed() < RepaintMs && sent < size) {
        return;
    }
    m_repaintClock.start();
    // Escaped before it is cut to the width, so the line still fits.
    m_terminal.progress(
        progressLine(printableText(name), size, sent, m_fileClock.elapsed(), m_terminal.width()));
}

} // namespace quaddle
