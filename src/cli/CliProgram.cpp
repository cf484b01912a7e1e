#include "cli/CliProgram.h"

#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "platform/AppInfo.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quaddle {

namespace {

bool x11Session() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

bool printedVersion(int argc, char** argv) {
    // Only as the single argument, so "./--version" and any other word still name files.
    if (argc != 2 || std::strcmp(argv[1], "--version") != 0)
        return false;
    std::printf("%s %s\n", qPrintable(AppName), qPrintable(AppVersion));
    return true;
}

// Its words are taken before the application object sees them, as Qt's own options
// ("-platform") would otherwise be taken out of the file names.
int runWithoutWindows(int argc, char** argv, int first) {
    QStringList arguments;
    for (int i = first; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Qt's own notices (no XDG_RUNTIME_DIR under cron, say) mean nothing to a script: standard
    // error carries the program's messages and real errors only.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    std::unique_ptr<QCoreApplication> application;
    if (wantsScreenshot(argc, argv, first) && x11Session()) {
        // The program's own area picker is a window on the display; should the display not
        // answer, the offscreen platform leaves the screenshot to the portal.
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    } else if (wantsThumbnails(argc, argv, first)) {
        // The thumbnails' size band is written in a font, and Qt loads fonts for a GUI
        // application only; its offscreen platform needs no display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(AppName);
    // Only the program without windows takes its words right after its name, without "--cli".
    return runCli(arguments, programNamed(argv[0], first == 1));
}

} // namespace quaddle
