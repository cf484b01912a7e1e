// Runs a fuzz target once over every file of the folders given, so that CI replays the seeds
// and every past finding without libFuzzer.
#include "FuzzSupport.h"

#include <QDirIterator>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        QDirIterator files(QString::fromLocal8Bit(argv[i]), QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName()));
                return 1;
            }
            const QByteArray data = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()),
                                   size_t(data.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs run\n", inputs);
    // An empty or mistyped corpus folder must not pass as a clean run.
    return inputs > 0 ? 0 : 1;
}
