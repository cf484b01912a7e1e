// The command line and its server selector on arbitrary words (the input split at NUL bytes),
// against a configuration whose shape the first byte chooses. Whatever the selector picks
// must exist: a server that is not deleted, a folder of it that is not blank.
#include "FuzzSupport.h"
#include "config/CommandLine.h"
#include "config/Config.h"

#include <cstdlib>

using namespace quaddle;

namespace {

// Four servers with up to three folders each; bit n of shape deletes server n, and the
// next bits blank one folder.
Config configOfShape(uint8_t shape) {
    Config config;
    for (int server = 0; server < 4; ++server) {
        config.storeServer(QStringLiteral("host%1").arg(server), {}, {}, {}, {}, {}, {}, {}, -1,
                           -1);
        for (int folder = 0; folder < server; ++folder)
            config.setFolder(-1, server, QStringLiteral("/f%1").arg(folder));
    }
    if (shape & 0x10)
        config.deleteFolder(0, 3);
    if (shape & 0x20)
        config.deleteFolder(1, 2);
    for (int server = 0; server < 4; ++server)
        if (shape & (1 << server))
            config.deleteServer(server);
    return config;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const Config config = configOfShape(data[0]);
    QStringList words;
    const QByteArray arguments =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (const QByteArray& word : arguments.split('\0'))
        words.append(QString::fromUtf8(word));

    const CommandLine line = parseCommandLine(words);
    if (line.files.contains(QString()))
        std::abort();
    if (!line.selector)
        return 0;
    const std::optional<ServerSelection> picked = resolveSelector(*line.selector, config);
    if (!picked)
        return 0;
    if (!config.serverExists(picked->server))
        std::abort();
    if (picked->folder) {
        const QStringList& folders = config.folders(picked->server);
        if (*picked->folder < 0 || *picked->folder >= folders.size() ||
            folders[*picked->folder].isEmpty())
            std::abort();
    }
    return 0;
}
