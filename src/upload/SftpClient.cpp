#include "upload/SftpClient.h"

#include "upload/SendDigest.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <utility>

namespace quaddle {

using namespace sftp;

namespace {

// What the connection program said last is what explains a failed login or a refused host.
constexpr int KeptErrorLines = 20;

// Enough of what was printed to recognise it.
constexpr qsizetype ShownText = 200;

QByteArray utf8(const QString& path) {
    return path.toUtf8();
}

// What came where the SFTP server's first packet belonged, for the user: the text up to the
// binary that may follow it.
QString printedText(QByteArrayView bytes) {
    QString text = QString::fromUtf8(bytes.first(std::min(bytes.size(), ShownText)));
    const auto binary = std::find_if(text.cbegin(), text.cend(), [](QChar character) {
        return !character.isPrint() && !character.isSpace();
    });
    text.truncate(binary - text.cbegin());
    return QStringLiteral("The SSH connection printed text instead of starting SFTP: \"%1\". "
                          "A LocalCommand of the SSH configuration or a start-up file of the "
                          "server account prints it.")
        .arg(text.simplified());
}

} // namespace

SftpClient::SftpClient() {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &SftpClient::deadlinePassed);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &SftpClient::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this, &SftpClient::readErrors);
    connect(&m_process, &QProcess::finished, this, &SftpClient::ended);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended();
    });
}

SftpClient::~SftpClient() {
    stop();
}

bool SftpClient::start(const QStringList& commandLine) {
    if (commandLine.isEmpty())
        return broken(QStringLiteral("No program to connect with."));
    if (!environment.isEmpty())
        m_process.setProcessEnvironment(environment);
    m_process.start(commandLine.first(), commandLine.mid(1));
    if (!m_process.waitForStarted())
        return broken(m_process.errorString());
    m_process.write(initPacket());
    if (!waitFor([this] { return m_version.has_value(); }))
        return false;
    const std::optional<VersionReply> version =
        m_version->type == PacketType::Version ? parseVersion(m_version->payload) : std::nullopt;
    if (!version)
        return broken(QStringLiteral("The server did not answer as an SFTP server."));
    if (version->version < ProtocolVersion)
        return broken(QStringLiteral("The server speaks SFTP version %1, not %2.")
                          .arg(version->version)
                          .arg(ProtocolVersion));
    for (const auto& [name, data] : version->extensions)
        m_posixRename = m_posixRename || name == PosixRename;
    return true;
}

void SftpClient::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    broken(QStringLiteral("The connection is closed."));
}

std::optional<QString> SftpClient::realPath(const QString& path) {
    const std::optional<Packet> packet = reply(
        send("REALPATH", path, [&](quint32 id) { return realPathPacket(id, utf8(path)); }), path);
    if (!packet)
        return std::nullopt;
    if (packet->type == PacketType::Status) {
        statusFailure(*packet, path);
        return std::nullopt;
    }
    const std::optional<NameReply> name =
        packet->type == PacketType::Name ? parseName(packet->payload) : std::nullopt;
    if (!name || name->names.size() != 1) {
        unexpected(*packet, path);
        return std::nullopt;
    }
    return QString::fromUtf8(name->names.constFirst().name);
}

std::optional<bool> SftpClient::exists(const QString& path) {
    const std::optional<std::optional<FileAttributes>> attributes = lstat(path);
    if (!attributes)
        return std::nullopt;
    return attributes->has_value();
}

std::optional<qint64> SftpClient::fileSize(const QString& path) {
    const std::optional<std::optional<FileAttributes>> attributes = lstat(path);
    if (!attributes || !attributes->has_value() || !(*attributes)->size)
        return std::nullopt;
    return qint64(*(*attributes)->size);
}

std::optional<bool> SftpClient::isDirectory(const QString& path) {
    constexpr quint32 TypeBits = 0170000;
    constexpr quint32 DirectoryType = 0040000;
    const std::optional<std::optional<FileAttributes>> attributes = lstat(path);
    if (!attributes)
        return std::nullopt;
    const std::optional<quint32> mode =
        attributes->has_value() ? (*attributes)->permissions : std::nullopt;
    return mode && (*mode & TypeBits) == DirectoryType;
}

