#include "cli/CliRun.h"
#include "config/CommandLine.h"
#include "platform/Error.h"

namespace quaddle {

namespace {

QString outcomeMark(ProbeOutcome outcome) {
    switch (outcome) {
    case ProbeOutcome::Passed:
        return QStringLiteral("[ OK ]");
    case ProbeOutcome::Failed:
        return QStringLiteral("[FAIL]");
    case ProbeOutcome::NotTried:
        break;
    }
    return QStringLiteral("[ -- ]");
}

QString stepLine(const ProbeStepResult& step) {
    QString line = outcomeMark(step.outcome) + QLatin1Char(' ') + probeStepName(step.step);
    if (step.outcome == ProbeOutcome::NotTried)
        return line + QStringLiteral(": not tried");
    return step.detail.isEmpty() ? line : line + QStringLiteral(": ") + step.detail;
}

} // namespace

int CliRun::testServer(Config& config) {
    const std::optional<ServerSelection> selection = resolveSelector(*m_options.testServer, config);
    if (!selection) {
        m_terminal.error(
            QStringLiteral("\"%1\" names no configured server.").arg(*m_options.testServer));
        return ExitUsage;
    }
    ServerProbe probe(config, selection->server);
    m_probe = &probe;
    if (interrupted())
        probe.cancel();
    const ProbeReport report =
        probe.run([](const ProbeStepResult& step) { printLines({stepLine(step)}); });
    m_probe = nullptr;
    QStringList rest;
    for (const ProbeStepResult& step : report.steps)
        if (step.outcome == ProbeOutcome::NotTried)
            rest.append(stepLine(step));
    if (!report.advice.isEmpty())
        rest.append(report.advice);
    printLines(rest);
    if (!report.leftBehind.isEmpty())
        m_terminal.error(report.leftBehind);
    if (report.passed())
        return ExitDone;
    const bool loggedIn = report.steps[int(ProbeStep::LoggedIn)].outcome == ProbeOutcome::Passed;
    return loggedIn ? ExitSomeFailed : ExitNoLogin;
}

} // namespace quaddle
