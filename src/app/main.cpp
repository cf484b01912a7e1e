#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "cli/CliRun.h"
#include "platform/AppInfo.h"
#include "platform/ProcessProtection.h"
#include "platform/TerminationSignals.h"
#include "thumbs/Thumbnail.h"

#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Without a display Qt would abort with a long plugin report; one line says more.
bool hasDisplay() {
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

void printUsage(const char* program) {
    std::fputs(qPrintable(quaddle::usageText(QString::fromLocal8Bit(program))), stdout);
}

// The run without windows. Its words are taken before the application object sees them, as
// Qt's own options ("-platform") would otherwise be taken out of the file names.
int runWithoutWindows(int argc, char** argv) {
    QStringList arguments;
    for (int i = 2; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Qt's own notices (no XDG_RUNTIME_DIR under cron, say) mean nothing to a script: standard
    // error carries the program's messages and real errors only.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    std::unique_ptr<QCoreApplication> application;
    if (quaddle::wantsThumbnails(argc, argv)) {
        // The thumbnails' size band is written in a font, and Qt loads fonts for a GUI
        // application only; its offscreen platform needs no display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(quaddle::AppName);
    return quaddle::runCli(arguments);
}

} // namespace

int main(int argc, char** argv) {
    // Only as the single argument, so "./--help" and any other word still name files.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", qPrintable(quaddle::AppName), qPrintable(quaddle::AppVersion));
        return EXIT_SUCCESS;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printUsage(argv[0]);
        return EXIT_SUCCESS;
    }

    quaddle::keepSecretsOutOfCoreDumps();
    quaddle::catchTerminationSignals();
    if (quaddle::wantsCli(argc, argv))
        return runWithoutWindows(argc, argv);
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "Quaddle needs a graphical display and none was found; "
                     "start it with: xvfb-run -a %s\n",
                     argv[0]);
        return EXIT_FAILURE;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(quaddle::AppName);
    QApplication::setApplicationDisplayName(quaddle::AppName);

    quaddle::AppDialogs dialogs;
    quaddle::installDialogs(&dialogs);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    // A signal while a question of the start-up waits (a damaged configuration, the master
    // password) ends the program at once: nothing has changed yet that closing would save. One
    // that arrives while no question waits is kept until the window exists.
    quaddle::MainWindow* window = nullptr;
    quaddle::onTerminationSignal([&window] {
        if (window)
            window->close();
        else
            quaddle::endByTerminationSignal();
    });
    quaddle::MainWindow formMain(arguments);
    if (formMain.quitAtStart())
        return EXIT_SUCCESS;
    window = &formMain;
    formMain.show();
    const int status = QApplication::exec();
    // Thumbnails are private photos in small: none outlives the program.
    quaddle::removeMadeThumbnails();
    return status;
}
