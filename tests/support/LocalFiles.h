#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace quaddle::test {

// Files to upload, made in a test's temporary folder. The test program ends when one cannot
// be written: every later check would be about nothing.
QString localFile(const QTemporaryDir& dir, const QString& name, const QByteArray& contents);
// The same at any path; returns path.
QString writeFile(const QString& path, const QByteArray& contents);
// A file's contents; empty when it cannot be read.
QByteArray readFile(const QString& path);
// size zero bytes that take no room on the disk, for tests that need only the size.
QString sparseLocalFile(const QTemporaryDir& dir, const QString& name, qint64 size);
// size random bytes, written a block at a time so that large files take little memory.
QString randomLocalFile(const QTemporaryDir& dir, const QString& name, qint64 size);

} // namespace quaddle::test
