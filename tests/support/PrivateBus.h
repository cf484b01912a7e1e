#pragma once

#include <QProcess>
#include <QTemporaryDir>

namespace quaddle::test {

// A session bus of the test's own, with no services but those the test registers, stopped at
// destruction.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when dbus-daemon did not start.
    QString address() const { return m_address; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
};

} // namespace quaddle::test
