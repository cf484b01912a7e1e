// Renders the main window, the success window and the server manager offscreen into PNG files, so
// the pictures in the README show the windows as they are. Usage: quaddle-screenshots <output dir>
#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"
#include "gui/SuccessWindow.h"

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quaddle-screenshots <output dir>\n");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    // A throw-away program directory, first without a server, then with one, so nothing of
    // the user's is shown.
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    QSettings(QStringLiteral("Quaddle"), QStringLiteral("Quaddle"))
        .setValue(QStringLiteral("ProgramDir"), store.path());
    quaddle::AppDialogs dialogs;
    quaddle::installDialogs(&dialogs);
    {
        // The first start: no server yet, and the offer to add one.
        quaddle::MainWindow first({});
        first.show();
        QApplication::processEvents();
        first.grab().save(output.filePath(QStringLiteral("first-start.png")));
    }
    {
        quaddle::Config config;
        config.storeServer(QStringLiteral("www.example.org"), QString(), QStringLiteral("me"),
                           QString(), QStringLiteral("/htdocs"), QStringLiteral("/pictures"),
                           QString(), QString(), -1, -1);
        config.serverNames[0] = QStringLiteral("My website");
        config.setFolder(-1, 0, QStringLiteral("/pictures"));
        config.saveConfig();
    }

    quaddle::MainWindow main({QStringLiteral("/home/me/Pictures/beach.jpg"),
                              QStringLiteral("/home/me/Pictures/sunset.jpg"),
                              QStringLiteral("/home/me/Documents/menu.pdf")});
    main.show();
    QApplication::processEvents();
    main.grab().save(output.filePath(QStringLiteral("main-window.png")));

    quaddle::SuccessWindowHost host;
    host.lines = [](quaddle::TagStyle style) {
        const quaddle::ServerRecord server = [] {
            quaddle::ServerRecord record;
            record.host = QStringLiteral("www.example.org");
            record.urlMask = quaddle::DefaultURLMask;
            return record;
        }();
        return quaddle::urlLines(server, QStringLiteral("pictures"),
                                 {{QStringLiteral("beach.jpg"), QStringLiteral("beach_thumb.jpg")},
                                  {QStringLiteral("menu.pdf"), QString()}},
                                 style);
    };
    host.showMain = host.hideMain = host.closeMain = host.saveConfig = [] {};
    host.storedStyle = [] { return quaddle::TagStyle::None; };
    host.storeStyle = [](quaddle::TagStyle) {};
    quaddle::SuccessWindow success(host);
    success.showResults({{QStringLiteral("beach.jpg"), QStringLiteral("beach_001.jpg")}});
    QApplication::processEvents();
    success.grab().save(output.filePath(QStringLiteral("success-window.png")));

    quaddle::ConfigWindowHost configHost;
    configHost.refreshServerDisplay = configHost.showMain = [] {};
    quaddle::ConfigWindow configuration(main.config(), configHost);
    configuration.setAttribute(Qt::WA_DeleteOnClose, false);
    configuration.show();
    configuration.choosePage(quaddle::ConfigWindow::ServerManagement);
    QApplication::processEvents();
    configuration.grab().save(output.filePath(QStringLiteral("configuration-window.png")));
    return 0;
}
