#pragma once

#include "upload/UploadSession.h"

#include <QSet>
#include <QStringList>
#include <functional>

namespace quaddle::test {

// What a scripted server holds and how it answers, and the record of what was asked of it.
// Lives in the test, so it can be read after the session is gone.
struct TDriverScript {
    QSet<QString> RemoteFiles;     // names in the (single) remote directory
    QSet<QString> Directories;     // what ChangeDir accepts
    QSet<QString> FailingPuts;     // names whose upload fails
    QSet<QString> FailingMakeDirs; // directories that cannot be created
    QSet<QString> FailingRenames;  // names that cannot be renamed
    QString AcceptedUser = QStringLiteral("user");
    QString AcceptedPassword = QStringLiteral("password");
    bool Unreachable = false; // Connect throws the connection error
    // Called at the start of every operation with its record, e.g. to press Cancel there.
    std::function<void(const QString& call)> OnCall;

    QStringList Calls;    // "Connect host 21 user password", "PutFile /p/a.jpg", ...
    QStringList Uploaded; // local paths whose upload completed
};

// A protocol driver that answers from a TDriverScript. Uploads report progress in two steps,
// half and all of the file, as a real driver reports blocks.
class TScriptedDriver : public TUploadProtokoll {
public:
    TScriptedDriver(TUpload& session, TDriverScript& script)
        : TUploadProtokoll(session), Script(script) {}

    void Abort() override;
    bool Connect(const QString& host, const QString& port, const QString& user,
                 const QString& password) override;
    bool ChangeDir(const QString& dir) override;
    bool FileExists(const QString& name) override;
    bool MakeDir(const QString& dir) override;
    bool PutFile(const QString& localPath) override;
    bool RenameFile(const QString& oldName, const QString& newName) override;
    QString LastError() override { return LastErrorText; }

private:
    void Record(const QString& call);

    TDriverScript& Script;
    QString LastErrorText;
};

// Drivers for server types 0 and 1 that answer from script; no driver for other types.
TDriverFactory ScriptedDrivers(TDriverScript& script);

} // namespace quaddle::test
