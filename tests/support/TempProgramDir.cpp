#include "TempProgramDir.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace quaddle::test {

TTempProgramDir::TTempProgramDir() {
    QDir(Root.path()).mkpath(QStringLiteral("program"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, SettingsRoot());
    SetStoredProgramDir(Root.filePath(QStringLiteral("program")));
}

QString TTempProgramDir::Path() const {
    return Root.filePath(QStringLiteral("program")) + QLatin1Char('/');
}

QString TTempProgramDir::SettingsRoot() const {
    return Root.filePath(QStringLiteral("settings"));
}

void TTempProgramDir::WriteFile(const QString& name, const QByteArray& contents) const {
    QFile file(FilePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + file.fileName()), __FILE__,
                     __LINE__);
}

QByteArray TTempProgramDir::ReadFile(const QString& name) const {
    QFile file(FilePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TTempProgramDir::SetStoredProgramDir(const std::optional<QString>& value) const {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quaddle"),
                    QStringLiteral("Quaddle"));
    if (value)
        store.setValue(QStringLiteral("ProgramDir"), *value);
    else
        store.remove(QStringLiteral("ProgramDir"));
    store.sync();
}

QProcessEnvironment TTempProgramDir::Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), SettingsRoot());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace quaddle::test
