#pragma once

#include <QByteArray>
#include <QString>

namespace quaddle {

// Replaces the file at path with contents in one step: the bytes go to a new file beside it,
// readable by its owner only from the moment it exists, which then takes the old one's place.
// No permission change is needed afterwards, so file systems that refuse one do not fail the
// write. A link at path is replaced, not written through. Throws Error with the system's
// reason when anything fails; the old file then stays as it was and no partial file is left.
void writePrivateFile(const QString& path, const QByteArray& contents);

// Creates the folder, owner-only, when it does not exist yet; its parents are created as
// needed. Returns false when it cannot be created.
bool makePrivateDir(const QString& path);

// The program's folder for files that live as long as a session, such as a converted key:
// "quaddle" in the session's runtime folder ($XDG_RUNTIME_DIR), else "quaddle-UID" in the
// temporary folder; only the user may enter it. Created when missing. Throws Error when it
// cannot be made, or when what is there is no folder of the user's own that only they may
// enter.
QString privateTempDir();

} // namespace quaddle