std::optional<std::optional<FileAttributes>> SftpClient::lstat(const QString& path) {
    const std::optional<Packet> packet =
        reply(send("LSTAT", path, [&](quint32 id) { return lstatPacket(id, utf8(path)); }), path);
    if (!packet)
        return std::nullopt;
    if (packet->type == PacketType::Attrs)
        if (const std::optional<AttrsReply> attributes = parseAttrs(packet->payload))
            return std::optional(attributes->attributes);
    if (packet->type != PacketType::Status) {
        unexpected(*packet, path);
        return std::nullopt;
    }
    const std::optional<StatusReply> status = parseStatus(packet->payload);
    if (status && status->code == NoSuchFile)
        return std::optional<FileAttributes>();
    statusFailure(*packet, path);
    return std::nullopt;
}

bool SftpClient::makeDir(const QString& path) {
    return expectOk(send("MKDIR", path, [&](quint32 id) { return mkdirPacket(id, utf8(path)); }),
                    path);
}

bool SftpClient::upload(const QString& localPath, const QString& remotePath) {
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("%1: %2").arg(localPath, file.errorString());
        return false;
    }
    const std::optional<Packet> packet = reply(
        send("OPEN", remotePath,
             [&](quint32 id) {
                 return openPacket(id, utf8(remotePath), OpenWrite | OpenCreate | OpenTruncate);
             }),
        remotePath);
    if (!packet)
        return false;
    if (packet->type == PacketType::Status)
        return statusFailure(*packet, remotePath);
    const std::optional<HandleReply> handle =
        packet->type == PacketType::Handle ? parseHandle(packet->payload) : std::nullopt;
    if (!handle)
        return unexpected(*packet, remotePath);
    if (onTraffic)
        onTraffic(QStringLiteral("--> WRITE %1 (%2 bytes)").arg(remotePath).arg(file.size()));
    const bool written = writeFile(file, handle->handle, remotePath);
    const QString writeError = m_error;
    // The handle is closed even after a failed write; closing can report the failure too.
    const bool closed = expectOk(
        send("CLOSE", remotePath, [&](quint32 id) { return closePacket(id, handle->handle); }),
        remotePath);
    if (!written)
        m_error = writeError;
    return written && closed;
}

bool SftpClient::writeFile(QFile& file, const QByteArray& handle, const QString& remotePath) {
    QHash<quint32, qint64> inFlight; // request id, bytes
    qint64 offset = 0;
    qint64 confirmed = 0;
    bool failed = false;
    const auto answered = [&] {
        for (auto it = inFlight.cbegin(); it != inFlight.cend(); ++it)
            if (m_replies.contains(it.key()))
                return true;
        return false;
    };
    for (;;) {
        while (!failed && inFlight.size() < WritesInFlight && !file.atEnd()) {
            const QByteArray block = file.read(WriteBlock);
            if (block.isEmpty()) {
                m_error = QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
                failed = true;
                break;
            }
            const quint32 id = send(nullptr, remotePath, [&](quint32 request) {
                return writePacket(request, handle, offset, block);
            });
            inFlight.insert(id, block.size());
            offset += block.size();
        }
        if (inFlight.isEmpty())
            return !failed;
        if (!waitFor(answered)) {
            m_error = QStringLiteral("%1: %2").arg(remotePath, m_error);
            return false;
        }
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            const std::optional<Packet> packet = m_replies.contains(it.key())
                                                     ? std::optional(m_replies.take(it.key()))
                                                     : std::nullopt;
            if (!packet) {
                ++it;
                continue;
            }
            const std::optional<StatusReply> status =
                packet->type == PacketType::Status ? parseStatus(packet->payload) : std::nullopt;
            if (status && status->code == Ok) {
                confirmed += it.value();
                if (onProgress)
                    onProgress(confirmed);
            } else if (!failed) {
                // Only the first failure is told; the rest are its consequences.
                failed = true;
                status ? statusFailure(*packet, remotePath) : unexpected(*packet, remotePath);
            }
            it = inFlight.erase(it);
        }
    }
}

QList<std::optional<bool>> SftpClient::existAll(const QStringList& paths) {
    QList<std::optional<bool>> found(paths.size());
    QHash<quint32, qsizetype> asked; // request id, index
    qsizetype next = 0;
    while (next < paths.size() || !asked.isEmpty()) {
        while (next < paths.size() && asked.size() < WritesInFlight) {
            const QString& path = paths[next];
            asked.insert(
                send("LSTAT", path, [&](quint32 id) { return lstatPacket(id, utf8(path)); }),
                next++);
        }
        if (!waitFor([&] {
                return std::any_of(asked.keyBegin(), asked.keyEnd(),
                                   [this](quint32 id) { return m_replies.contains(id); });
            }))
            return found;
        for (auto it = asked.begin(); it != asked.end();) {
            if (!m_replies.contains(it.key())) {
                ++it;
                continue;
            }
            const Packet packet = m_replies.take(it.key());
            logReply(packet);
            const std::optional<StatusReply> status =
                packet.type == PacketType::Status ? parseStatus(packet.payload) : std::nullopt;
            if (packet.type == PacketType::Attrs)
                found[it.value()] = true;
            else if (status && status->code == NoSuchFile)
                found[it.value()] = false;
            it = asked.erase(it);
        }
    }
    return found;
}

