#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace quaddle::test {
class TFtpServer;
}

namespace quaddle::bench {

// A file of size random bytes.
void WriteRandomFile(const QString& path, qint64 size,
                     QRandomGenerator& random = *QRandomGenerator::global());

// Seconds curl takes to upload the files to the server's upload folder in one invocation.
double CurlUpload(const test::TFtpServer& server, const QStringList& paths);

} // namespace quaddle::bench
