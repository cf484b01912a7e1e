#include "app/AppDialogs.h"
#include "app/FormMain.h"
#include "platform/AppInfo.h"
#include "platform/TerminationSignals.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

// Without a display Qt would abort with a long plugin report; one line says more.
bool HasDisplay() {
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    quaddle::CatchTerminationSignals();
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "Quaddle needs a graphical display and none was found; "
                     "start it with: xvfb-run -a %s\n",
                     argv[0]);
        return EXIT_FAILURE;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(quaddle::AppName);
    QApplication::setApplicationDisplayName(quaddle::AppName);

    quaddle::TAppDialogs dialogs;
    quaddle::InstallDialogs(&dialogs);

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    quaddle::TFormMain formMain(arguments);
    quaddle::OnTerminationSignal([&formMain] { formMain.close(); });
    formMain.show();
    return QApplication::exec();
}