// Where one file of a batch stands.
struct SftpClient::Transfer {
    enum class Step { Opening, Writing, Closing, Renaming, SettingMode, Done };

    qsizetype index = 0;
    BatchFile job;
    QFile file;
    Step step = Step::Opening;
    QByteArray handle;
    // The OPEN, CLOSE, RENAME or SETSTAT waiting for its reply; 0 for none.
    quint32 request = 0;
    // The WRITEs waiting for their replies, with their sizes.
    QHash<quint32, qint64> writes;
    qint64 offset = 0;
    qint64 confirmed = 0;
    SendDigest digest;
    TransferResult result;

    bool done() const { return step == Step::Done; }
};

bool SftpClient::uploadAll(const QList<BatchFile>& files, const TransferEvents& events) {
    Transfers running;
    qsizetype next = 0;
    qsizetype told = 0;
    bool starting = true;
    int writesInFlight = 0;
    const auto answered = [&] {
        for (const auto& [index, transfer] : running) {
            if (transfer->request && m_replies.contains(transfer->request))
                return true;
            for (auto it = transfer->writes.keyBegin(); it != transfer->writes.keyEnd(); ++it)
                if (m_replies.contains(*it))
                    return true;
        }
        return false;
    };
    while (told < files.size()) {
        while (starting && next < files.size() && running.size() < FilesInFlight && !m_broken) {
            startTransfer(running, next, files[next], events);
            ++next;
        }
        for (auto& [index, transfer] : running)
            sendWrites(*transfer, writesInFlight);
        while (running.count(told) && running[told]->done()) {
            const std::unique_ptr<Transfer> transfer = std::move(running.extract(told).mapped());
            starting = events.finished(told++, transfer->result) && starting;
        }
        if (running.empty() && (!starting || next == files.size()))
            return true;
        // Every file on its way may have ended in one pass: the next ones start first.
        const bool awaited = std::any_of(running.begin(), running.end(), [](const auto& entry) {
            return entry.second->request || !entry.second->writes.isEmpty();
        });
        if (!awaited)
            continue;
        if (!waitFor(answered)) {
            tellAfterLoss(running, told, events);
            return false;
        }
        for (auto& [index, transfer] : running)
            takeReplies(*transfer, writesInFlight, events);
    }
    return true;
}

void SftpClient::tellAfterLoss(Transfers& running, qsizetype told, const TransferEvents& events) {
    // The first file still on its way fails with the reason, and the next operation tells the
    // rest; those after it that are already in their places are told as sent all the same.
    const auto first = running.find(told);
    if (first == running.end())
        return;
    if (!first->second->done())
        first->second->result.error =
            QStringLiteral("%1: %2").arg(first->second->job.remotePath, m_error);
    events.finished(told, first->second->result);
    for (const auto& [index, transfer] : running)
        if (index > told && transfer->done() && transfer->result.sent)
            events.finished(index, transfer->result);
}

void SftpClient::startTransfer(Transfers& running, qsizetype index, const BatchFile& file,
                               const TransferEvents& events) {
    auto transfer = std::make_unique<Transfer>();
    transfer->index = index;
    transfer->job = file;
    transfer->file.setFileName(file.localPath);
    events.started(index);
    if (!transfer->file.open(QIODevice::ReadOnly)) {
        transfer->result.error =
            QStringLiteral("%1: %2").arg(file.localPath, transfer->file.errorString());
        transfer->step = Transfer::Step::Done;
    } else {
        transfer->request = send("OPEN", file.remotePath, [&](quint32 id) {
            return openPacket(id, utf8(file.remotePath), OpenWrite | OpenCreate | OpenTruncate);
        });
    }
    running.emplace(index, std::move(transfer));
}

