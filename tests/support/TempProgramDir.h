#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <optional>

namespace quaddle::test {

// A throw-away program directory, and a per-user settings store that points the program at
// it. For the lifetime of the object, this process reads its settings store from a temporary
// folder; started programs do so when given Environment().
class TTempProgramDir {
public:
    TTempProgramDir();

    // The program directory with its trailing "/".
    QString Path() const;
    QString FilePath(const QString& name) const { return Path() + name; }
    void WriteFile(const QString& name, const QByteArray& contents) const;
    QByteArray ReadFile(const QString& name) const;

    // Sets the store's "ProgramDir" value; nothing removes it.
    void SetStoredProgramDir(const std::optional<QString>& value) const;

    // For a started program: this settings store, and the offscreen platform.
    QProcessEnvironment Environment() const;

private:
    QString SettingsRoot() const;

    QTemporaryDir Root;
};

} // namespace quaddle::test
