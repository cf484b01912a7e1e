#include "platform/ContextRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;

class TestContextRegistration : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingRegisteredAtFirst();
    void registersAndUnregisters();
    void entryOfAnotherDirectoryIsNotOurs();
    void letterCaseCounts();
    void plainFileIsNoRegistration();

private:
    QString link() const { return m_data->filePath("applications/quaddle-context.desktop"); }

    std::unique_ptr<QTemporaryDir> m_data;
    QString m_programDir;
};

void TestContextRegistration::init() {
    m_data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
    QDir().mkpath(m_data->filePath("Program"));
    m_programDir = m_data->filePath("Program") + "/";
    QFile entry(contextEntryPath(m_programDir));
    QVERIFY(entry.open(QIODevice::WriteOnly));
}

void TestContextRegistration::cleanup() {
    qunsetenv("XDG_DATA_HOME");
    m_data.reset();
}

void TestContextRegistration::nothingRegisteredAtFirst() {
    QCOMPARE(contextEntryPath(m_programDir), m_programDir + "QuaddleContext.desktop");
    QVERIFY(!isContextRegistered(m_programDir));
}

void TestContextRegistration::registersAndUnregisters() {
    registerContext(m_programDir);
    QVERIFY(QFileInfo(link()).isSymLink());
    QCOMPARE(QFileInfo(link()).symLinkTarget(), m_programDir + "QuaddleContext.desktop");
    QVERIFY(isContextRegistered(m_programDir));
    // Registering again replaces the link.
    registerContext(m_programDir);
    QVERIFY(isContextRegistered(m_programDir));
    unregisterContext();
    QVERIFY(!QFileInfo::exists(link()) && !QFileInfo(link()).isSymLink());
    QVERIFY(!isContextRegistered(m_programDir));
}

void TestContextRegistration::entryOfAnotherDirectoryIsNotOurs() {
    QDir().mkpath(m_data->filePath("Other"));
    const QString other = m_data->filePath("Other") + "/";
    registerContext(other);
    QVERIFY(!isContextRegistered(m_programDir));
    QVERIFY(isContextRegistered(other));
    registerContext(m_programDir);
    QVERIFY(isContextRegistered(m_programDir));
    QVERIFY(!isContextRegistered(other));
}

void TestContextRegistration::letterCaseCounts() {
    QDir().mkpath(m_data->filePath("applications"));
    QVERIFY(QFile::link(m_programDir + "quaddlecontext.desktop", link()));
    QVERIFY(!isContextRegistered(m_programDir));
}

void TestContextRegistration::plainFileIsNoRegistration() {
    QDir().mkpath(m_data->filePath("applications"));
    QFile copy(link());
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.close();
    QVERIFY(!isContextRegistered(m_programDir));
}

QTEST_GUILESS_MAIN(TestContextRegistration)
#include "TestContextRegistration.moc"
