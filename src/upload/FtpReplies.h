#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

namespace quaddle {

// A server's final reply line with its code.
struct FtpReply {
    int code = 0;
    QString line;
};

// Cuts the bytes a server sends on the control connection into lines and those into replies
// (RFC 959 4.2): a multi-line reply ends only at a line with its code and a blank, or its bare
// code, and lines outside a reply that carry no code are passed over. Bytes may arrive in
// pieces of any size.
class FtpReplyReader {
public:
    // A line longer than this without a line end is no FTP server talking.
    static constexpr qsizetype MaxLine = 64 * 1024;

    void append(QByteArrayView bytes) { m_pending.append(bytes); }
    // The next complete reply from what was appended, or nothing until more bytes arrive.
    // Every line taken on the way, without its line end, goes to onLine first.
    std::optional<FtpReply> next(const std::function<void(const QString& line)>& onLine);
    // True when the bytes waiting for a line end exceed MaxLine.
    bool lineTooLong() const { return m_pending.size() > MaxLine; }
    void reset();

private:
    QByteArray m_pending;
    QString m_multiLineCode;
};

// The data port a 227 reply names ("h1,h2,h3,h4,p1,p2"); nothing when the reply names no
// valid address.
std::optional<quint16> pasvPort(const QString& reply);

// The data port a 229 reply names ("(|||port|)", RFC 2428, with any printable delimiter);
// nothing when it names none.
std::optional<quint16> epsvPort(const QString& reply);

} // namespace quaddle
