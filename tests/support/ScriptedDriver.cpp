#include "ScriptedDriver.h"

#include "platform/Error.h"
#include "upload/UploadErrors.h"

#include <QFileInfo>

namespace quaddle::test {

void ScriptedDriver::record(const QString& call) {
    m_script.calls.append(call);
    if (m_script.onCall)
        m_script.onCall(call);
}

void ScriptedDriver::abort() {
    m_script.calls.append(QStringLiteral("Abort"));
}

bool ScriptedDriver::connect(const QString& host, const QString& port, const QString& user,
                             const QString& password) {
    record(QStringList{"Connect", host, port, user, password}.join(' '));
    if (m_script.unreachable)
        throw Error(UploadErrors::ConnectFailed);
    return user == m_script.acceptedUser && password == m_script.acceptedPassword;
}

bool ScriptedDriver::changeDir(const QString& dir) {
    record("ChangeDir " + dir);
    return m_script.directories.contains(dir);
}

bool ScriptedDriver::fileExists(const QString& name) {
    record("FileExists " + name);
    return m_script.remoteFiles.contains(name);
}

bool ScriptedDriver::makeDir(const QString& dir) {
    record("MakeDir " + dir);
    if (m_script.failingMakeDirs.contains(dir))
        return false;
    m_script.directories.insert(dir);
    return true;
}

bool ScriptedDriver::putFileAs(const QString& localPath, const QString& name) {
    record("PutFile " + localPath + (name == fileNameOf(localPath) ? "" : " as " + name));
    m_session.reportFileStart(name);
    const qint64 size = QFileInfo(localPath).size();
    m_session.reportProgress(localPath, name, size / 2);
    if (m_script.failingPuts.contains(fileNameOf(localPath))) {
        m_lastErrorText = "550 " + name + ": Permission denied";
        return false;
    }
    if (m_session.cancelled()) {
        m_lastErrorText = "426 Connection closed; transfer aborted.";
        return false;
    }
    m_session.reportProgress(localPath, name, size);
    m_script.remoteFiles.insert(name);
    m_script.uploaded.append(localPath);
    return true;
}

bool ScriptedDriver::renameFile(const QString& oldName, const QString& newName) {
    record("RenameFile " + oldName + " " + newName);
    if (m_script.failingRenames.contains(oldName) || !m_script.remoteFiles.remove(oldName))
        return false;
    m_script.remoteFiles.insert(newName);
    return true;
}

bool ScriptedDriver::removeFile(const QString& name) {
    record("RemoveFile " + name);
    if (m_script.remoteFiles.remove(name))
        return true;
    m_lastErrorText = "550 " + name + ": No such file";
    return false;
}

bool ScriptedDriver::setPermissions(const QString& name, const QString& mode) {
    record("SetPermissions " + name + " " + mode);
    if (!m_script.failingModes.contains(name))
        return true;
    m_lastErrorText = "550 " + name + ": Operation not permitted";
    return false;
}

DriverFactory scriptedDrivers(DriverScript& script) {
    return [&script](UploadSession& session, int serverType) -> std::unique_ptr<ProtocolDriver> {
        if (serverType != 0 && serverType != 1)
            return nullptr;
        return std::make_unique<ScriptedDriver>(session, script);
    };
}

} // namespace quaddle::test
