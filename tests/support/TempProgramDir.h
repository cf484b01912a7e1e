#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <optional>

namespace quaddle::test {

// A throw-away program directory, and a per-user settings store that points the program at
// it. For the lifetime of the object, this process reads its settings store from a temporary
// folder; started programs do so when given Environment().
class TempProgramDir {
public:
    TempProgramDir();

    // The program directory with its trailing "/".
    QString path() const;
    QString filePath(const QString& name) const { return path() + name; }
    void writeFile(const QString& name, const QByteArray& contents) const;
    QByteArray readFile(const QString& name) const;

    // Sets the store's "ProgramDir" value; nothing removes it.
    void setStoredProgramDir(const std::optional<QString>& value) const;

    // For a started program: this settings store, and the offscreen platform.
    QProcessEnvironment environment() const;

private:
    QString settingsRoot() const;

    QTemporaryDir m_root;
};

} // namespace quaddle::test
