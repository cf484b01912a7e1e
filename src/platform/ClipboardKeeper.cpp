#include "platform/ClipboardKeeper.h"

#include "platform/X11Clipboard.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <cstring>

namespace quaddle {

namespace {

// The keeper is the program itself, told by both: the word shows in the process list, the
// variable keeps a file of that name from being taken for it.
constexpr char KeeperWord[] = "--keep-clipboard";
constexpr char KeeperVariable[] = "QUADDLE_KEEP_CLIPBOARD";
// The keeper's first process ends once the keeper owns the clipboard, wl-copy's once it has
// forked, both at once: the bound is for one that hangs.
constexpr int AnswerMs = 20000;

// Starts program with text on its standard input and waits until it ends; its complaint, if it
// failed.
std::optional<QString> runWithInput(const QString& program, const QStringList& arguments,
                                    const QByteArray& text,
                                    const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    process.write(text);
    process.closeWriteChannel();
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(AnswerMs, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    const QString name = QFileInfo(program).fileName();
    if (process.error() == QProcess::FailedToStart)
        return QStringLiteral("%1 could not be started: %2").arg(name, process.errorString());
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("%1 did not answer.").arg(name);
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return std::nullopt;
    const QString complaint = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    return complaint.isEmpty() ? QStringLiteral("%1 failed.").arg(name) : complaint;
}

std::optional<QString> keepOnX11(const QByteArray& text) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(KeeperVariable), QStringLiteral("1"));
    return runWithInput(QCoreApplication::applicationFilePath(), {QLatin1String(KeeperWord)}, text,
                        environment);
}

} // namespace

ClipboardSystem sessionClipboard() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return ClipboardSystem::Wayland;
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        return ClipboardSystem::X11;
    return ClipboardSystem::None;
}

std::optional<QString> keepOnClipboard(const QString& text, ClipboardSystem system) {
    const QByteArray bytes = text.toUtf8();
    if (system == ClipboardSystem::Wayland) {
        const QString wlCopy = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
        if (!wlCopy.isEmpty())
            return runWithInput(wlCopy, {}, bytes, QProcessEnvironment::systemEnvironment());
        // Under Xwayland the X11 clipboard reaches Wayland programs too.
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return QStringLiteral("Copying on Wayland needs wl-copy; install wl-clipboard.");
        system = ClipboardSystem::X11;
    }
    if (system == ClipboardSystem::X11)
        return keepOnX11(bytes);
    return QStringLiteral("There is no clipboard without a display (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set).");
}

std::optional<int> serveClipboardWhenAsked(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], KeeperWord) != 0 ||
        qEnvironmentVariableIsEmpty(KeeperVariable))
        return std::nullopt;
    return detachAndServeX11Clipboard();
}

} // namespace quaddle
