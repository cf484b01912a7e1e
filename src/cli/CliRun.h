#pragma once

#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
#include "cli/Terminal.h"
#include "config/Config.h"
#include "run/UploadRun.h"
#include "thumbs/Thumbnail.h"

#include <QElapsedTimer>

namespace quaddle {

// How a run without windows ends, for scripts.
enum ExitStatus : int {
    ExitDone = 0,
    ExitSomeFailed = 1,
    ExitUsage = 2,
    ExitNoLogin = 3,
    ExitInterrupted = 130
};

// The help text of both modes; program is the name the program was started by.
QString usageText(const QString& program);

// The progress line of a file: name, bar, percent, speed and time left, cut to width.
QString progressLine(const QString& name, qint64 size, qint64 sent, qint64 elapsedMs, int width);

// Uploads as the words after "--cli" say, on the application object already made, and returns
// the exit status. Prints the lines of the uploaded files on standard output.
int runCli(const QStringList& arguments);

// One run without windows: the same session, drivers and configuration as a window's, with
// the questions answered on the terminal.
class CliRun {
public:
    explicit CliRun(CliOptions options);
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    int exec();

private:
    int run();
    UploadRunEvents runEvents();
    ThumbnailEvents thumbnailEvents();
    // Tells how the run went, prints the lines of the uploaded files and returns the exit status.
    int present(const UploadRun& upload, const Config& config, const UploadRunResult& result);
    // Names each file, or thumbnail, that did not go up.
    void reportMissing(const QList<MissingFile>& missing);
    void showProgress(const QString& name, qint64 size, qint64 sent);
    void interrupt();
    bool interrupted() const { return m_terminal.interrupted(); }

    const CliOptions m_options;
    Terminal m_terminal;
    ConsoleDialogs m_dialogs;
    UploadRun* m_run = nullptr;
    QString m_progressName;
    QElapsedTimer m_fileClock;
    QElapsedTimer m_repaintClock;
};

} // namespace quaddle
