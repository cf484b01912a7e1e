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
class OneTryDialogs : public fuzz::QuietDialogs {
public:
    MasterPasswordResult askMasterPassword(MasterPasswordMode, QString& password) override {
        if (offered)
            return MasterPasswordResult::Abort;
        offered = true;
        password = QStringLiteral("fuzz");
        return MasterPasswordResult::Ok;
    }
    bool offered = false;
};

QByteArray loadAndSave(const QString& dir, OneTryDialogs& dialogs) {
    Config config;
    config.programDir = dir;
    dialogs.offered = false;
    config.loadConfig(true);
    config.saveConfig();
    QFile saved(config.configPath());
    if (!saved.open(QIODevice::ReadOnly))
        std::abort();
    return saved.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ensureApplication();
    static OneTryDialogs dialogs;
    installDialogs(&dialogs);
    static QTemporaryDir folder;
    const QString dir = folder.path() + QLatin1Char('/');
    QFile config(dir + QStringLiteral("config.xml"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        config.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    config.close();

    const QByteArray first = loadAndSave(dir, dialogs);
    const QByteArray second = loadAndSave(dir, dialogs);
    if (first != second)
        std::abort();
    return 0;
}
