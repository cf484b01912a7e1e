// Renders the first start, the main window, the success window, the server manager with its
// address preview and a server test's report, and the history offscreen into PNG files, so the
// pictures in the README show the windows as they are. Usage: quaddle-screenshots <output dir>
#include "app/AppDialogs.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"
#include "configwindow/ServerTestDialog.h"
#include "gui/HistoryWindow.h"
#include "gui/SuccessWindow.h"
#include "history/History.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// The report of a test of the server shown, every step passed.
quaddle::ProbeReport testReport() {
    using quaddle::ProbeOutcome;
    using quaddle::ProbeStep;
    quaddle::ProbeReport report;
    report.remotePath = QStringLiteral("/htdocs/pictures/quaddle-test-3f2a9c.txt");
    report.url = QStringLiteral("http://www.example.org/pictures/quaddle-test-3f2a9c.txt");
    report.steps = {
        {ProbeStep::Reached, ProbeOutcome::Passed, QStringLiteral("www.example.org, port 21")},
        {ProbeStep::LoggedIn, ProbeOutcome::Passed, QStringLiteral("me")},
        {ProbeStep::CanWrite, ProbeOutcome::Passed, report.remotePath},
        {ProbeStep::Serves, ProbeOutcome::Passed, report.url}};
    return report;
}

quaddle::HistoryEntries historyEntries() {
    quaddle::HistoryEntries entries;
    const QDateTime start(QDate(2026, 6, 14), QTime(18, 5), Qt::UTC);
    int minutes = 0;
    for (const char* name : {"menu.pdf", "sunset.jpg", "beach.jpg", "notes.txt", "harbour.png"}) {
        quaddle::HistoryEntry entry;
        entry.time = start.addSecs(60 * (minutes += 7));
        entry.serverName = QStringLiteral("My website");
        entry.host = QStringLiteral("www.example.org");
        entry.protocol = QStringLiteral("FTP");
        entry.folder = QStringLiteral("/htdocs/pictures");
        entry.name = QString::fromLatin1(name);
        entry.url = QStringLiteral("http://www.example.org/pictures/") + entry.name;
        entry.size = 48213 * minutes;
        entries.append(entry);
    }
    return entries;
}

} // namespace

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
    configuration.showServer(0);
    QApplication::processEvents();
    configuration.grab().save(output.filePath(QStringLiteral("configuration-window.png")));

    quaddle::ServerTestDialog test(main.config(), 0, &configuration);
    test.showReport(testReport());
    test.show();
    QApplication::processEvents();
    test.grab().save(output.filePath(QStringLiteral("server-test.png")));

    {
        quaddle::History history(main.config().programDir);
        quaddle::HistoryEntries entries = historyEntries();
        history.add(entries);
    }
    quaddle::HistoryWindow historyWindow(main.config());
    historyWindow.show();
    QApplication::processEvents();
    historyWindow.grab().save(output.filePath(QStringLiteral("history-window.png")));
    return 0;
}
