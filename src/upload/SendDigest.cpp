#include "upload/SendDigest.h"

#include <QFile>

namespace quaddle {

namespace {

QString hexDigest(sha256_ctx& context) {
    QByteArray digest(SHA256_DIGEST_SIZE, Qt::Uninitialized);
    sha256_digest(&context, SHA256_DIGEST_SIZE, reinterpret_cast<uint8_t*>(digest.data()));
    return QString::fromLatin1(digest.toHex());
}

void update(sha256_ctx& context, const QByteArray& block) {
    sha256_update(&context, size_t(block.size()), reinterpret_cast<const uint8_t*>(block.data()));
}

} // namespace

SendDigest::~SendDigest() {
    if (!m_worker.joinable())
        return;
    {
        const std::scoped_lock locker(m_lock);
        m_pending.clear();
        m_ending = true;
    }
    m_changed.notify_all();
    m_worker.join();
}

void SendDigest::add(const QByteArray& block) {
    if (block.isEmpty())
        return;
    if (!m_worker.joinable()) {
        sha256_init(&m_context);
        m_worker = std::thread([this] { hashPending(); });
    }
    std::unique_lock locker(m_lock);
    m_changed.wait(locker, [this] { return m_pendingBytes < MaxPending; });
    m_pending.push_back(block);
    m_pendingBytes += block.size();
    locker.unlock();
    m_changed.notify_all();
}

QString SendDigest::finish() {
    if (!m_worker.joinable()) {
        sha256_init(&m_context);
        return hexDigest(m_context);
    }
    {
        const std::scoped_lock locker(m_lock);
        m_ending = true;
    }
    m_changed.notify_all();
    m_worker.join();
    return hexDigest(m_context);
}

void SendDigest::hashPending() {
    for (;;) {
        std::unique_lock locker(m_lock);
        m_changed.wait(locker, [this] { return !m_pending.empty() || m_ending; });
        if (m_pending.empty())
            return;
        const QByteArray block = std::move(m_pending.front());
        m_pending.pop_front();
        locker.unlock();
        update(m_context, block);
        locker.lock();
        m_pendingBytes -= block.size();
        locker.unlock();
        m_changed.notify_all();
    }
}

std::future<QString> digestOfFile(const QString& path) {
    return std::async(std::launch::async, [path] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        sha256_ctx context;
        sha256_init(&context);
        constexpr qint64 Block = 1 << 20;
        while (!file.atEnd()) {
            const QByteArray block = file.read(Block);
            if (block.isEmpty())
                return QString();
            update(context, block);
        }
        return hexDigest(context);
    });
}

} // namespace quaddle
