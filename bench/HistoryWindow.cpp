// Opens the history window on a history of 100,000 uploads and searches it, as a user would,
// and prints the median and slowest times: opening (the store, the count, the window shown with
// its first rows drawn) and a search typed into its box (the count and the rows shown again).
#include "gui/HistoryWindow.h"

#include "BenchSupport.h"
#include "WidgetLookup.h"
#include "config/Config.h"
#include "history/History.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>

using namespace quaddle;

namespace {

constexpr int Uploads = 100000;
constexpr int Runs = 7;
constexpr double OpenGoalMs = 300;
constexpr double SearchGoalMs = 100;

void fillHistory(const QString& programDir) {
    History history(programDir);
    HistoryEntries entries;
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-365);
    for (int index = 0; index < Uploads; ++index) {
        HistoryEntry entry;
        entry.time = start.addSecs(index * 300);
        entry.serverName = index % 3 ? QStringLiteral("Home server") : QStringLiteral("Work");
        entry.host = QStringLiteral("www.example.org");
        entry.protocol = QStringLiteral("SFTP");
        entry.folder = QStringLiteral("/var/www/photos");
        entry.name = QStringLiteral("holiday-%1.jpg").arg(index, 6, 10, QLatin1Char('0'));
        entry.thumbnailName =
            QStringLiteral("holiday-%1_thumb.jpg").arg(index, 6, 10, QLatin1Char('0'));
        entry.url = QStringLiteral("https://www.example.org/photos/") + entry.name;
        entry.thumbnailUrl =
            QStringLiteral("https://www.example.org/photos/") + entry.thumbnailName;
        entry.size = 2000000 + index;
        entry.sha256 = QString(64, QLatin1Char('a'));
        entries.append(entry);
    }
    history.add(entries);
}

double milliseconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

void report(const char* what, const QList<double>& times, double goal) {
    const double median = bench::median(times);
    std::printf("%-40s median %7.1f ms   slowest %7.1f ms   goal < %.0f ms: %s\n", what, median,
                *std::max_element(times.begin(), times.end()), goal,
                median < goal ? "met" : "missed");
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir programDir;
    Config config;
    config.programDir = programDir.path() + QLatin1Char('/');
    fillHistory(config.programDir);

    QList<double> opening;
    QList<double> searching;
    const QStringList searches{QStringLiteral("holiday-04217"), QStringLiteral("work"),
                               QStringLiteral("99")};
    for (int run = 0; run < Runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        HistoryWindow window(config);
        window.show();
        // The first rows drawn, as the user sees them.
        window.grab();
        opening.append(milliseconds(timer));
        for (const QString& text : searches) {
            timer.restart();
            test::control<QLineEdit>(window, "searchEdit")->setText(text);
            window.grab();
            searching.append(milliseconds(timer));
        }
    }
    std::printf("history of %d uploads\n", Uploads);
    report("open the window", opening, OpenGoalMs);
    report("search as typed", searching, SearchGoalMs);
    return 0;
}
