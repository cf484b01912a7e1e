// Adds one upload to the history in the program directory given, as a program would at the
// end of a run: it says "ready" once loaded and writes when a line arrives, so a test can start
// many and let them write at the same moment.
#include "history/History.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char* argv[]) {
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return 2;
    std::cout << "ready" << std::endl;
    std::string go;
    std::getline(std::cin, go);
    quaddle::HistoryEntry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.serverName = QStringLiteral("Test server");
    entry.host = QStringLiteral("127.0.0.1");
    entry.protocol = QStringLiteral("FTP");
    entry.name = arguments[2];
    entry.url = QStringLiteral("http://127.0.0.1/") + entry.name;
    try {
        quaddle::HistoryEntries entries{entry};
        quaddle::History(arguments[1]).add(entries);
    } catch (const quaddle::Error& error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.message()));
        return 1;
    }
    return 0;
}
