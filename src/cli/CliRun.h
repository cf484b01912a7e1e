#pragma once

#include "capture/ImageFolder.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleDialogs.h"
#include "cli/Terminal.h"
#include "config/Config.h"
#include "run/DeleteRun.h"
#include "run/ServerProbe.h"
#include "run/UploadRun.h"
#include "thumbs/Thumbnail.h"

#include <QElapsedTimer>

namespace quaddle {

class ScreenshotTaker;

// How a run without windows ends, for scripts.
enum ExitStatus : int {
    ExitDone = 0,
    ExitSomeFailed = 1,
    ExitUsage = 2,
    ExitNoLogin = 3,
    ExitInterrupted = 130
};

// How the program was started, which its help and messages name.
struct ProgramName {
    // The file name it was started by: "quaddle-cli", "quaddle".
    QString name;
    // Its words need no "--cli": the program without windows.
    bool standalone = false;
};

// The name argv0 starts the program by; standalone for the program without windows.
ProgramName programNamed(const char* argv0, bool standalone);

// The help text: of both modes for the window's program, of the run without windows for the
// standalone one.
QString usageText(const ProgramName& program);

// The bytes of a whole run so far: what the server has taken over every connection, of how
// many, in how long.
struct RunBytes {
    qint64 done = 0;
    qint64 total = 0;
    qint64 elapsedMs = 0;
};

// The progress line of a file: name, bar and percent of the file, then the run's speed and time
// left, cut to width.
QString progressLine(const QString& name, qint64 size, qint64 sent, const RunBytes& run, int width);

// Uploads as the words after "--cli" say, on the application object already made, and returns
// the exit status. Prints the lines of the uploaded files on standard output.
int runCli(const QStringList& arguments, const ProgramName& program);

// Prints the lines on standard output, one each, made printable.
void printLines(const QStringList& lines);

// One run without windows: the same session, drivers and configuration as a window's, with
// the questions answered on the terminal.
class CliRun {
public:
    CliRun(CliOptions options, const ProgramName& program);
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    int exec();

private:
    int run();
    // Prints the last uploads of the history (CliHistory.cpp).
    int listHistory();
    // Prints the configured servers, or the folders of the one selected (CliServers.cpp).
    int listServers(const Config& config);
    int listFolders(const Config& config);
    // Tests the server --test-server names and prints each step (CliServerTest.cpp).
    int testServer(Config& config);
    // Deletes the uploads the words name from their servers and marks them in the history.
    int deleteUploads(Config& config);
    // The newest entry still on its server of each address the words name; reports those that
    // name none and returns nothing then.
    std::optional<HistoryEntries> uploadsNamed(const History& history);
    // Takes the screenshot and adds it to the files; the exit status when none was taken.
    std::optional<int> addScreenshot(FileList& files);
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
    DeleteRun* m_deleteRun = nullptr;
    ServerProbe* m_probe = nullptr;
    ScreenshotTaker* m_screenshot = nullptr;
    // The screenshot, until the run is over.
    ImageFolder m_images;
    QString m_progressName;
    QElapsedTimer m_runClock;
    QElapsedTimer m_repaintClock;
};

} // namespace quaddle
