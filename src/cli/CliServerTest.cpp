#include "cli/CliRun.h"
#include "config/CommandLine.h"

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

// The step's line; a detail of several lines goes on below it, indented.
QStringList stepLines(const ProbeStepResult& step) {
    const QString line = outcomeMark(step.outcome) + QLatin1Char(' ') + probeStepName(step.step);
    if (step.outcome == ProbeOutcome::NotTried)
        return {line + QStringLiteral(": not tried")};
    if (step.detail.isEmpty())
        return {line};
    QStringList lines = step.detail.split(QLatin1Char('\n'));
    lines.first().prepend(line + QStringLiteral(": "));
    for (qsizetype index = 1; index < lines.size(); ++index)
        lines[index].prepend(QStringLiteral("       "));
    return lines;
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
        probe.run([](const ProbeStepResult& step) { printLines(stepLines(step)); });
    m_probe = nullptr;
    QStringList rest;
    for (const ProbeStepResult& step : report.steps)
        if (step.outcome == ProbeOutcome::NotTried)
            rest.append(stepLines(step));
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
