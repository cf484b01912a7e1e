// The command line and its server selector on arbitrary words (the input split at NUL bytes),
// against a configuration whose shape the first byte chooses. Whatever the selector picks
// must exist: a server that is not deleted, a folder of it that is not blank.
#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "config/Config.h"

#include <cstdlib>

using namespace quaddle;

namespace {

// Four servers with up to three folders each; bit n of shape deletes server n, and the
// next bits blank one folder.
TCfg ConfigOfShape(uint8_t shape) {
    TCfg cfg;
    for (int server = 0; server < 4; ++server) {
        cfg.StoreServer(QStringLiteral("host%1").arg(server), {}, {}, {}, {}, {}, {}, {}, -1, -1);
        for (int folder = 0; folder < server; ++folder)
            cfg.SetFolder(-1, server, QStringLiteral("/f%1").arg(folder));
    }
    if (shape & 0x10)
        cfg.DeleteFolder(0, 3);
    if (shape & 0x20)
        cfg.DeleteFolder(1, 2);
    for (int server = 0; server < 4; ++server)
        if (shape & (1 << server))
            cfg.DeleteServer(server);
    return cfg;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const TCfg cfg = ConfigOfShape(data[0]);
    QStringList words;
    const QByteArray arguments =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    for (const QByteArray& word : arguments.split('\0'))
        words.append(QString::fromUtf8(word));

    const TCommandLine line = ParseCommandLine(words);
    if (line.Files.contains(QString()))
        std::abort();
    if (!line.Selector)
        return 0;
    const std::optional<TServerSelection> picked = ResolveSelector(*line.Selector, cfg);
    if (!picked)
        return 0;
    if (!cfg.ServerExists(picked->Server))
        std::abort();
    if (picked->Folder) {
        const QStringList& folders = cfg.GetFolders(picked->Server);
        if (*picked->Folder < 0 || *picked->Folder >= folders.size() ||
            folders[*picked->Folder].isEmpty())
            std::abort();
    }
    return 0;
}