void SftpClient::sendWrites(Transfer& transfer, int& writesInFlight) {
    if (transfer.step != Transfer::Step::Writing)
        return;
    const bool failed = !transfer.result.error.isEmpty();
    while (!failed && writesInFlight < WritesInFlight && !transfer.file.atEnd()) {
        const QByteArray block = transfer.file.read(WriteBlock);
        if (block.isEmpty()) {
            transfer.result.error =
                QStringLiteral("%1: %2").arg(transfer.job.localPath, transfer.file.errorString());
            break;
        }
        transfer.digest.add(block);
        const quint32 id = send(nullptr, transfer.job.remotePath, [&](quint32 request) {
            return writePacket(request, transfer.handle, transfer.offset, block);
        });
        transfer.writes.insert(id, block.size());
        transfer.offset += block.size();
        ++writesInFlight;
    }
    // The CLOSE follows the last WRITE at once: the server answers the writes first.
    if (transfer.file.atEnd() || !transfer.result.error.isEmpty()) {
        transfer.step = Transfer::Step::Closing;
        transfer.request = send("CLOSE", transfer.job.remotePath,
                                [&](quint32 id) { return closePacket(id, transfer.handle); });
    }
}

void SftpClient::takeReplies(Transfer& transfer, int& writesInFlight,
                             const TransferEvents& events) {
    for (auto it = transfer.writes.begin(); it != transfer.writes.end();) {
        if (!m_replies.contains(it.key())) {
            ++it;
            continue;
        }
        const Packet packet = m_replies.take(it.key());
        const std::optional<StatusReply> status =
            packet.type == PacketType::Status ? parseStatus(packet.payload) : std::nullopt;
        if (status && status->code == Ok) {
            transfer.confirmed += it.value();
            events.progress(transfer.index, transfer.confirmed);
        } else if (transfer.result.error.isEmpty()) {
            // Only the first failure is told; the rest are its consequences.
            status ? statusFailure(packet, transfer.job.remotePath)
                   : unexpected(packet, transfer.job.remotePath);
            transfer.result.error = m_error;
        }
        it = transfer.writes.erase(it);
        --writesInFlight;
    }
    if (!transfer.request || !m_replies.contains(transfer.request))
        return;
    // A CLOSE counts once the writes before it are answered too.
    if (transfer.step == Transfer::Step::Closing && !transfer.writes.isEmpty())
        return;
    const Packet packet = m_replies.take(std::exchange(transfer.request, 0));
    logReply(packet);
    advance(transfer, packet);
}

void SftpClient::advance(Transfer& transfer, const Packet& reply) {
    using Step = Transfer::Step;
    const BatchFile& job = transfer.job;
    if (transfer.step == Step::Opening) {
        const std::optional<HandleReply> handle =
            reply.type == PacketType::Handle ? parseHandle(reply.payload) : std::nullopt;
        if (!handle) {
            reply.type == PacketType::Status ? statusFailure(reply, job.remotePath)
                                             : unexpected(reply, job.remotePath);
            return failTransfer(transfer);
        }
        transfer.handle = handle->handle;
        transfer.step = Step::Writing;
        if (onTraffic)
            onTraffic(QStringLiteral("--> WRITE %1 (%2 bytes)")
                          .arg(job.remotePath)
                          .arg(transfer.file.size()));
        return;
    }
    const std::optional<StatusReply> status =
        reply.type == PacketType::Status ? parseStatus(reply.payload) : std::nullopt;
    const bool ok = status && status->code == Ok;
    if (!ok && transfer.result.error.isEmpty()) {
        status ? statusFailure(
                     reply,
                     transfer.step == Step::Renaming
                         ? QStringLiteral("%1 (replacing %2)").arg(job.remotePath, job.finalPath)
                         : job.remotePath)
               : unexpected(reply, job.remotePath);
        if (transfer.step == Step::SettingMode) {
            transfer.result.modeError = m_error;
            transfer.result.sent = true;
            transfer.step = Step::Done;
            return;
        }
        return failTransfer(transfer);
    }
    if (!transfer.result.error.isEmpty()) {
        transfer.step = Step::Done;
        return;
    }
    // Closed without error: every WRITE was confirmed.
    if (transfer.step == Step::Closing)
        transfer.result.sha256 = transfer.digest.finish();
    const QString placed = job.finalPath.isEmpty() ? job.remotePath : job.finalPath;
    if (transfer.step == Step::Closing && !job.finalPath.isEmpty()) {
        if (!m_posixRename) {
            m_error =
                QStringLiteral("%1 cannot replace %2 in one step: the server does not offer %3.")
                    .arg(job.remotePath, job.finalPath, QString::fromLatin1(PosixRename));
            return failTransfer(transfer);
        }
        transfer.step = Step::Renaming;
        transfer.request =
            send("POSIX-RENAME", QStringLiteral("%1 %2").arg(job.remotePath, job.finalPath),
                 [&](quint32 id) {
                     return posixRenamePacket(id, utf8(job.remotePath), utf8(job.finalPath));
                 });
    } else if (transfer.step != Step::SettingMode && job.mode) {
        FileAttributes attributes;
        attributes.permissions = *job.mode;
        transfer.step = Step::SettingMode;
        transfer.request =
            send("SETSTAT", QStringLiteral("%1 %2").arg(placed).arg(*job.mode, 0, 8),
                 [&](quint32 id) { return setstatPacket(id, utf8(placed), attributes); });
    } else {
        transfer.result.sent = true;
        transfer.step = Step::Done;
    }
}

