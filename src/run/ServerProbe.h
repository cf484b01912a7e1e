#pragma once

#include "config/Config.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace quaddle {

class UploadSession;

// What a server test finds out, in the order it finds it out.
enum class ProbeStep { Reached, LoggedIn, CanWrite, Serves };

// How one step went; a step after one that failed is not tried.
enum class ProbeOutcome { Passed, Failed, NotTried };

struct ProbeStepResult {
    ProbeStep step = ProbeStep::Reached;
    ProbeOutcome outcome = ProbeOutcome::NotTried;
    // What was done, or why it failed, for the user.
    QString detail;
};

struct ProbeReport {
    QList<ProbeStepResult> steps;
    // What a failure usually means and what to try; empty when every step passed.
    QString advice;
    // Where the probe file went on the server, and the address it was fetched from.
    QString remotePath;
    QString url;
    // Why the probe file could not be removed again; empty when it is gone.
    QString leftBehind;

    bool passed() const;
};

// The caption of a step, as both faces show it.
QString probeStepName(ProbeStep step);

// Tests a configured server as an upload would use it: logs in (asking through dialogs() what
// is missing), puts a small, uniquely named file into the server's default folder, fetches it
// from the address the server's URL mask gives it, compares the bytes and deletes the file
// again, whatever step failed after it was sent.
class ServerProbe {
public:
    // The server tested is config.servers[server]; keepTrust: a certificate the user trusts
    // meanwhile is saved in config.xml, as uploads do; without it it stays in config alone.
    ServerProbe(Config& config, qint32 server, bool keepTrust = true);
    ~ServerProbe();
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    // Runs the test; stepDone tells each step as soon as it is known.
    ProbeReport run(const std::function<void(const ProbeStepResult&)>& stepDone = {});
    void cancel();

    // The folders commonly served by web servers, looked for where a missing file suggests a
    // root folder that is not the web server's.
    static const QStringList WebRootNames;

private:
    void pass(ProbeStep step, const QString& detail);
    void fail(ProbeStep step, const QString& detail);
    bool logIn();
    bool sendProbe(const QString& localPath);
    // Fetches the probe from its address; false when the web server has no file there.
    bool checkAddress(const QByteArray& contents);
    void removeProbe();
    // A folder near the one the probe went to that looks like a web server's root; empty when
    // none is there. Leaves the session in that folder.
    QString nearbyWebRoot();

    Config& m_config;
    const qint32 m_server;
    const ServerRecord m_record;
    const bool m_keepTrust;
    std::unique_ptr<UploadSession> m_session;
    std::function<void(const ProbeStepResult&)> m_stepDone;
    QString m_probeName;
    // The probe file may be on the server: it was sent, or its sending began.
    bool m_sent = false;
    bool m_cancelled = false;
    ProbeReport m_report;
};

} // namespace quaddle
