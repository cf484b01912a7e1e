#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <nettle/sha2.h>
#include <thread>

namespace quaddle {

// The SHA-256 of a file as it goes to the server, taken from the very blocks read for sending
// rather than by reading the file again afterwards: what the history records is what was sent,
// even when the file changes meanwhile. The blocks are hashed on a thread of its own, so the
// thread that feeds the connection only hands them over; it waits only while the hashing is
// MaxPending bytes behind, which bounds the memory held.
class SendDigest {
public:
    SendDigest() = default;
    ~SendDigest();
    SendDigest(const SendDigest&) = delete;
    SendDigest& operator=(const SendDigest&) = delete;

    // The block is shared, not copied: it must not change afterwards (QByteArray's copy on
    // write sees to that).
    void add(const QByteArray& block);
    // Lower-case hex of all the blocks added, once they are hashed.
    QString finish();

    static constexpr qint64 MaxPending = qint64(16) << 20;

private:
    void hashPending();

    sha256_ctx m_context{};
    std::thread m_worker;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_pending;
    qint64 m_pendingBytes = 0;
    bool m_ending = false;
};

// The SHA-256 of the file at path, read on a thread of its own, as lower-case hex; empty when it
// cannot be read. For a program that reads the file itself while it sends it.
std::future<QString> digestOfFile(const QString& path);

} // namespace quaddle
