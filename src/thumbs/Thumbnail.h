#pragma once

#include "config/FileList.h"
#include "platform/Dialogs.h"

#include <QFont>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace quaddle {

class Config;

struct ThumbnailOptions {
    int maxWidth = 300;
    int maxHeight = 200;
    bool info = true;  // the band naming the source image's size
    bool frame = true; // the one-pixel black frame
    // The band's typeface, which the face takes from the desktop; its size is the band's own.
    QFont bandFont{};
};

// The options config.xml sets, with the desktop's font for the band.
ThumbnailOptions thumbnailOptions(const Config& config);

// Whether the file is one the maker converts: lower-case extension ".jpg", ".jpeg" or ".bmp".
bool isThumbnailSource(const QString& path);
// What pictures among files could still get a thumbnail; nothing when none could.
std::optional<ThumbnailImages> imagesWithoutThumbnails(const FileList& files);

// The user's own folder for this running program's thumbnails: "quaddle-<user name>-<process
// id>" in the temporary directory.
QString thumbnailDir();

// Where the thumbnail of a source goes: thumbnailDir(), the source's name without its
// extension, "_thumb", and the source's extension in lower case
// (PIC.JPEG -> <tmp>/quaddle-<user>-<pid>/PIC_thumb.jpeg). Same-named sources share one path.
QString thumbnailPath(const QString& source);

// The names the thumbnails of a run's files go up as, one per entry, empty for a file that is no
// thumbnail source: X_thumb.jpg for X.jpg, or, where a file of the run or an earlier thumbnail
// has that name already, the first free of X_thumb_001.jpg, X_thumb_002.jpg, ... Without this
// a thumbnail would overwrite a file of the same run on the server.
QStringList thumbnailNames(const FileList& files);

// Makes the thumbnail of a JPEG or BMP image at thumbnailPath(source), or under name in
// thumbnailDir() when one is given, and returns that path.
// The folder is created owner-only, and refused when it is someone else's or open to others;
// the file is owner-only too. A file already there is replaced only once the new one is
// complete, so a failure leaves it as it was. The picture is scaled down to fit the limits (never
// enlarged), optionally with the band and the frame, and saved in the source's format. Throws Error
// on any failure: unreadable, corrupt or too large an image, or a thumbnail that cannot be written.
// Needs a QGuiApplication to draw the band's text; may run on any thread.
QString makeThumbnail(const QString& source, const ThumbnailOptions& options,
                      const QString& name = QString());

// What a face does while a run's thumbnails are made. Both are called on the thread that called
// makeThumbnails, never on a worker.
struct ThumbnailEvents {
    // How many of the count thumbnails are done, made or failed: 0 before the first begins, then
    // after each. false stops: no further one is begun, those under way are finished.
    std::function<bool(qsizetype done, qsizetype count)> progress;
    // A picture whose thumbnail could not be made; it still goes up, without one.
    std::function<void(const QString& path, const QString& message)> failed;
};

// Makes the thumbnails of a run's pictures on worker threads while the thread that made it goes on
// with other work, such as sending the files that need none; its events come on that thread
// whenever its event loop runs. Destroyed, it begins no further thumbnail and waits for those
// under way.
class ThumbnailRun {
public:
    // As makeThumbnails does with files.
    ThumbnailRun(FileList files, const ThumbnailOptions& options, ThumbnailEvents events,
                 int threads = 0);
    ~ThumbnailRun();
    ThumbnailRun(const ThumbnailRun&) = delete;
    ThumbnailRun& operator=(const ThumbnailRun&) = delete;

    // Whether the file at index is a picture whose thumbnail this run makes.
    bool makes(qsizetype index) const;
    // Begins no further thumbnail.
    void stop();
    // Keeps the event loop running until every thumbnail begun has ended; the files, each
    // picture with the thumbnail made of it.
    const FileList& finish();

private:
    struct Work;
    std::unique_ptr<Work> m_work;
};

// Makes the thumbnail of each existing picture in files, under the name thumbnailNames gives
// it, and sets it as the entry's thumbnail. Several are made at once, on up to threads worker
// threads (0: one per core; never more than the cores, as each holds its file, or a whole bitmap,
// in memory); the calling thread keeps its event loop running meanwhile.
void makeThumbnails(FileList& files, const ThumbnailOptions& options, const ThumbnailEvents& events,
                    int threads = 0);

// Deletes the thumbnails makeThumbnail made in this process, and their folder once it is
// empty. For the end of the program; safe to call more than once.
void removeMadeThumbnails();

} // namespace quaddle
