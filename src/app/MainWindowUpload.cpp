// The upload run: what pressing Upload does, from the file list to the uploaded files.
#include "app/MainWindow.h"
#include "gui/SuccessWindow.h"
#include "gui/ThumbnailWindow.h"
#include "platform/DesktopNotification.h"
#include "platform/Dialogs.h"
#include "upload/UploadRunSupport.h"

#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <algorithm>

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
    m_speedBytes = 0;
    m_speedTime = m_clock();
    UploadRun upload(*m_config, server, m_remoteDirBox->currentText(), m_config->overwritePolicy(),
                     runEvents());
    m_run = &upload;
    const UploadRunResult& result = upload.run(m_runFiles);
    m_run = nullptr;
    endUpload(result);
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
    const bool closing = m_config->autoClose() && !result.error && !result.serverEditWanted &&
                         !m_uploadResults.isEmpty();
    // The user learns of a run that ended while they were elsewhere, or whose window closes.
    if (!m_userCancelled && (closing || !isActiveWindow()) && m_config->desktopNotifications())
        notifyRunEnd(result);
    if (result.serverEditWanted)
        openServerManagerOn(m_config->currentServer);
    if (m_uploadResults.isEmpty())
        return;
    // Before a close by "Autoclose", so the lines outlive the program (see README).
    if (m_config->autoCopy())
        copyLines(resultLines(storedTagStyle(*m_config)));
    // After an error the user sees which files made it before anything closes.
    if (closing)
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
        host.uploadMore = [this] {
            m_files.clear();
            refreshFiles();
            show();
            raise();
            activateWindow();
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

UploadRunEvents MainWindow::runEvents() {
    UploadRunEvents events;
    events.progress = [this](const QString& name, qint64 size, qint64 sent) {
        uploadProgress(name, size, sent);
    };
    events.status = [this](const QString& text, int index) { uploadStatus(text, index); };
    events.stepStarted = [this](RunStep step) { showStep(step); };
    events.showThumbnails = [this] { return showThumbnails(); };
    events.thumbnailsMade = [this](const FileList& files) { keepThumbnails(files); };
    // Cancel ends the run as the user wanted: no error of it goes into the log.
    events.logsError = [this](RunStep) { return !m_userCancelled; };
    return events;
}

void MainWindow::showStep(RunStep step) {
    switch (step) {
    case RunStep::Configure:
        refreshServerDisplay(tr("Connecting"), QString());
        setControlsEnabled(false);
        break;
    case RunStep::EnterDirs:
        refreshServerDisplay(tr("Logged in, changing directory"), QString());
        break;
    case RunStep::Upload:
        refreshServerDisplay(tr("Uploading files"), QString());
        break;
    case RunStep::Thumbnails:
    case RunStep::Login:
    case RunStep::Done:
        break;
    }
}

ThumbnailEvents MainWindow::showThumbnails() {
    refreshServerDisplay(tr("Creating thumbnails"), QString());
    m_thumbnailWindow = std::make_unique<ThumbnailWindow>(false, this);
    return m_thumbnailWindow->begin();
}

void MainWindow::keepThumbnails(const FileList& files) {
    m_thumbnailWindow.reset();
    m_runFiles = files;
    // The list shown keeps the thumbnails, so the next run does not ask about them again.
    QHash<QString, QString> made;
    for (const FileEntry& entry : files)
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

void MainWindow::endUpload(const UploadRunResult& result) {
    m_uploadResults = result.uploaded;
    m_renamedFiles = result.renamed;
    if (result.error && !m_userCancelled)
        dialogs().showMessage(tr("A fatal error occurred: ") + LineBreak + *result.error,
                              MessageKind::Error, MessageButtons::Ok);
    if (result.logError)
        dialogs().showMessage(*result.logError, MessageKind::Error, MessageButtons::Ok);
}

void MainWindow::notifyRunEnd(const UploadRunResult& result) {
    const qsizetype uploaded = result.uploaded.size();
    const auto failed = std::count_if(result.missing.cbegin(), result.missing.cend(),
                                      [](const MissingFile& file) { return !file.thumbnailOnly; });
    const QString summary = uploaded == 0 && result.error ? tr("The upload failed")
                            : uploaded == 1               ? tr("1 file uploaded")
                                                          : tr("%1 files uploaded").arg(uploaded);
    QStringList body;
    if (uploaded > 0 && m_config->autoCopy())
        body.append(tr("The addresses are on the clipboard."));
    if (failed > 0)
        body.append(failed == 1 ? tr("1 file failed.") : tr("%1 files failed.").arg(failed));
    if (result.error)
        body.append(*result.error);
    showDesktopNotification(summary, body.join(QLatin1Char('\n')));
}

void MainWindow::cancelUpload() {
    m_userCancelled = true;
    if (m_run)
        m_run->cancel();
}

} // namespace quaddle
