#pragma once

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace quaddle::test {
class FtpServer;
}

namespace quaddle::bench {

// A file of size random bytes.
void writeRandomFile(const QString& path, qint64 size,
                     QRandomGenerator& random = *QRandomGenerator::global());

// Seconds curl takes to upload the files to the server's upload folder in one invocation.
double curlUpload(const test::FtpServer& server, const QStringList& paths);

} // namespace quaddle::bench
