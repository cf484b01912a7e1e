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
    quaddle::TCfg cfg;
    cfg.ProgramDir = arguments.at(1);
    if (!cfg.ProgramDir.endsWith(QLatin1Char('/')))
        cfg.ProgramDir += QLatin1Char('/');
    const qint32 server = cfg.StoreServer(
        QStringLiteral("127.0.0.1"), arguments.at(2), QStringLiteral("demo"),
        QStringLiteral("demo"), QString(), QString(),
        QStringLiteral("http://127.0.0.1:") + arguments.at(3) + QStringLiteral("$dir$file"),
        QStringLiteral("0"), -1, -1);
    cfg.ServerNames[server] = QStringLiteral("Local demo");
    cfg.SetSetting(QStringLiteral("Autoclose"), quaddle::TSettingValue::Boolean(arguments.contains(
                                                    QLatin1String("--autoclose"))));
    try {
        cfg.SaveConfig();
    } catch (const quaddle::TError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
