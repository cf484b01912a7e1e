#include "run/UploadRun.h"

#include "platform/Error.h"
#include "run/UploadHistory.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadDrivers.h"
#include "upload/UploadRunSupport.h"

namespace quaddle {

namespace {

// Results keep the order of the files: the place in files of each result.
QList<qsizetype> sourcesOf(const FileList& files, const UploadResults& results) {
    QList<qsizetype> sources;
    for (qsizetype index = 0; index < files.size() && sources.size() < results.size(); ++index)
        if (results[sources.size()].file == fileNameOf(files[index].path))
            sources.append(index);
    return sources;
}

// The files missing from the results are the failed ones.
QList<MissingFile> missingFiles(const FileList& files, const UploadResults& results) {
    const QList<qsizetype> sources = sourcesOf(files, results);
    QList<MissingFile> missing;
    for (qsizetype index = 0; index < files.size(); ++index) {
        const qsizetype line = sources.indexOf(index);
        const bool sent = line >= 0;
        const bool thumbnailSent =
            files[index].thumbnail.isEmpty() || (sent && !results[line].thumbnail.isEmpty());
        if (!sent || !thumbnailSent)
            missing.append({files[index].path, sent});
    }
    return missing;
}

// The files that went up, without those left as they were on the server.
QList<SentFile> sentFiles(const FileList& files, const UploadResults& results,
                          const QList<qsizetype>& skipped, const QStringList& digests) {
    const QList<qsizetype> sources = sourcesOf(files, results);
    QList<SentFile> sent;
    for (qsizetype line = 0; line < sources.size(); ++line)
        if (!skipped.contains(line))
            sent.append(
                {files[sources[line]].path, results[line],
                 results[line].thumbnail.isEmpty() ? QString() : files[sources[line]].thumbnail,
                 digests.value(line)});
    return sent;
}

} // namespace

UploadRun::UploadRun(Config& config, ServerRecord server, QString remoteDir, int overwrite,
                     UploadRunEvents events)
    : m_config(config), m_server(std::move(server)), m_remoteDir(std::move(remoteDir)),
      m_overwrite(overwrite), m_events(std::move(events)) {}

UploadRun::~UploadRun() = default;

const UploadRunResult& UploadRun::run(FileList files) {
    m_result = {};
    m_result.files = std::move(files);
    stripPhotos();
    startThumbnails();
    if (!m_cancelled) {
        try {
            connectAndUpload();
        } catch (const Error& error) {
            stop(error.message());
        }
    }
    // Still there when the files did not all go: none is worth beginning.
    if (m_thumbnails)
        m_thumbnails->stop();
    endThumbnails();
    // Cancelled before connecting: nothing went, nothing is missing.
    if (!m_cancelled || m_session)
        finish();
    restorePhotoPaths();
    return m_result;
}

void UploadRun::stripPhotos() {
    if (!m_stripMetadata.value_or(m_config.stripMetadata()))
        return;
    m_photos.strip(m_result.files);
    for (const StrippedPhotos::Failure& failure : m_photos.failures())
        dialogs().notify(MessageKind::Error, failure.message);
}

void UploadRun::restorePhotoPaths() {
    m_result.files = m_photos.restored(m_result.files);
    for (MissingFile& file : m_result.missing)
        file.path = m_photos.originalOf(file.path);
    for (const StrippedPhotos::Failure& failure : m_photos.failures())
        m_result.missing.append({failure.path, false});
}

void UploadRun::cancel() {
    m_cancelled = true;
    if (m_thumbnails)
        m_thumbnails->stop();
    if (m_session)
        m_session->cancel();
}

QStringList UploadRun::urlLines(TagStyle style) const {
    return quaddle::urlLines(m_server, m_remoteDir, m_result.uploaded, style);
}

void UploadRun::startThumbnails() {
    const std::optional<ThumbnailImages> images = imagesWithoutThumbnails(m_result.files);
    if (!images || !thumbnailsWanted(*images))
        return;
    m_thumbnails = std::make_unique<ThumbnailRun>(m_result.files, thumbnailOptions(m_config),
                                                  m_events.showThumbnails());
}

bool UploadRun::thumbnailsWanted(ThumbnailImages images) {
    switch (m_thumbnailPolicy.value_or(m_config.thumbnailPolicy())) {
    case Config::ThumbnailPolicy::Always:
        return true;
    case Config::ThumbnailPolicy::Never:
        return false;
    case Config::ThumbnailPolicy::Ask:
        break;
    }
    const ThumbnailAnswer answer = dialogs().offerThumbnails(images);
    if (answer.neverAsk) {
        m_config.setThumbnailPolicy(answer.make ? Config::ThumbnailPolicy::Always
                                                : Config::ThumbnailPolicy::Never);
        saveConfigDuringRun(m_config);
    }
    return answer.make;
}

FileList UploadRun::endThumbnails() {
    if (!m_thumbnails)
        return m_result.files;
    m_result.files = m_thumbnails->finish();
    m_thumbnails.reset();
    m_events.thumbnailsMade(m_photos.restored(m_result.files));
    return m_result.files;
}

void UploadRun::enter(RunStep step) {
    m_result.stoppedAt = step;
    m_events.stepStarted(step);
}

void UploadRun::connectAndUpload() {
    enter(RunStep::Configure);
    m_session = std::make_unique<UploadSession>(
        m_events.progress, m_events.status, m_server.type.toInt(), m_overwrite,
        m_config.logTraffic(), standardDrivers(m_config.programDir, m_server.sshClient));
    configureSession(*m_session, m_config);
    // A photo goes up from its copy without metadata; the face knows it by its own path.
    m_session->setFileEvent([this](FileReport report) {
        report.path = m_photos.originalOf(report.path);
        m_events.file(report);
    });
    if (m_connections)
        m_session->setConnections(*m_connections);
    enter(RunStep::Login);
    if (!m_session->login(m_server.host, m_server.port, m_server.user, m_server.password,
                          m_server.keyFile))
        return;
    enter(RunStep::EnterDirs);
    if (!m_session->enterDir(m_server.rootDir, false, true) ||
        !m_session->enterDir(sessionRemoteDir(m_server, m_remoteDir), false, true))
        return;
    enter(RunStep::Upload);
    // The files go while their thumbnails are made; the thumbnails follow them.
    const FileList files = m_result.files;
    m_result.uploaded = m_thumbnails
                            ? m_session->uploadFiles(files, [this] { return endThumbnails(); })
                            : m_session->uploadFiles(files);
    enter(RunStep::Done);
}

void UploadRun::stop(const QString& message) {
    m_result.error = message;
    if (!m_session)
        return;
    // The files that went up before the error are on the server: their addresses count.
    m_result.uploaded = m_session->uploadedFiles();
    if (m_events.logsError(m_result.stoppedAt))
        m_session->addLog(message, LogError);
}

void UploadRun::finish() {
    m_result.missing = missingFiles(m_result.files, m_result.uploaded);
    if (!m_session)
        return;
    m_result.renamed = m_session->renamedFiles();
    m_result.serverEditWanted = m_session->serverEditWanted();
    recordUploads(m_config, m_server, m_remoteDir,
                  sentFiles(m_result.files, m_result.uploaded, m_session->skippedFiles(),
                            m_session->sentDigests()),
                  m_result.renamed);
    const QStringList lines = m_session->logLines();
    m_session.reset();
    try {
        writeUploadLog(m_config.programDir, lines);
    } catch (const Error& error) {
        m_result.logError = error.message();
    }
}

} // namespace quaddle
