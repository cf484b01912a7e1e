#include "configwindow/ServerTestDialog.h"

#include "config/Config.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quaddle {

namespace {

constexpr int AdviceWidth = 420;

QString stepText(const ProbeStepResult& step) {
    const QString name = probeStepName(step.step);
    switch (step.outcome) {
    case ProbeOutcome::Passed:
        return QStringLiteral("\u2714 %1").arg(name) +
               (step.detail.isEmpty() ? QString() : QStringLiteral(": ") + step.detail);
    case ProbeOutcome::Failed:
        return QStringLiteral("\u2718 %1: %2").arg(name, step.detail);
    case ProbeOutcome::NotTried:
        break;
    }
    return QStringLiteral("\u2013 %1").arg(name);
}

} // namespace

ServerTestDialog::ServerTestDialog(Config& config, qint32 server, QWidget* parent)
    : QDialog(parent), m_probe(config, server, false) {
    setObjectName(QStringLiteral("serverTestDialog"));
    setWindowTitle(tr("Test Server \"%1\"").arg(config.serverNames.value(server)));
    auto* layout = new QVBoxLayout(this);
    for (const ProbeStep step :
         {ProbeStep::Reached, ProbeStep::LoggedIn, ProbeStep::CanWrite, ProbeStep::Serves}) {
        auto* label = new QLabel(stepText({step, ProbeOutcome::NotTried, QString()}), this);
        label->setObjectName(QStringLiteral("probeStep%1").arg(int(step)));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
        m_stepLabels.append(label);
    }
    m_adviceLabel = new QLabel(this);
    m_adviceLabel->setObjectName(QStringLiteral("probeAdviceLabel"));
    m_adviceLabel->setWordWrap(true);
    m_adviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_adviceLabel->setMinimumWidth(AdviceWidth);
    m_adviceLabel->hide();
    layout->addWidget(m_adviceLabel);
    auto* buttons = new QDialogButtonBox(this);
    m_closeButton = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    m_closeButton->setObjectName(QStringLiteral("probeCloseButton"));
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerTestDialog::reject);
    layout->addWidget(buttons);
}

ServerTestDialog::~ServerTestDialog() = default;

void ServerTestDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    // Once the window is up, so that the user sees the steps come.
    QTimer::singleShot(0, this, &ServerTestDialog::runTest);
}

void ServerTestDialog::reject() {
    // The test ends first, so that it can take its file away again.
    if (m_running) {
        m_probe.cancel();
        return;
    }
    QDialog::reject();
}

void ServerTestDialog::runTest() {
    m_running = true;
    m_report = m_probe.run([this](const ProbeStepResult& step) { showStep(step); });
    m_running = false;
    showReport();
}

void ServerTestDialog::showReport(const ProbeReport& report) {
    m_started = true;
    m_report = report;
    showReport();
}

void ServerTestDialog::showStep(const ProbeStepResult& step) {
    m_stepLabels[int(step.step)]->setText(stepText(step));
}

void ServerTestDialog::showReport() {
    for (const ProbeStepResult& step : m_report.steps)
        showStep(step);
    QStringList notes;
    if (m_report.passed())
        notes.append(tr("The server works: files uploaded to it are served at their addresses."));
    if (!m_report.advice.isEmpty())
        notes.append(m_report.advice);
    if (!m_report.leftBehind.isEmpty())
        notes.append(m_report.leftBehind);
    m_adviceLabel->setText(notes.join(QStringLiteral("\n\n")));
    m_adviceLabel->setVisible(!notes.isEmpty());
    m_closeButton->setText(tr("Close"));
}

} // namespace quaddle
