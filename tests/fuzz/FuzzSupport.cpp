#include "FuzzSupport.h"

#include <QApplication>
#include <QTemporaryDir>

namespace quaddle::fuzz {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    // Data and thumbnails go there too, so that runs leave nothing behind.
    qputenv("XDG_DATA_HOME", settings.path().toLocal8Bit());
    qputenv("TMPDIR", settings.path().toLocal8Bit());
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    static QuietDialogs dialogs;
    installDialogs(&dialogs);
}

QList<QByteArrayView> pieces(QByteArrayView data, uint8_t seed) {
    QList<QByteArrayView> pieces;
    uint32_t state = seed;
    for (qsizetype at = 0; at < data.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype size = seed == 0 ? 1 : 1 + qsizetype((state >> 16) % seed);
        pieces.append(data.sliced(at, std::min(size, data.size() - at)));
        at += size;
    }
    return pieces;
}

} // namespace quaddle::fuzz
