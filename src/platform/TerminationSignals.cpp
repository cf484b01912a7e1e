#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace quaddle {

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t lastSignal = 0;

extern "C" void writeSignalByte(int signalNumber) {
    const int savedErrno = errno;
    lastSignal = signalNumber;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void installHandler(int signalNumber) {
    struct sigaction action = {};
    action.sa_handler = writeSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

void catchTerminationSignals() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    installHandler(SIGTERM);
    installHandler(SIGINT);
}

void endByTerminationSignal() {
    const int signalNumber = lastSignal == 0 ? SIGTERM : int(lastSignal);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

void onTerminationSignal(std::function<void()> onSignal) {
    if (signalPipe[0] < 0)
        return;
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onSignal = std::move(onSignal)] {
                         char drained[64];
                         while (read(signalPipe[0], drained, sizeof drained) > 0) {
                         }
                         onSignal();
                     });
}

} // namespace quaddle
