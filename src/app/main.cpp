#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "cli/CliOptions.h"
#include "cli/CliProgram.h"
#include "cli/CliRun.h"
#include "gui/SuccessWindow.h"
#include "gui/WindowSupport.h"
#include "platform/AppInfo.h"
#include "platform/ClipboardKeeper.h"
#include "platform/ProcessProtection.h"
#include "platform/TerminationSignals.h"
#include "thumbs/Thumbnail.h"
#include "upload/Askpass.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Without a display Qt would abort with a long plugin report; one line says more.
bool hasDisplay() {
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

// The desktop entry's "Upload History" action: the main window with the history over it. Only as
// the single argument, as --help.
bool wantsHistory(int argc, char** argv) {
    return argc == 2 && std::strcmp(argv[1], "--history") == 0;
}

void printUsage(const char* program) {
    std::fputs(qPrintable(quaddle::usageText(quaddle::programNamed(program, false))), stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (const auto status = quaddle::runAskpassWhenAsked(argc, argv))
        return *status;
    if (const auto status = quaddle::serveClipboardWhenAsked(argc, argv))
        return *status;
    if (quaddle::printedVersion(argc, argv))
        return EXIT_SUCCESS;
    // Only as the single argument, so "./--help" and any other word still name files.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        printUsage(argv[0]);
        return EXIT_SUCCESS;
    }

    quaddle::keepSecretsOutOfCoreDumps();
    quaddle::catchTerminationSignals();
    if (quaddle::wantsCli(argc, argv))
        return quaddle::runWithoutWindows(argc, argv, 2);
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
    // Desktops find the entry, and with it the icon, of a running window by this name.
    QGuiApplication::setDesktopFileName(quaddle::AppId);
    quaddle::installWindowSupport(application);

    quaddle::AppDialogs dialogs;
    quaddle::installDialogs(&dialogs);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const bool showHistory = wantsHistory(argc, argv);
    if (showHistory)
        arguments.clear();
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
    // Cancelling the screenshot the program was started for cancels the start as well.
    if (formMain.screenshotAtStart() &&
        formMain.addScreenshot() == quaddle::ScreenshotStatus::Cancelled)
        return EXIT_SUCCESS;
    window = &formMain;
    formMain.show();
    if (showHistory)
        formMain.openHistory();
    const int status = QApplication::exec();
    quaddle::keepCopiedText();
    // Thumbnails are private photos in small: none outlives the program.
    quaddle::removeMadeThumbnails();
    return status;
}
