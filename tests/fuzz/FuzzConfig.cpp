// The configuration reader on arbitrary bytes as config.xml. Whatever it makes of them must
// save, and what it saved must load and save again to the same bytes. The master password
// offered is "fuzz", so seeds made with it reach the decryption of login data.
#include "FuzzSupport.h"
#include "config/Config.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

using namespace quaddle;

namespace {

// Offers the master password once per load; a second question means it was wrong.
class TOneTryDialogs : public fuzz::TQuietDialogs {
public:
    TMasterPassResult AskMasterPassword(TMasterPassMode, QString& password) override {
        if (Offered)
            return TMasterPassResult::Abort;
        Offered = true;
        password = QStringLiteral("fuzz");
        return TMasterPassResult::Ok;
    }
    bool Offered = false;
};

QByteArray LoadAndSave(const QString& dir, TOneTryDialogs& dialogs) {
    TCfg cfg;
    cfg.ProgramDir = dir;
    dialogs.Offered = false;
    cfg.LoadConfig(true);
    cfg.SaveConfig();
    QFile saved(cfg.ConfigPath());
    if (!saved.open(QIODevice::ReadOnly))
        std::abort();
    return saved.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureApplication();
    static TOneTryDialogs dialogs;
    InstallDialogs(&dialogs);
    static QTemporaryDir folder;
    const QString dir = folder.path() + QLatin1Char('/');
    QFile config(dir + QStringLiteral("config.xml"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        config.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    config.close();

    const QByteArray first = LoadAndSave(dir, dialogs);
    const QByteArray second = LoadAndSave(dir, dialogs);
    if (first != second)
        std::abort();
    return 0;
}
