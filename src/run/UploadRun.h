#pragma once

#include "config/Config.h"
#include "results/UrlBuilder.h"
#include "run/StrippedPhotos.h"
#include "thumbs/Thumbnail.h"
#include "upload/UploadSession.h"

#include <functional>
#include <memory>
#include <optional>

namespace quaddle {

// The steps of an upload run, in their order.
enum class RunStep { Thumbnails, Configure, Login, EnterDirs, Upload, Done };

// How the face takes part in a run: progress, status, file, stepStarted and thumbnailsMade do
// nothing unless set; showThumbnails and logsError must be set.
struct UploadRunEvents {
    ProgressEvent progress = [](const QString&, qint64, qint64) {};
    StatusEvent status = [](const QString&, int) {};
    // Each file's stage, under the path the face gave it.
    FileEvent file = [](const FileReport&) {};
    std::function<void(RunStep step)> stepStarted = [](RunStep) {};
    // Shows that the thumbnails the user asked for are being made (while the run goes on), and
    // returns what tells the face of their progress.
    std::function<ThumbnailEvents()> showThumbnails;
    // They are made, or stopped: the files with those made.
    std::function<void(const FileList& files)> thumbnailsMade = [](const FileList&) {};
    // Whether log.txt tells of the fatal error that stopped the run in this step.
    std::function<bool(RunStep step)> logsError;
};

// A file of the run that did not go up, or whose thumbnail did not.
struct MissingFile {
    QString path;
    bool thumbnailOnly = false;
};

struct UploadRunResult {
    FileList files;                          // as they went up, with the thumbnails made
    RunStep stoppedAt = RunStep::Thumbnails; // Done when every step went through
    std::optional<QString> error;            // the fatal error that stopped the run
    std::optional<QString> logError;         // why log.txt could not be written
    UploadResults uploaded;                  // also those that went up before a fatal error
    QList<MissingFile> missing;
    RenamedFiles renamed;
    // The user stopped at an error to mend the server's settings.
    bool serverEditWanted = false;
};

// One upload run, as both faces make it: thumbnails, the session from login to the last file,
// and log.txt. The face shows its progress and presents the result.
class UploadRun {
public:
    // remoteDir: as the user chose it, also below the server's root directory.
    UploadRun(Config& config, ServerRecord server, QString remoteDir, int overwrite,
              UploadRunEvents events);
    ~UploadRun();
    UploadRun(const UploadRun&) = delete;
    UploadRun& operator=(const UploadRun&) = delete;

    // Instead of the setting Connections, for this run only.
    void setConnections(int count) { m_connections = count; }
    // Instead of the setting StripMetadata, for this run only.
    void setStripMetadata(bool on) { m_stripMetadata = on; }
    // Instead of the setting MakeThumbnails, for this run only.
    void setThumbnailPolicy(Config::ThumbnailPolicy policy) { m_thumbnailPolicy = policy; }
    const UploadRunResult& run(FileList files);
    // Stops the run: before the session it starts none, else the session stops.
    void cancel();
    // The session while it runs, for its byte counters.
    const UploadSession* session() const { return m_session.get(); }
    QStringList urlLines(TagStyle style) const;

private:
    // Puts the photos' copies without metadata in their place, when the run is to strip them.
    void stripPhotos();
    // The user's own paths back in the result, and the photos that could not be stripped.
    void restorePhotoPaths();
    // Begins the thumbnails the user asks for, if any.
    void startThumbnails();
    // Whether the setting or, when it asks, the user wants thumbnails of images.
    bool thumbnailsWanted(ThumbnailImages images);
    // Waits for those begun; the files with them.
    FileList endThumbnails();
    void enter(RunStep step);
    void connectAndUpload();
    void stop(const QString& message);
    void finish();

    Config& m_config;
    const ServerRecord m_server;
    const QString m_remoteDir;
    const int m_overwrite;
    const UploadRunEvents m_events;
    bool m_cancelled = false;
    std::optional<int> m_connections;
    std::optional<bool> m_stripMetadata;
    std::optional<Config::ThumbnailPolicy> m_thumbnailPolicy;
    StrippedPhotos m_photos;
    std::unique_ptr<ThumbnailRun> m_thumbnails;
    std::unique_ptr<UploadSession> m_session;
    UploadRunResult m_result;
};

} // namespace quaddle
