#include "platform/PrivateFile.h"

#include "platform/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaddle {

namespace {

QString systemMessage(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool writeAll(int fd, const QByteArray& contents) {
    const char* data = contents.constData();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

void writePrivateFile(const QString& path, const QByteArray& contents) {
    const QString target = QFileInfo(path).absoluteFilePath();

    // mkstemp creates the file with mode 0600.
    QByteArray temporary = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        throw Error(systemMessage(errno));
    const bool written = writeAll(fd, contents) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (!written || !closed) {
        ::unlink(temporary.constData());
        throw Error(systemMessage(written ? closeError : writeError));
    }
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        throw Error(systemMessage(renameError));
    }
}

bool makePrivateDir(const QString& path) {
    const QString dir = QDir::cleanPath(path);
    if (QFileInfo(dir).isDir())
        return true;
    const QString parent = QFileInfo(dir).path();
    if (!QDir().mkpath(parent))
        return false;
    return ::mkdir(QFile::encodeName(dir).constData(), 0700) == 0 || QFileInfo(dir).isDir();
}

QString privateTempDir() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString dir = QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()
                            ? runtime + QStringLiteral("/quaddle")
                            : QDir::tempPath() + QStringLiteral("/quaddle-%1").arg(::geteuid());
    const QByteArray name = QFile::encodeName(dir);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        throw Error(dir + QStringLiteral(": ") + systemMessage(errno));
    // In a shared temporary folder someone else may have made it first, or put a link there.
    struct stat status = {};
    if (::lstat(name.constData(), &status) != 0)
        throw Error(dir + QStringLiteral(": ") + systemMessage(errno));
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0)
        throw Error(dir + QStringLiteral(" is not a folder that only you may enter."));
    return dir;
}

} // namespace quaddle
