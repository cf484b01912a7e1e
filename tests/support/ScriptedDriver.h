#pragma once

#include "upload/UploadSession.h"

#include <QSet>
#include <QStringList>
#include <functional>

namespace quaddle::test {

// What a scripted server holds and how it answers, and the record of what was asked of it.
// Lives in the test, so it can be read after the session is gone.
struct DriverScript {
    QSet<QString> remoteFiles;     // names in the (single) remote directory
    QSet<QString> directories;     // what changeDir accepts
    QSet<QString> failingPuts;     // local file names whose upload fails
    QSet<QString> failingMakeDirs; // directories that cannot be created
    QSet<QString> failingRenames;  // names that cannot be renamed
    QSet<QString> failingModes;    // names whose permissions cannot be set
    QString acceptedUser = QStringLiteral("user");
    QString acceptedPassword = QStringLiteral("password");
    bool unreachable = false; // connect() throws the connection error
    // Called at the start of every operation with its record, e.g. to press Cancel there.
    std::function<void(const QString& call)> onCall;

    // "Connect host 21 user password", "PutFile /p/a.jpg", "PutFile /p/a.jpg as a.jpg.part", ...
    QStringList calls;
    QStringList uploaded; // local paths whose upload completed
};

// A protocol driver that answers from a DriverScript. Uploads report progress in two steps,
// half and all of the file, as a real driver reports blocks.
class ScriptedDriver : public ProtocolDriver {
public:
    ScriptedDriver(UploadSession& session, DriverScript& script)
        : ProtocolDriver(session), m_script(script) {}

    void abort() override;
    bool connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool changeDir(const QString& dir) override;
    bool fileExists(const QString& name) override;
    bool makeDir(const QString& dir) override;
    bool putFileAs(const QString& localPath, const QString& remoteName) override;
    bool renameFile(const QString& oldName, const QString& newName) override;
    bool removeFile(const QString& name) override;
    bool setPermissions(const QString& name, const QString& mode) override;
    QString lastError() override { return m_lastErrorText; }

private:
    void record(const QString& call);

    DriverScript& m_script;
    QString m_lastErrorText;
};

// Drivers for server types 0 and 1 that answer from script; no driver for other types.
DriverFactory scriptedDrivers(DriverScript& script);

} // namespace quaddle::test
