#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

namespace quaddle {

// A server's final reply line with its code.
struct TFtpReply {
    int Code = 0;
    QString Line;
};

// Cuts the bytes a server sends on the control connection into lines and those into replies
// (RFC 959 4.2): a multi-line reply ends only at a line with its code and a blank, or its bare
// code, and lines outside a reply that carry no code are passed over. Bytes may arrive in
// pieces of any size.
class TFtpReplyReader {
public:
    // A line longer than this without a line end is no FTP server talking.
    static constexpr qsizetype MaxLine = 64 * 1024;

    void Append(QByteArrayView bytes) { Pending.append(bytes); }
    // The next complete reply from what was appended, or nothing until more bytes arrive.
    // Every line taken on the way, without its line end, goes to onLine first.
    std::optional<TFtpReply> Next(const std::function<void(const QString& line)>& onLine);
    // True when the bytes waiting for a line end exceed MaxLine.
    bool LineTooLong() const { return Pending.size() > MaxLine; }
    void Reset();

private:
    QByteArray Pending;
    QString MultiLineCode;
};

// The data port a 227 reply names ("h1,h2,h3,h4,p1,p2"); nothing when the reply names no
// valid address.
std::optional<quint16> PasvPort(const QString& reply);

} // namespace quaddle
