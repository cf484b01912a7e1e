// A batch of files spread over the session's own connection and extra ones, each extra one on
// a thread of its own: the FTP dialogue waits for every reply, so only more connections let
// the round trips of several files overlap.
#include "platform/Error.h"
#include "upload/UploadErrors.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

namespace quaddle {

// The files of a batch and who sends which; shared by the threads.
struct UploadSession::ParallelRun {
    explicit ParallelRun(const QList<FileTransfer>& files, const TransferEvents& told)
        : transfers(files), events(told) {
        for (qsizetype index = 0; index < files.size(); ++index)
            queue.push_back(index);
    }

    // The next file to send, counted as on its way; nothing when none is left.
    std::optional<qsizetype> take() {
        const QMutexLocker locker(&lock);
        if (stopping || queue.empty())
            return std::nullopt;
        const qsizetype index = queue.front();
        queue.pop_front();
        ++onTheirWay;
        return index;
    }
    // Puts a file whose connection dropped back for another one, once.
    bool retry(qsizetype index) {
        const QMutexLocker locker(&lock);
        if (stopping || retried.contains(index))
            return false;
        retried.insert(index);
        queue.push_front(index);
        --onTheirWay;
        return true;
    }
    void stop() {
        const QMutexLocker locker(&lock);
        stopping = true;
        queue.clear();
    }
    // On the main thread: a file's end, to be told in its turn. partLeft: its temporary name
    // may still be on the server, its connection having dropped before removing it.
    void finish(qsizetype index, const TransferResult& result, bool partLeft) {
        results.insert(index, result);
        if (partLeft)
            partsLeft.insert(index);
        const QMutexLocker locker(&lock);
        --onTheirWay;
    }
    bool filesLeft() {
        const QMutexLocker locker(&lock);
        return !queue.empty();
    }
    bool filesOnTheirWay() {
        const QMutexLocker locker(&lock);
        return onTheirWay > 0;
    }
    // Runs what on the main thread and ends its wait there.
    void tell(std::function<void()> what) {
        QMetaObject::invokeMethod(
            &mainThread,
            [this, what = std::move(what)] {
                what();
                if (waiting)
                    waiting->quit();
            },
            Qt::QueuedConnection);
    }

    const QList<FileTransfer>& transfers;
    const TransferEvents& events;
    // What the extra connections tell arrives through it, on the main thread.
    QObject mainThread;
    QEventLoop* waiting = nullptr;
    // Main thread only.
    QHash<qsizetype, TransferResult> results;
    QSet<qsizetype> partsLeft;
    int opened = 1;
    int ended = 0;

