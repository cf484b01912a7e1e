#pragma once

#include <QString>
#include <exception>

namespace quaddle {

// An error that ends an operation; its message is meant for the user.
class TError : public std::exception {
public:
    explicit TError(QString message) : Message_(std::move(message)), Utf8_(Message_.toUtf8()) {}

    const QString& Message() const { return Message_; }
    const char* what() const noexcept override { return Utf8_.constData(); }

private:
    QString Message_;
    QByteArray Utf8_;
};

} // namespace quaddle
