#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QTemporaryFile;

namespace quaddle {

// The user's key file in the format the SSH program reads: the file itself when it is in that
// format already, else a copy converted by puttygen, kept encrypted with the key's own
// passphrase in the program's owner-only temporary folder and removed with this object.
class ProgramKey {
public:
    enum class Format { Putty, OpenSsh };

    explicit ProgramKey(Format format);
    ~ProgramKey();
    ProgramKey(const ProgramKey&) = delete;
    ProgramKey& operator=(const ProgramKey&) = delete;

    // Removes the copies that runs which ended without removing them (killed, crashed) left.
    static void removeLeftovers();

    // The file to give the program for keyFile, converted once per key file. askPassphrase is
    // asked for an encrypted key's passphrase before converting; empty when it declined.
    // Throws Error naming keyFile when the key cannot be read or converted.
    QString pathFor(const QString& keyFile,
                    const std::function<std::optional<QString>()>& askPassphrase);
    // The passphrase the converted copy was made with, the first time only after each
    // pathFor: the program asks for it, and the user should not have to give it twice.
    std::optional<QString> takePassphrase();

private:
    Format m_format;
    QString m_source;
    std::unique_ptr<QTemporaryFile> m_converted;
    QString m_passphrase;
    bool m_passphraseTaken = true;
};

} // namespace quaddle
