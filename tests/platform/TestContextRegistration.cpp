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
    QString Link() const { return Data->filePath("applications/quaddle-context.desktop"); }

    std::unique_ptr<QTemporaryDir> Data;
    QString ProgramDir;
};

void TestContextRegistration::init() {
    Data = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(Data->path()));
    QDir().mkpath(Data->filePath("Program"));
    ProgramDir = Data->filePath("Program") + "/";
    QFile entry(ContextEntryPath(ProgramDir));
    QVERIFY(entry.open(QIODevice::WriteOnly));
}

void TestContextRegistration::cleanup() {
    qunsetenv("XDG_DATA_HOME");
    Data.reset();
}

void TestContextRegistration::nothingRegisteredAtFirst() {
    QCOMPARE(ContextEntryPath(ProgramDir), ProgramDir + "QuaddleContext.desktop");
    QVERIFY(!IsContextRegistered(ProgramDir));
}

void TestContextRegistration::registersAndUnregisters() {
    RegisterContext(ProgramDir);
    QVERIFY(QFileInfo(Link()).isSymLink());
    QCOMPARE(QFileInfo(Link()).symLinkTarget(), ProgramDir + "QuaddleContext.desktop");
    QVERIFY(IsContextRegistered(ProgramDir));
    // Registering again replaces the link.
    RegisterContext(ProgramDir);
    QVERIFY(IsContextRegistered(ProgramDir));
    UnregisterContext();
    QVERIFY(!QFileInfo::exists(Link()) && !QFileInfo(Link()).isSymLink());
    QVERIFY(!IsContextRegistered(ProgramDir));
}

void TestContextRegistration::entryOfAnotherDirectoryIsNotOurs() {
    QDir().mkpath(Data->filePath("Other"));
    const QString other = Data->filePath("Other") + "/";
    RegisterContext(other);
    QVERIFY(!IsContextRegistered(ProgramDir));
    QVERIFY(IsContextRegistered(other));
    RegisterContext(ProgramDir);
    QVERIFY(IsContextRegistered(ProgramDir));
    QVERIFY(!IsContextRegistered(other));
}

void TestContextRegistration::letterCaseCounts() {
    QDir().mkpath(Data->filePath("applications"));
    QVERIFY(QFile::link(ProgramDir + "quaddlecontext.desktop", Link()));
    QVERIFY(!IsContextRegistered(ProgramDir));
}

void TestContextRegistration::plainFileIsNoRegistration() {
    QDir().mkpath(Data->filePath("applications"));
    QFile copy(Link());
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.close();
    QVERIFY(!IsContextRegistered(ProgramDir));
}

QTEST_GUILESS_MAIN(TestContextRegistration)
#include "TestContextRegistration.moc"