void SftpClient::failTransfer(Transfer& transfer) {
    transfer.result.error = m_error;
    transfer.step = Transfer::Step::Done;
}

bool SftpClient::setPermissions(const QString& path, quint32 mode) {
    FileAttributes attributes;
    attributes.permissions = mode;
    return expectOk(send("SETSTAT", QStringLiteral("%1 %2").arg(path).arg(mode, 0, 8),
                         [&](quint32 id) { return setstatPacket(id, utf8(path), attributes); }),
                    path);
}

bool SftpClient::rename(const QString& from, const QString& to) {
    return expectOk(send("RENAME", QStringLiteral("%1 %2").arg(from, to),
                         [&](quint32 id) { return renamePacket(id, utf8(from), utf8(to)); }),
                    QStringLiteral("%1 (renaming to %2)").arg(from, to));
}

bool SftpClient::replace(const QString& from, const QString& to) {
    if (!m_posixRename) {
        m_error = QStringLiteral("%1 cannot replace %2 in one step: the server does not offer %3.")
                      .arg(from, to, QString::fromLatin1(PosixRename));
        return false;
    }
    return expectOk(send("POSIX-RENAME", QStringLiteral("%1 %2").arg(from, to),
                         [&](quint32 id) { return posixRenamePacket(id, utf8(from), utf8(to)); }),
                    QStringLiteral("%1 (replacing %2)").arg(from, to));
}

bool SftpClient::remove(const QString& path) {
    return expectOk(send("REMOVE", path, [&](quint32 id) { return removePacket(id, utf8(path)); }),
                    path);
}

quint32 SftpClient::send(const char* what, const QString& subject,
                         const std::function<QByteArray(quint32 id)>& request) {
    const quint32 id = m_nextId++;
    if (m_broken)
        return id;
    m_outstanding.insert(id);
    if (what && onTraffic)
        onTraffic(QStringLiteral("--> %1 %2").arg(QLatin1String(what), subject));
    m_process.write(request(id));
    return id;
}

std::optional<Packet> SftpClient::reply(quint32 id, const QString& subject) {
    if (!waitFor([this, id] { return m_replies.contains(id); })) {
        m_error = QStringLiteral("%1: %2").arg(subject, m_error);
        return std::nullopt;
    }
    Packet packet = m_replies.take(id);
    logReply(packet);
    return packet;
}

void SftpClient::logReply(const Packet& packet) {
    if (!onTraffic)
        return;
    QString line = QStringLiteral("<-- ");
    switch (packet.type) {
    case PacketType::Status:
        if (const std::optional<StatusReply> status = parseStatus(packet.payload))
            line += status->code == Ok ? QStringLiteral("STATUS OK")
                                       : QStringLiteral("STATUS ") + statusText(status->code);
        break;
    case PacketType::Handle:
        line += QStringLiteral("HANDLE");
        break;
    case PacketType::Attrs:
        line += QStringLiteral("ATTRS");
        break;
    case PacketType::Name:
        line += QStringLiteral("NAME");
        break;
    default:
        line += QString::number(int(packet.type));
    }
    onTraffic(line);
}

bool SftpClient::expectOk(quint32 id, const QString& path) {
    const std::optional<Packet> packet = reply(id, path);
    if (!packet)
        return false;
    if (packet->type != PacketType::Status)
        return unexpected(*packet, path);
    const std::optional<StatusReply> status = parseStatus(packet->payload);
    return (status && status->code == Ok) || statusFailure(*packet, path);
}

