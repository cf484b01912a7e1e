#include "TempProgramDir.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

namespace quaddle::test {

TempProgramDir::TempProgramDir() {
    QDir(m_root.path()).mkpath(QStringLiteral("program"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsRoot());
    setStoredProgramDir(m_root.filePath(QStringLiteral("program")));
}

QString TempProgramDir::path() const {
    return m_root.filePath(QStringLiteral("program")) + QLatin1Char('/');
}

QString TempProgramDir::settingsRoot() const {
    return m_root.filePath(QStringLiteral("settings"));
}

void TempProgramDir::writeFile(const QString& name, const QByteArray& contents) const {
    QFile file(filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        QTest::qFail(qPrintable(QStringLiteral("cannot write ") + file.fileName()), __FILE__,
                     __LINE__);
}

QByteArray TempProgramDir::readFile(const QString& name) const {
    QFile file(filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TempProgramDir::setStoredProgramDir(const std::optional<QString>& value) const {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quaddle"),
                    QStringLiteral("Quaddle"));
    if (value)
        store.setValue(QStringLiteral("ProgramDir"), *value);
    else
        store.remove(QStringLiteral("ProgramDir"));
    store.sync();
}

QProcessEnvironment TempProgramDir::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), settingsRoot());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace quaddle::test
