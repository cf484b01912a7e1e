// psftp's output handler on arbitrary output, cut into lines by the runner's line cutter. The
// input is a series of records: a state byte (which answer is awaited), a byte choosing how
// the output is cut into pieces, a length byte and that many bytes of output.
#include "FuzzSupport.h"
#include "upload/UploadSession.h"
#include "upload/SftpDriver.h"

#include <cstdlib>

namespace quaddle {

// The handler's side of a TUploadSFTP, driven without a psftp: each record starts as a new
// command would, then the output goes through the runner's cutting.
class TSftpOutputFeed {
public:
    explicit TSftpOutputFeed(TUploadSFTP& sftp) : Sftp(sftp) {}

    void Await(int state) {
        Sftp.State = state;
        Sftp.Answered = false;
        Sftp.Answer = TUploadSFTP::Failure;
        const QMutexLocker lock(&Sftp.Shared);
        Sftp.ProbeName = QStringLiteral("photo 1.jpg");
    }

    void Output(QByteArrayView piece) { Lines.Cut(piece, Deliver()); }

    void End() {
        Lines.Finish(Deliver());
        Sftp.Runner.OnExit();
    }

    int Answer() const { return Sftp.Answer; }

private:
    TLineCutter::TLineEvent Deliver() {
        return [this](const QString& line, TOutputType type) { Sftp.NewLine(line, type); };
    }

    TUploadSFTP& Sftp;
    TLineCutter Lines;
};

} // namespace quaddle

using namespace quaddle;

namespace {

// Every state the waiting side sets and every one the handler moves on to.
constexpr int States[] = {1, 2, 5, 6, 7, 8, 20, 21, 30, 35, 36, 40, 41, 50};

bool KnownAnswer(int answer) {
    return answer == TUploadSFTP::Failure || answer == TUploadSFTP::Success ||
           answer == TUploadSFTP::UnknownHostKey || answer == TUploadSFTP::Unexpected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureApplication();
    TUpload session(
        [](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 1, 0, true,
        [](TUpload& upload, int) { return std::make_unique<TUploadSFTP>(upload, QString()); });
    auto& sftp = static_cast<TUploadSFTP&>(session.Protokoll());
    TSftpOutputFeed feed(sftp);
    for (size_t at = 0; at + 3 <= size;) {
        feed.Await(States[data[at] % std::size(States)]);
        const uint8_t seed = data[at + 1];
        const size_t length = std::min<size_t>(data[at + 2], size - at - 3);
        at += 3;
        const QByteArrayView output(data + at, qsizetype(length));
        at += length;
        for (const QByteArrayView piece : fuzz::Pieces(output, seed))
            feed.Output(piece);
        if (!KnownAnswer(feed.Answer()))
            std::abort();
    }
    feed.End();
    if (!KnownAnswer(feed.Answer()) || sftp.LastError().isEmpty())
        std::abort();
    return 0;
}
