// psftp's output handler on arbitrary output, cut into lines by the runner's line cutter. The
// input is a series of records: a state byte (which answer is awaited), a byte choosing how
// the output is cut into pieces, a length byte and that many bytes of output.
#include "FuzzSupport.h"
#include "upload/SftpDriver.h"
#include "upload/UploadSession.h"

#include <algorithm>
#include <cstdlib>

namespace quaddle {

// The handler's side of a SftpDriver, driven without a psftp: each record starts as a new
// command would, then the output goes through the runner's cutting.
class SftpOutputFeed {
public:
    explicit SftpOutputFeed(SftpDriver& sftp) : m_sftp(sftp) {}

    void await(SftpDriver::State state) {
        m_sftp.m_state = state;
        m_sftp.m_answered = false;
        m_sftp.m_answer = SftpDriver::Failure;
        const QMutexLocker lock(&m_sftp.m_shared);
        m_sftp.m_probeName = QStringLiteral("photo 1.jpg");
        m_sftp.m_renameTarget = QStringLiteral("/home/u/photo 1.jpg");
        // Listings and permission changes end at a marker.
        const bool marked = state == SftpDriver::State::CheckingFile ||
                            state == SftpDriver::State::ListingFile ||
                            state == SftpDriver::State::ChangingMode;
        m_sftp.m_marker =
            marked ? QStringLiteral("psftp: unknown command \"quaddle-1\"") : QString();
    }

    void output(QByteArrayView piece) { m_lines.cut(piece, deliver()); }

    void end() {
        m_lines.finish(deliver());
        m_sftp.m_runner.onExit();
    }

    int answer() const { return m_sftp.m_answer; }

private:
    LineCutter::LineEvent deliver() {
        return [this](const QString& line, OutputType type) { m_sftp.newLine(line, type); };
    }

    SftpDriver& m_sftp;
    LineCutter m_lines;
};

} // namespace quaddle

using namespace quaddle;

namespace {

bool knownAnswer(int answer) {
    return std::ranges::find(SftpDriver::Answers, answer) != std::end(SftpDriver::Answers);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ensureApplication();
    UploadSession session(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, 0, true,
        [](UploadSession& upload, int) { return std::make_unique<SftpDriver>(upload, QString()); });
    auto& sftp = static_cast<SftpDriver&>(session.driver());
    SftpOutputFeed feed(sftp);
    for (size_t at = 0; at + 3 <= size;) {
        feed.await(SftpDriver::States[data[at] % std::size(SftpDriver::States)]);
        const uint8_t seed = data[at + 1];
        const size_t length = std::min<size_t>(data[at + 2], size - at - 3);
        at += 3;
        const QByteArrayView output(data + at, qsizetype(length));
        at += length;
        for (const QByteArrayView piece : fuzz::pieces(output, seed))
            feed.output(piece);
        if (!knownAnswer(feed.answer()))
            std::abort();
    }
    feed.end();
    if (!knownAnswer(feed.answer()) || sftp.lastError().isEmpty())
        std::abort();
    return 0;
}
