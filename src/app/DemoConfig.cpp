// Writes the demo's configuration: one server "Local demo" on 127.0.0.1, whose URLs point at
// the demo's HTTP server. A separate tool so the program itself needs no demo switch.
// Usage: quaddle-demo-config <program dir> <ftp port> <http port> [--autoclose]
#include "config/Config.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: quaddle-demo-config <program dir> <ftp port> <http port> "
                             "[--autoclose]\n");
        return 2;
    }
    quaddle::Config config;
    config.programDir = arguments.at(1);
    if (!config.programDir.endsWith(QLatin1Char('/')))
        config.programDir += QLatin1Char('/');
    const qint32 server = config.storeServer(
        QStringLiteral("127.0.0.1"), arguments.at(2), QStringLiteral("demo"),
        QStringLiteral("demo"), QString(), QString(),
        QStringLiteral("http://127.0.0.1:") + arguments.at(3) + QStringLiteral("$dir$file"),
        QStringLiteral("0"), -1, -1);
    config.serverNames[server] = QStringLiteral("Local demo");
    config.setSetting(
        QStringLiteral("Autoclose"),
        quaddle::SettingValue::boolean(arguments.contains(QLatin1String("--autoclose"))));
    try {
        config.saveConfig();
    } catch (const quaddle::Error& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
