#include "LocalFiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>

namespace quaddle::test {

namespace {

QFile& opened(QFile& file) {
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file;
}

void write(QFile& file, const char* data, qint64 size) {
    if (file.write(data, size) != size)
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

} // namespace

QString localFile(const QTemporaryDir& dir, const QString& name, const QByteArray& contents) {
    return writeFile(dir.filePath(name), contents);
}

QString writeFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    write(opened(file), contents.constData(), contents.size());
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sparseLocalFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QFile file(dir.filePath(name));
    if (!opened(file).resize(size))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QString randomLocalFile(const QTemporaryDir& dir, const QString& name, qint64 size) {
    QFile file(dir.filePath(name));
    opened(file);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                              block.size() / 4);
        write(file, block.constData(), std::min<qint64>(left, block.size()));
    }
    return file.fileName();
}

} // namespace quaddle::test