bool SftpClient::statusFailure(const Packet& packet, const QString& path) {
    const std::optional<StatusReply> status = parseStatus(packet.payload);
    if (!status)
        return unexpected(packet, path);
    const QString reason = statusText(status->code);
    m_error = QStringLiteral("%1: %2").arg(path, reason);
    // OpenSSH's messages mostly repeat the code's meaning; others add to it.
    if (!status->message.isEmpty() && status->message != reason)
        m_error += QStringLiteral(" (%1)").arg(status->message);
    return false;
}

bool SftpClient::unexpected(const Packet& packet, const QString& path) {
    return broken(QStringLiteral("The server answered a request about %1 with a packet it "
                                 "should not send (type %2).")
                      .arg(path)
                      .arg(int(packet.type)));
}

bool SftpClient::waitFor(const std::function<bool()>& done) {
    if (done())
        return true;
    if (m_broken)
        return false;
    QEventLoop loop;
    QEventLoop* const outerLoop = m_waitLoop;
    const std::function<bool()>* const outerDone = m_waitDone;
    m_waitLoop = &loop;
    m_waitDone = &done;
    m_sinceReply.start();
    if (timeoutMs > 0)
        m_deadline.start(timeoutMs);
    // Quitting the application ends the wait like a time-out.
    const QMetaObject::Connection quitting = connect(
        QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(quitting);
    m_deadline.stop();
    m_waitLoop = outerLoop;
    m_waitDone = outerDone;
    if (done())
        return true;
    if (!m_broken)
        broken(QStringLiteral("The program is closing."));
    return false;
}

void SftpClient::holdDeadline(bool held) {
    m_deadlineHeld = held;
    m_sinceReply.start();
}

void SftpClient::wake() {
    if (m_waitLoop && (m_broken || (*m_waitDone)()))
        m_waitLoop->quit();
}

void SftpClient::readOutput() {
    m_reader.append(m_process.readAllStandardOutput());
    if (!m_version && !canStartVersion(m_reader.unread())) {
        broken(printedText(m_reader.unread()));
        return;
    }
    if (takePackets())
        wake();
}

bool SftpClient::takePackets() {
    while (std::optional<Packet> packet = m_reader.next()) {
        // Only a whole packet shows the server is alive: one trickled byte by byte is not.
        m_sinceReply.start();
        if (packet->type == PacketType::Version) {
            m_version = std::move(packet);
            continue;
        }
        const std::optional<quint32> id = replyId(packet->payload);
        if (!id)
            return broken(QStringLiteral("The server sent a reply without a request number."));
        if (!m_outstanding.remove(*id))
            return broken(QStringLiteral("The server sent a reply to request %1, which was not "
                                         "asked or was answered already.")
                              .arg(*id));
        m_replies.insert(*id, std::move(*packet));
    }
    return m_reader.violation().isEmpty() || broken(m_reader.violation());
}

void SftpClient::readErrors() {
    m_partialErrorLine += m_process.readAllStandardError();
    qsizetype end;
    while ((end = m_partialErrorLine.indexOf('\n')) >= 0) {
        const QString line = QString::fromLocal8Bit(m_partialErrorLine.left(end)).trimmed();
        m_partialErrorLine.remove(0, end + 1);
        if (!line.isEmpty())
            m_errorLines.append(line);
        if (m_errorLines.size() > KeptErrorLines)
            m_errorLines.removeFirst();
    }
}

void SftpClient::ended() {
    readOutput();
    readErrors();
    if (!m_partialErrorLine.trimmed().isEmpty())
        m_errorLines.append(QString::fromLocal8Bit(m_partialErrorLine).trimmed());
    m_partialErrorLine.clear();
    const QString how = m_process.error() == QProcess::FailedToStart
                            ? QStringLiteral("%1 could not be started: %2")
                                  .arg(m_process.program(), m_process.errorString())
                            : QStringLiteral("The connection ended.");
    broken(m_errorLines.isEmpty() ? how
                                  : how + QLatin1Char(' ') + m_errorLines.join(QLatin1Char(' ')));
}

void SftpClient::deadlinePassed() {
    // Replies move the deadline on; it is checked here rather than restarting the timer for
    // every reply.
    const qint64 quiet = m_deadlineHeld ? 0 : m_sinceReply.elapsed();
    if (quiet < timeoutMs) {
        m_deadline.start(int(timeoutMs - quiet));
        return;
    }
    broken(QStringLiteral("The server did not answer within %1 seconds.").arg(timeoutMs / 1000.0));
}

bool SftpClient::broken(const QString& reason) {
    if (m_broken)
        return false;
    m_broken = true;
    m_error = reason;
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(2000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    wake();
    return false;
}

} // namespace quaddle
