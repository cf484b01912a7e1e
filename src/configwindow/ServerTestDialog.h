#pragma once

#include "run/ServerProbe.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace quaddle {

class Config;

// "Test Server": runs a server test as soon as it shows and lists its steps as they pass or
// fail, with what a failure usually means and what to try. While the test runs its button
// cancels it; afterwards it closes the window.
class ServerTestDialog : public QDialog {
    Q_OBJECT

public:
    // Tests config.servers[server]; what the test learns stays in config.
    ServerTestDialog(Config& config, qint32 server, QWidget* parent = nullptr);
    ~ServerTestDialog() override;

    // Whether the last test passed every step.
    bool passed() const { return m_report.passed(); }
    // Shows a finished test's report instead of running one (the README's pictures).
    void showReport(const ProbeReport& report);

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void runTest();
    void showStep(const ProbeStepResult& step);
    void showReport();

    ServerProbe m_probe;
    bool m_running = false;
    bool m_started = false;
    ProbeReport m_report;
    QList<QLabel*> m_stepLabels;
    QLabel* m_adviceLabel = nullptr;
    QPushButton* m_closeButton = nullptr;
};

} // namespace quaddle
