// Uploads one 256 MiB file to a local vsftpd demanding TLS, through the program's FTPS driver
// and through curl --ssl-reqd, alternating, both over TLS 1.2, and prints the median times and
// the ratio ours/curl; then the same through the built quaddle-cli with its history on and off.
#include "BenchSupport.h"
#include "FtpServer.h"
#include "ScriptedDialogs.h"
#include "upload/UploadDrivers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

using namespace quaddle;

namespace {

constexpr int Runs = 5;

double runOurs(const test::FtpServer& server, const QString& path) {
    QElapsedTimer timer;
    timer.start();
    UploadSession upload([](const QString&, qint64, qint64) {}, [](const QString&, int) {}, 2,
                         PolicyOverwrite, true, standardDrivers(QString()));
    upload.driver().setOption(ProtocolDriver::PassiveMode);
    upload.driver().setTrustedCertificate(server.certificateFingerprint(), {});
    if (!upload.login("127.0.0.1", QString::number(server.port()), server.user(),
                      server.password()) ||
        !upload.enterDir(server.uploadDir(), false, false) ||
        upload.uploadFiles({{path, QString()}}).size() != 1)
        qFatal("upload through the program failed");
    const double seconds = timer.elapsed() / 1000.0;
    if (upload.logLines().filter("TLS connection: TLS 1.2,").isEmpty())
        qFatal("the program did not speak TLS 1.2");
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    const QTemporaryDir files;
    bench::limitToTls12(files);
    QCoreApplication application(argc, argv);
    test::ScriptedDialogs noQuestions;
    const test::FtpServer server(test::FtpServer::Kind::VsftpdTls);
    if (!server.started())
        qFatal("%s", qPrintable(server.problem()));
    const QString big = files.filePath("big.bin");
    bench::writeRandomFile(big, qint64(256) << 20);
    bench::compareAlternating(
        "one 256 MiB file over FTPS (TLS 1.2)", "curl --ssl-reqd",
        [&] { return runOurs(server, big); },
        [&] {
            return bench::curlUpload(server, {big},
                                     {"--ssl-reqd", "--insecure", "--tls-max", "1.2"});
        },
        Runs);
    bench::compareHistoryCost("one 256 MiB file over FTPS (TLS 1.2)",
                              QStringLiteral(QUADDLE_CLI_PROGRAM), server, true, big,
                              {"--ssl-reqd", "--insecure", "--tls-max", "1.2"}, Runs);
    return EXIT_SUCCESS;
}
