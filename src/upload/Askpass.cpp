#include "upload/Askpass.h"

#include "platform/Error.h"
#include "platform/PrivateFile.h"
#include "platform/ProcessProtection.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QtEndian>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// Over the socket the helper sends the prompt and ssh's hint for it, the session one byte:
// Accepted followed by the answer, or Declined. Texts go as UTF-8 after their length in four
// bytes, most significant first.

namespace quaddle {

namespace {

constexpr char Accepted = 'Y';
constexpr char Declined = 'N';
// Prompts and answers are a line or a few; anything longer is broken.
constexpr quint32 MaxText = 64 * 1024;
constexpr qsizetype LengthSize = 4;
// Deeper than any chain of ssh, ProxyJump and helper; the walk up ends there.
constexpr int MaxGenerations = 32;

QByteArray lengthOf(qsizetype size) {
    QByteArray bytes(LengthSize, Qt::Uninitialized);
    qToBigEndian(quint32(size), bytes.data());
    return bytes;
}

QByteArray withLength(const QByteArray& text) {
    return lengthOf(text.size()) + text;
}

// The text at offset of data, moving offset past it; nothing while it is incomplete or when it
// is too long, which sets tooLong.
std::optional<QByteArray> takeText(const QByteArray& data, qsizetype& offset, bool& tooLong) {
    if (data.size() - offset < LengthSize)
        return std::nullopt;
    const quint32 size = qFromBigEndian<quint32>(data.constData() + offset);
    tooLong = size > MaxText;
    if (tooLong || data.size() - offset - LengthSize < qsizetype(size))
        return std::nullopt;
    offset += LengthSize + size;
    return data.mid(offset - size, size);
}

// The parent of a process, from /proc/PID/stat ("PID (NAME) STATE PPID ..."; the name may hold
// spaces and parentheses); 0 when it is gone.
qint64 parentOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

QString randomName() {
    return QStringLiteral("askpass-%1%2")
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

// The helper's side uses the system's calls directly: it runs before any application object
// exists, and it knows every copy of the answer it holds.
bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size) {
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

int connectTo(const QString& socketPath) {
    const QByteArray name = QFile::encodeName(socketPath);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (name.size() >= qsizetype(sizeof(address.sun_path)))
        return -1;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int reason = errno;
        ::close(fd);
        errno = reason;
        return -1;
    }
    return fd;
}

// The answer, newline-terminated, or nothing when declined or the line broke.
std::optional<QByteArray> askSession(int fd, const QString& prompt, const QString& hint) {
    const QByteArray request = withLength(prompt.toUtf8()) + withLength(hint.toUtf8());
    char verdict = Declined;
    if (!writeAll(fd, request.constData(), size_t(request.size())) || !readAll(fd, &verdict, 1) ||
        verdict != Accepted)
        return std::nullopt;
    char length[LengthSize];
    if (!readAll(fd, length, LengthSize) || qFromBigEndian<quint32>(length) > MaxText)
        return std::nullopt;
    QByteArray answer(qFromBigEndian<quint32>(length) + 1, '\n');
    if (!readAll(fd, answer.data(), size_t(answer.size() - 1))) {
        wipe(answer);
        return std::nullopt;
    }
    return answer;
}

} // namespace

AskpassServer::AskpassServer(Answer answer, ConnectionProgram connectionProgram)
    : m_answer(std::move(answer)), m_connectionProgram(std::move(connectionProgram)),
      m_server(new QLocalServer(this)) {
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &AskpassServer::accept);
}

AskpassServer::~AskpassServer() = default;

bool AskpassServer::listen() {
    try {
        if (m_server->listen(privateTempDir() + QLatin1Char('/') + randomName()))
            return true;
        m_error = m_server->errorString();
    } catch (const Error& error) {
        m_error = error.message();
    }
    return false;
}

QString AskpassServer::socketPath() const {
    return m_server->fullServerName();
}

void AskpassServer::close() {
    m_server->close();
}

QProcessEnvironment AskpassServer::environment(const QString& program,
                                               QProcessEnvironment base) const {
    base.insert(QStringLiteral("SSH_ASKPASS"), program);
    base.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    base.insert(QString::fromLatin1(AskpassSocketVariable), socketPath());
    return base;
}

void AskpassServer::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
        answer(socket);
    }
}

void AskpassServer::answer(QLocalSocket* socket) {
    const QByteArray request = socket->peek(socket->bytesAvailable());
    qsizetype offset = 0;
    bool tooLong = false;
    const std::optional<QByteArray> prompt = takeText(request, offset, tooLong);
    const std::optional<QByteArray> hint =
        prompt ? takeText(request, offset, tooLong) : std::nullopt;
    if (tooLong) {
        socket->abort();
        return;
    }
    if (!hint)
        return;
    socket->skip(offset);
    // Once asked, the socket has nothing more to say; a second prompt is not read.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const std::optional<int> generation = generationOf(*socket);
    std::optional<QString> reply;
    if (generation)
        reply = m_answer({QString::fromUtf8(*prompt), QString::fromUtf8(*hint), *generation == 1});
    QByteArray message(1, Declined);
    if (reply) {
        QByteArray text = reply->toUtf8();
        message = QByteArray(1, Accepted) + withLength(text);
        wipe(text);
        wipe(*reply);
    }
    socket->write(message);
    wipe(message);
    socket->disconnectFromServer();
}

std::optional<int> AskpassServer::generationOf(const QLocalSocket& socket) const {
    const qint64 root = m_connectionProgram ? m_connectionProgram() : 0;
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (root <= 0 ||
        ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return std::nullopt;
    qint64 pid = peer.pid;
    for (int generation = 1; generation <= MaxGenerations && pid > 1; ++generation) {
        pid = parentOf(pid);
        if (pid == root)
            return generation;
    }
    return std::nullopt;
}

int runAskpass(const QString& prompt, const QString& hint, const QString& socketPath) {
    const int fd = connectTo(socketPath);
    if (fd < 0) {
        std::fprintf(stderr, "Cannot reach the program's session at %s: %s\n",
                     qPrintable(socketPath), std::strerror(errno));
        return EXIT_FAILURE;
    }
    std::optional<QByteArray> answer = askSession(fd, prompt, hint);
    ::close(fd);
    if (!answer)
        return EXIT_FAILURE;
    const bool written = writeAll(STDOUT_FILENO, answer->constData(), size_t(answer->size()));
    wipe(*answer);
    return written ? EXIT_SUCCESS : EXIT_FAILURE;
}

std::optional<int> runAskpassWhenAsked(int argc, char** argv) {
    const char* socketPath = std::getenv(AskpassSocketVariable);
    if (argc != 2 || socketPath == nullptr || *socketPath == '\0')
        return std::nullopt;
    keepSecretsOutOfCoreDumps();
    return runAskpass(QString::fromLocal8Bit(argv[1]),
                      QString::fromLocal8Bit(qgetenv("SSH_ASKPASS_PROMPT")),
                      QFile::decodeName(socketPath));
}

} // namespace quaddle
