#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "platform/AppInfo.h"
#include "platform/TerminationSignals.h"
#include "thumbs/Thumbnail.h"

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

void printUsage(const char* program) {
    std::printf("Usage: %s [:server[/folder]] [files...]\n"
                "\n"
                "Uploads files to your web server by FTP or SFTP and shows their addresses.\n"
                "\n"
                "  :server[/folder]  pick a configured server and one of its folders, both\n"
                "                    counted from 0 (\":2/1\"), and upload the files at once\n"
                "  files...          the files to upload; name a file called \"--help\" or\n"
                "                    \"--version\" as \"./--help\"\n"
                "  --help            show this text\n"
                "  --version         show the program's version\n",
                program);
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

    quaddle::catchTerminationSignals();
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
    quaddle::MainWindow formMain(arguments);
    if (formMain.quitAtStart())
        return EXIT_SUCCESS;
    quaddle::onTerminationSignal([&formMain] { formMain.close(); });
    formMain.show();
    const int status = QApplication::exec();
    // Thumbnails are private photos in small: none outlives the program.
    quaddle::removeMadeThumbnails();
    return status;
}
