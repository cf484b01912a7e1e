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
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>

namespace quaddle {

void MainWindow::startUpload() {
    uploadFiles(m_files);
}

void MainWindow::uploadFiles(const FileList& files) {
    m_userCancelled = false;
    if (files.isEmpty()) {
        dialogs().showMessage(tr("There are no files to upload."), MessageKind::Error,
                              MessageButtons::Ok);
        return;
    }
    const ServerRecord server = m_config->currentServerRecord();
    if (!checkServerChosen())
        return;
    // The run walks through its own copy: files dropped meanwhile join the list shown and
    // wait for the next run.
    m_runFiles = files;
    m_runServer = m_config->currentServer;
    m_runErrorBar->hide();
    m_fileStates.clear();
    for (const FileEntry& entry : std::as_const(m_runFiles))
        m_fileStates.insert(entry.path, {false, tr("Waiting"), QString()});
    refreshFiles();
    m_speedBytes = 0;
    m_speedTime = m_clock();
    UploadRun upload(*m_config, server, m_remoteDirBox->currentText(), m_config->overwritePolicy(),
                     runEvents());
    m_run = &upload;
    const UploadRunResult& result = upload.run(m_runFiles);
    m_run = nullptr;
    endUpload(result);
    finishFileStates(result);
    m_runFiles.clear();
    m_runIndex = -1;
    m_runSpeed = 0;
    m_runLabel->clear();
    m_connectionsNote.clear();
    setControlsEnabled(true);
    if (m_userCancelled) {
        refreshServerDisplay(tr("Upload cancelled"), QStringLiteral(" "));
        uploadProgress(QString(), 0, 0);
    } else {
        showRunEnd(result);
    }
    const bool closing = m_config->autoClose() && !result.error && !result.serverEditWanted &&
                         !m_uploadResults.isEmpty();
    // The user learns of a run that ended while they were elsewhere, or whose window closes.
    if (!m_userCancelled && (closing || !isActiveWindow()) && m_config->desktopNotifications())
        notifyRunEnd(result);
    if (result.serverEditWanted)
        editServer(m_runServer);
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

void MainWindow::showRunEnd(const UploadRunResult& result) {
    refreshServerDisplay(m_uploadResults.isEmpty() ? tr("Nothing was uploaded") : QString(),
                         QStringLiteral(" "));
    const bool fileFailed =
        std::any_of(m_fileStates.cbegin(), m_fileStates.cend(),
                    [](const FileState& state) { return !state.reason.isEmpty(); });
    m_runErrorBar->setVisible((result.error || fileFailed) && m_config->serverExists(m_runServer));
}

void MainWindow::showFileReport(const FileReport& report) {
    switch (report.stage) {
    case FileReport::Stage::Sending: {
        const int percent =
            report.size > 0
                ? static_cast<int>(std::clamp<qint64>(report.sent * 100 / report.size, 0, 100))
                : 0;
        showFileState(report.path, {false, tr("Sending %1%").arg(percent), QString()});
        break;
    }
    case FileReport::Stage::Sent:
        showFileState(report.path, {true, tr("Done"), QString()});
        break;
    case FileReport::Stage::Skipped:
        showFileState(report.path, {true, tr("Skipped"), QString()});
        break;
    case FileReport::Stage::Failed:
        showFileState(report.path, failedState(report.reason));
        break;
    }
}

void MainWindow::showFileState(const QString& path, FileState state) {
    const auto known = m_fileStates.constFind(path);
    // Progress comes far more often than its percentage changes.
    if (known == m_fileStates.cend() || known->text == state.text)
        return;
    const int row = m_fileRows.value(path, -1);
    QTableWidgetItem* item = row >= 0 ? m_fileTable->item(row, 1) : nullptr;
    m_fileStates.insert(path, state);
    if (!item)
        return;
    item->setText(state.text);
    item->setToolTip(state.reason);
    if (m_fileTable->fontMetrics().horizontalAdvance(state.text) > m_fileTable->columnWidth(1))
        fitStateColumn();
}

MainWindow::FileState MainWindow::failedState(const QString& reason) {
    const QString why = reason.isEmpty() ? tr("Not uploaded") : reason;
    return {true, tr("Failed: %1").arg(why.simplified()), why};
}

void MainWindow::finishFileStates(const UploadRunResult& result) {
    const FileState unfinished = m_userCancelled ? FileState{true, tr("Cancelled"), QString()}
                                                 : failedState(result.error.value_or(QString()));
    for (const FileEntry& entry : std::as_const(m_runFiles))
        if (!m_fileStates.value(entry.path).finished)
            showFileState(entry.path, unfinished);
}

UploadRunEvents MainWindow::runEvents() {
    UploadRunEvents events;
    events.progress = [this](const QString& name, qint64 size, qint64 sent) {
        uploadProgress(name, size, sent);
    };
    events.status = [this](const QString& text, int index) { uploadStatus(text, index); };
    events.file = [this](const FileReport& report) { showFileReport(report); };
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
