// The upload run: what pressing Upload does, from the file list to the uploaded files.
#include "app/MainWindow.h"
#include "gui/SuccessWindow.h"
#include "gui/ThumbnailWindow.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadRun.h"

#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QLabel>

namespace quaddle {

void MainWindow::startUpload() {
    m_userCancelled = false;
    if (m_files.isEmpty()) {
        dialogs().showMessage(tr("There are no files to upload."), MessageKind::Error,
                              MessageButtons::Ok);
        return;
    }
    const ServerRecord server = m_config->currentServerRecord();
    if (!checkServerChosen())
        return;
    // The run walks through its own copy: files dropped meanwhile join the list shown and
    // wait for the next run.
    m_runFiles = m_files;
    offerThumbnails();

    refreshServerDisplay(tr("Connecting"), QString());
    setControlsEnabled(false);
    const QString remoteDir = sessionRemoteDir(server, m_remoteDirBox->currentText());

    m_uploadResults.clear();
    bool failed = false;
    try {
        runUpload(server, remoteDir);
    } catch (const Error& error) {
        failed = true;
        // The files that went up before the error are on the server: their addresses count.
        if (m_session)
            m_uploadResults = m_session->uploadedFiles();
        if (!m_userCancelled) {
            // The log tells why the run stopped.
            if (m_session)
                m_session->addLog(error.message(), LogError);
            dialogs().showMessage(tr("A fatal error occurred: ") + LineBreak + error.message(),
                                  MessageKind::Error, MessageButtons::Ok);
        }
    }
    endUpload();
    m_runFiles.clear();
    m_runIndex = -1;
    m_runSpeed = 0;
    m_runLabel->clear();
    setControlsEnabled(true);
    if (m_userCancelled) {
        refreshServerDisplay(tr("Upload cancelled"), QStringLiteral(" "));
        uploadProgress(QString(), 0, 0);
    } else {
        refreshServerDisplay(QString(), QStringLiteral(" "));
    }
    if (m_uploadResults.isEmpty())
        return;
    // Before a close by "Autoclose", so the lines outlive the program (see README).
    if (m_config->autoCopy())
        copyLines(resultLines(storedTagStyle(*m_config)));
    // After an error the user sees which files made it before anything closes.
    if (m_config->autoClose() && !failed)
        close();
    else
        showResults();
}

void MainWindow::showResults() {
    if (!m_successWindow) {
        SuccessWindowHost host;
        host.lines = [this](TagStyle style) { return resultLines(style); };
        host.showMain = [this] {
            show();
            raise();
        };
        host.hideMain = [this] { hide(); };
        host.closeMain = [this] { close(); };
        host.saveConfig = [this] { saveConfigReporting(); };
        host.storedStyle = [this] { return storedTagStyle(*m_config); };
        host.storeStyle = [this](TagStyle style) { m_config->setTagStyle(int(style)); };
        m_successWindow = new SuccessWindow(std::move(host), this);
    }
    m_successWindow->showResults(m_renamedFiles);
}

QStringList MainWindow::resultLines(TagStyle style) const {
    return urlLines(m_config->currentServerRecord(), m_remoteDirBox->currentText(), m_uploadResults,
                    style);
}

void MainWindow::offerThumbnails() {
    const std::optional<ThumbnailImages> images = imagesWithoutThumbnails(m_runFiles);
    if (!images || !dialogs().offerThumbnails(*images))
        return;
    refreshServerDisplay(tr("Creating thumbnails"), QString());
    ThumbnailWindow window(*m_config, m_runFiles, m_config->thumbWidth(), m_config->thumbHeight(),
                           false, this);
    m_runFiles = window.run();
    // The list shown keeps the thumbnails, so the next run does not ask about them again.
    QHash<QString, QString> made;
    for (const FileEntry& entry : std::as_const(m_runFiles))
        if (!entry.thumbnail.isEmpty())
            made.insert(entry.path, entry.thumbnail);
    for (FileEntry& entry : m_files)
        if (entry.thumbnail.isEmpty())
            entry.thumbnail = made.value(entry.path);
}

bool MainWindow::checkServerChosen() {
    // Without a server there is nothing to connect to; a server read from a file may also
    // name a type no driver serves.
    QString problem;
    if (!hasServers()) {
        offerNewServer();
        return false;
    }
    if (!m_config->serverExists(m_config->currentServer))
        problem = tr("Please choose a server in the Servers menu first.");
    else
        problem = serverTypeProblem(*m_config);
    if (problem.isEmpty())
        return true;
    dialogs().showMessage(problem, MessageKind::Error, MessageButtons::Ok);
    return false;
}

void MainWindow::runUpload(const ServerRecord& server, const QString& remoteDir) {
    m_session = std::make_unique<UploadSession>(
        [this](const QString& name, qint64 size, qint64 sent) { uploadProgress(name, size, sent); },
        [this](const QString& text, int index) { uploadStatus(text, index); }, server[Type].toInt(),
        m_config->overwritePolicy(), m_config->logTraffic(), standardDrivers(m_config->programDir));
    configureSession(*m_session, *m_config);

    if (!m_session->login(server[Hostname], server[Port], server[Username], server[Password],
                          server[KeyFile]))
        return;
    refreshServerDisplay(tr("Logged in, changing directory"), QString());
    if (!m_session->enterDir(server[RootDir], false, true) ||
        !m_session->enterDir(remoteDir, false, true))
        return;
    refreshServerDisplay(tr("Uploading files"), QString());
    // A list of the run's own, which nothing changes while the session walks through it.
    const FileList files = m_runFiles;
    m_uploadResults = m_session->uploadFiles(files);
}

void MainWindow::endUpload() {
    if (!m_session)
        return;
    m_renamedFiles = m_session->renamedFiles();
    const QStringList lines = m_session->logLines();
    m_session.reset();
    writeLog(lines);
}

void MainWindow::writeLog(const QStringList& lines) {
    try {
        writeUploadLog(m_config->programDir, lines);
    } catch (const Error& error) {
        dialogs().showMessage(error.message(), MessageKind::Error, MessageButtons::Ok);
    }
}

void MainWindow::cancelUpload() {
    m_userCancelled = true;
    if (m_session)
        m_session->cancel();
}

} // namespace quaddle
