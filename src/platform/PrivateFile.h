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

} // namespace quaddle
