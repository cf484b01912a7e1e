#include "ScriptedDriver.h"

#include "platform/Error.h"
#include "upload/UploadErrors.h"

#include <QFileInfo>

namespace quaddle::test {

void TScriptedDriver::Record(const QString& call) {
    Script.Calls.append(call);
    if (Script.OnCall)
        Script.OnCall(call);
}

void TScriptedDriver::Abort() {
    Script.Calls.append(QStringLiteral("Abort"));
}

bool TScriptedDriver::Connect(const QString& host, const QString& port, const QString& user,
                              const QString& password) {
    Record(QStringList{"Connect", host, port, user, password}.join(' '));
    if (Script.Unreachable)
        throw TError(UploadErrors::ConnectFailed);
    return user == Script.AcceptedUser && password == Script.AcceptedPassword;
}

bool TScriptedDriver::ChangeDir(const QString& dir) {
    Record("ChangeDir " + dir);
    return Script.Directories.contains(dir);
}

bool TScriptedDriver::FileExists(const QString& name) {
    Record("FileExists " + name);
    return Script.RemoteFiles.contains(name);
}

bool TScriptedDriver::MakeDir(const QString& dir) {
    Record("MakeDir " + dir);
    if (Script.FailingMakeDirs.contains(dir))
        return false;
    Script.Directories.insert(dir);
    return true;
}

bool TScriptedDriver::PutFile(const QString& localPath) {
    const QString name = FileNameOf(localPath);
    Record("PutFile " + localPath);
    Session.ReportFileStart(name);
    const qint64 size = QFileInfo(localPath).size();
    Session.ReportProgress(localPath, name, size / 2);
    if (Script.FailingPuts.contains(name)) {
        LastErrorText = "550 " + name + ": Permission denied";
        return false;
    }
    if (Session.Cancelled()) {
        LastErrorText = "426 Connection closed; transfer aborted.";
        return false;
    }
    Session.ReportProgress(localPath, name, size);
    Script.RemoteFiles.insert(name);
    Script.Uploaded.append(localPath);
    return true;
}

bool TScriptedDriver::RenameFile(const QString& oldName, const QString& newName) {
    Record("RenameFile " + oldName + " " + newName);
    if (Script.FailingRenames.contains(oldName) || !Script.RemoteFiles.remove(oldName))
        return false;
    Script.RemoteFiles.insert(newName);
    return true;
}

TDriverFactory ScriptedDrivers(TDriverScript& script) {
    return [&script](TUpload& session, int serverType) -> std::unique_ptr<TUploadProtokoll> {
        if (serverType != 0 && serverType != 1)
            return nullptr;
        return std::make_unique<TScriptedDriver>(session, script);
    };
}

} // namespace quaddle::test
