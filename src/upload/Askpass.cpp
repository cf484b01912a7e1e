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

// Over the socket the helper sends the prompt, the session one byte: Accepted followed by the
// answer, or Declined. Texts go as UTF-8 after their length in four bytes, most significant
// first.

namespace quaddle {

namespace {

constexpr char Accepted = 'Y';
constexpr char Declined = 'N';
// Prompts and answers are a line or a few; anything longer is broken.
constexpr quint32 MaxText = 64 * 1024;
constexpr qsizetype LengthSize = 4;

QByteArray lengthOf(qsizetype size) {
    QByteArray bytes(LengthSize, Qt::Uninitialized);
    qToBigEndian(quint32(size), bytes.data());
    return bytes;
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
std::optional<QByteArray> askSession(int fd, const QString& prompt) {
    const QByteArray text = prompt.toUtf8();
    const QByteArray request = lengthOf(text.size()) + text;
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

AskpassServer::AskpassServer(Answer answer)
    : m_answer(std::move(answer)), m_server(new QLocalServer(this)) {
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
    char length[LengthSize];
    if (socket->peek(length, LengthSize) < LengthSize)
        return;
    const quint32 size = qFromBigEndian<quint32>(length);
    if (size > MaxText) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < LengthSize + qint64(size))
        return;
    socket->skip(LengthSize);
    // Once asked, the socket has nothing more to say; a second prompt is not read.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const QString prompt = QString::fromUtf8(socket->read(size));
    std::optional<QString> reply = m_answer(prompt);
    QByteArray message(1, Declined);
    if (reply) {
        QByteArray text = reply->toUtf8();
        message = QByteArray(1, Accepted) + lengthOf(text.size()) + text;
        wipe(text);
        wipe(*reply);
    }
    socket->write(message);
    wipe(message);
    socket->disconnectFromServer();
}

int runAskpass(const QString& prompt, const QString& socketPath) {
    const int fd = connectTo(socketPath);
    if (fd < 0) {
        std::fprintf(stderr, "Cannot reach the program's session at %s: %s\n",
                     qPrintable(socketPath), std::strerror(errno));
        return EXIT_FAILURE;
    }
    std::optional<QByteArray> answer = askSession(fd, prompt);
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
    return runAskpass(QString::fromLocal8Bit(argv[1]), QFile::decodeName(socketPath));
}

} // namespace quaddle