    QMutex lock;
    // Guarded by lock.
    std::deque<qsizetype> queue;
    QSet<qsizetype> retried;
    qsizetype onTheirWay = 0;
    bool stopping = false;
    // Each logged-in extra connection's session, and an object on its thread to reach it by.
    QList<std::pair<QObject*, UploadSession*>> extras;
};

void UploadSession::sendInParallel(const QList<FileTransfer>& transfers,
                                   const TransferEvents& events) {
    ParallelRun run(transfers, events);
    const int extra = int(std::min<qsizetype>(m_connections - 1, transfers.size() - 1));
    m_parallel = &run;
    m_logPrefix = QStringLiteral("[1] ");
    std::vector<std::unique_ptr<QThread>> threads;
    bool allTold = false;
    // However this ends, the threads end first: they may be asking a question meanwhile, so
    // the event loop keeps running.
    const auto join = qScopeGuard([&] {
        run.stop();
        if (!allTold)
            cancelExtraConnections();
        for (const std::unique_ptr<QThread>& thread : threads)
            while (!thread->wait(QDeadlineTimer(20)))
                QCoreApplication::processEvents();
        m_parallel = nullptr;
        m_logPrefix.clear();
    });
    for (int number = 2; number < extra + 2; ++number) {
        threads.emplace_back(
            QThread::create([this, &run, number] { runExtraConnection(number, run); }));
        threads.back()->start();
    }

    qsizetype told = 0;
    bool goOn = true;
    const auto tell = [&](qsizetype index) {
        const TransferResult result = run.results.take(index);
        // Its sender removed the temporary name of a file that failed, unless it dropped first.
        if (!result.sent && !run.partsLeft.contains(index))
            m_partsOnTheirWay.removeOne(transfers[index].remoteName);
        if (!events.finished(index, result) && goOn) {
            goOn = false;
            run.stop();
        }
    };
    bool ownConnection = true;
    while (told < transfers.size()) {
        for (; run.results.contains(told); ++told)
            tell(told);
        if (told == transfers.size())
            break;
        if (ownConnection && goOn && !m_cancelled) {
            if (const std::optional<qsizetype> index = run.take()) {
                ownConnection = sendOwnShare(*index, run);
                continue;
            }
        }
        // Stopped, or no connection is left for the files still waiting.
        if (run.ended == extra && !run.filesOnTheirWay())
            break;
        QEventLoop loop;
        run.waiting = &loop;
        loop.exec();
        run.waiting = nullptr;
    }
    const bool connectionLost = goOn && !m_cancelled && run.filesLeft();
    // A file that never went again after its connection dropped leaves a gap: those after it
    // that arrived are told all the same, in their order.
    QList<qsizetype> rest = run.results.keys();
    std::sort(rest.begin(), rest.end());
    for (const qsizetype index : std::as_const(rest))
        tell(index);
    allTold = told == transfers.size();
    if (connectionLost)
        throw Error(UploadErrors::ConnectionLost);
    if (run.opened < extra + 1)
        addLog(QStringLiteral("The server allowed %1 of %2 connections; the run went on with %1.")
                   .arg(run.opened)
                   .arg(extra + 1),
               LogTraffic);
}

bool UploadSession::sendOwnShare(qsizetype index, ParallelRun& run) {
    run.events.started(index);
    bool dropped = false;
    const TransferResult result = sendOne(run.transfers[index], dropped);
    if (!result.sent && dropped && !m_cancelled && run.retry(index)) {
        addLog(QStringLiteral("The connection dropped; %1 goes again over another one.")
                   .arg(run.transfers[index].localPath),
               LogError);
        --m_openConnections;
        return false;
    }
    run.finish(index, result, partLeftBy(run.transfers[index], result, dropped));
    m_openConnections -= dropped ? 1 : 0;
    return !dropped;
}

TransferResult UploadSession::sendOne(const FileTransfer& transfer, bool& dropped) {
    TransferResult result;
    TransferEvents events;
    events.started = [](qsizetype) {};
    events.progress = [](qsizetype, qint64) {};
    events.finished = [&result](qsizetype, const TransferResult& end) {
        result = end;
        return true;
    };
    try {
        m_driver->sendFiles({transfer}, events);
    } catch (const Error& error) {
        result.error = error.message();
    }
    dropped = !m_driver->isConnected();
    if (!result.sent && !transfer.finalName.isEmpty() && !dropped)
        dropped = !discardPart(transfer.remoteName);
    return result;
}

bool UploadSession::partLeftBy(const FileTransfer& transfer, const TransferResult& result,
                               bool dropped) {
    return !result.sent && !transfer.finalName.isEmpty() && dropped;
}

void UploadSession::runExtraConnection(int number, ParallelRun& run) {
    QObject inbox;
    std::optional<qsizetype> sending;
    UploadSession extra(
        [this, &run, &sending](const QString& name, qint64, qint64 sent) {
            if (!sending)
                return;
            run.tell([this, localPath = run.transfers[*sending].localPath, name, sent] {
                showProgress(localPath, name, sent);
            });
        },
        [](const QString&, int) {}, m_serverType, PolicyOverwrite, m_keepTraffic, m_makeDriver);
    extra.followSession(*this, QStringLiteral("[%1] ").arg(number));
    bool loggedIn = false;
    try {
        loggedIn = extra.connectLike(*this);
    } catch (const Error& error) {
        extra.addLog(error.message(), LogError);
    }
    if (loggedIn) {
        const QMutexLocker locker(&run.lock);
        run.extras.append({&inbox, &extra});
    }
    run.tell([this, &run, loggedIn] {
        run.opened += loggedIn ? 1 : 0;
        m_openConnections += loggedIn ? 1 : 0;
    });
    while (loggedIn) {
        sending = run.take();
        if (!sending)
            break;
        const qsizetype index = *sending;
        run.tell([&run, index] { run.events.started(index); });
        bool dropped = false;
        const TransferResult result = extra.sendOne(run.transfers[index], dropped);
        sending.reset();
        if (!result.sent && dropped && !extra.cancelled() && run.retry(index))
            extra.addLog(QStringLiteral("The connection dropped; %1 goes again over another one.")
                             .arg(run.transfers[index].localPath),
                         LogError);
        else
            run.tell(
                [&run, index, result, left = partLeftBy(run.transfers[index], result, dropped)] {
                    run.finish(index, result, left);
                });
        if (dropped)
            break;
    }
    {
        const QMutexLocker locker(&run.lock);
        run.extras.removeOne(std::pair<QObject*, UploadSession*>(&inbox, &extra));
    }
    run.tell([this, &run, loggedIn] {
        ++run.ended;
        m_openConnections -= loggedIn ? 1 : 0;
    });
}

void UploadSession::followSession(const UploadSession& main, const QString& logPrefix) {
    m_logTarget = const_cast<UploadSession*>(&main);
    m_logPrefix = logPrefix;
    for (const int option : {ProtocolDriver::PassiveMode, ProtocolDriver::TextMode})
        if (main.m_driver->options() & option)
            m_driver->setOption(option);
    m_driver->trustLike(*main.m_driver);
}

bool UploadSession::connectLike(const UploadSession& main) {
    const Login& login = main.m_login;
    m_driver->setKeyFile(login.keyFile);
    if (!m_driver->connect(login.host, login.port, login.user, login.password))
        return false;
    for (const QString& dir : main.m_enteredDirs)
        if (!m_driver->changeDir(dir))
            return false;
    return true;
}

void UploadSession::removePartsLeft() {
    // Over SFTP as over FTP: a connection of its own, though the run's single one is gone.
    if (m_partsOnTheirWay.isEmpty())
        return;
    UploadSession cleaner([](const QString&, qint64, qint64) {}, [](const QString&, int) {},
                          m_serverType, PolicyOverwrite, m_keepTraffic, m_makeDriver);
    cleaner.followSession(*this, QString());
    // Cancel asks for a quick end: a server slow to answer keeps its parts.
    cleaner.m_driver->setAnswerTimeout(PartRemovalTimeoutMs);
    try {
        if (!cleaner.connectLike(*this))
            return;
        for (const QString& part : std::as_const(m_partsOnTheirWay))
            if (cleaner.m_driver->removeFile(part))
                cleaner.addLog(QStringLiteral("Removed ") + part, LogTraffic);
    } catch (const Error& error) {
        cleaner.addLog(error.message(), LogError);
    }
    m_partsOnTheirWay.clear();
}

void UploadSession::cancelExtraConnections() {
    if (!m_parallel)
        return;
    m_parallel->stop();
    const QMutexLocker locker(&m_parallel->lock);
    for (const std::pair<QObject*, UploadSession*>& extra : std::as_const(m_parallel->extras))
        QMetaObject::invokeMethod(
            extra.first, [session = extra.second] { session->cancel(); }, Qt::QueuedConnection);
}

} // namespace quaddle
