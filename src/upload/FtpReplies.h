#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QSet>
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
// pieces of any size. A reply beyond the bounds below ends the reading.
class FtpReplyReader {
public:
    // A line longer than this is no FTP server talking.
    static constexpr qsizetype MaxLine = 64 * 1024;
    // The longest replies servers send (a FEAT or HELP list, a long welcome) run to a few
    // hundred lines and some kilobytes. Far more from one reply is a server sending without
    // end, which would otherwise fill the memory and the log within seconds.
    static constexpr int MaxReplyLines = 1000;
    static constexpr qsizetype MaxReplyBytes = 1024 * 1024;

    void append(QByteArrayView bytes) { m_pending.append(bytes); }
    // The next complete reply from what was appended, or nothing until more bytes arrive.
    // Every line taken on the way, without its line end, goes to onLine first.
    std::optional<FtpReply> next(const std::function<void(const QString& line)>& onLine);
    // How the server overstepped the bounds, for the user; empty while it keeps to them.
    // Nothing more is read after that.
    QString violation() const { return m_violation; }
    void reset();

private:
    void violate(const QString& what);

    QByteArray m_pending;
    QString m_multiLineCode;
    // Lines and bytes since the last complete reply.
    int m_replyLines = 0;
    qsizetype m_replyBytes = 0;
    QString m_violation;
};

// Whether a name list (NLST: one name a line) holds exactly this name.
bool nameListed(QByteArrayView listing, const QString& name);
// The names of a listing: an NLST one (one name a line), or an MLSD one (facts, a space, the
// name; without the entries of the folder itself and its parent).
QSet<QString> listedNames(QByteArrayView listing, bool facts);

// The data port a 227 reply names ("h1,h2,h3,h4,p1,p2"); nothing when the reply names no
// valid address.
std::optional<quint16> pasvPort(const QString& reply);

// The data port a 229 reply names ("(|||port|)", RFC 2428, with any printable delimiter);
// nothing when it names none.
std::optional<quint16> epsvPort(const QString& reply);

} // namespace quaddle
