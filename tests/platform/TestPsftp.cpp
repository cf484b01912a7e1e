#include "platform/Psftp.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quaddle;

class TestPsftp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void programFolderBeforePath_data();
    void programFolderBeforePath();

private:
    void placePsftp(const QString& folder, bool executable) const;

    QTemporaryDir m_root;
    QString m_workingDirBefore;
    QByteArray m_pathBefore;
};

void TestPsftp::placePsftp(const QString& folder, bool executable) const {
    QVERIFY(QDir(m_root.path()).mkpath(folder));
    QFile file(m_root.filePath(folder + "/psftp"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    QVERIFY(file.setPermissions(permissions));
}

void TestPsftp::initTestCase() {
    placePsftp("program", true);
    placePsftp("plain", false);
    placePsftp("work", true);
    placePsftp("work/sub", true);
    placePsftp("bin", true);
    m_workingDirBefore = QDir::currentPath();
    m_pathBefore = qgetenv("PATH");
    QVERIFY(QDir::setCurrent(m_root.filePath("work")));
    qputenv("PATH", QFile::encodeName(m_root.filePath("bin")));
}

void TestPsftp::cleanupTestCase() {
    QDir::setCurrent(m_workingDirBefore);
    qputenv("PATH", m_pathBefore);
}

void TestPsftp::programFolderBeforePath_data() {
    QTest::addColumn<QString>("programDir"); // relative to the root when it starts with "@"
    QTest::addColumn<QString>("expected");   // relative to the root
    QTest::newRow("program folder") << "@program/"
                                    << "program/psftp";
    QTest::newRow("not executable") << "@plain/"
                                    << "bin/psftp";
    // The working directory is never searched, whatever it holds.
    QTest::newRow("empty") << ""
                           << "bin/psftp";
    QTest::newRow("relative") << "sub/"
                              << "bin/psftp";
}

void TestPsftp::programFolderBeforePath() {
    QFETCH(QString, programDir);
    QFETCH(QString, expected);
    if (programDir.startsWith('@'))
        programDir = m_root.filePath(programDir.mid(1));
    QCOMPARE(findPsftp(programDir), m_root.filePath(expected));
}

QTEST_GUILESS_MAIN(TestPsftp)
#include "TestPsftp.moc"
