// A run as the main window shows it, against real FTP servers: each file's state in the list,
// the status bar's texts, and the way to the server's settings after an error. What the
// window shows is held against what the server's folder holds.
#include "FtpServer.h"
#include "LocalFiles.h"
#include "ProgramFixture.h"
#include "ScriptedDialogs.h"
#include "ServerConfig.h"
#include "TempProgramDir.h"
#include "WidgetLookup.h"
#include "app/MainWindow.h"
#include "configwindow/ConfigWindow.h"
#include "upload/UploadSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using namespace quaddle;
using quaddle::test::control;
using quaddle::test::FtpServer;

namespace {

// The state column of the file list, by file name.
using States = QMap<QString, QString>;

States statesOf(const QTableWidget& table) {
    States states;
    for (int row = 0; row < table.rowCount(); ++row)
        if (table.item(row, 0) && table.item(row, 1))
            states.insert(table.item(row, 0)->text(), table.item(row, 1)->text());
    return states;
}

} // namespace

class TestMainWindowRun : public QObject, test::ProgramFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eachFileShowsItsState();
    void runEnd_data();
    void runEnd();
    void statusBarKeepsConnectionsAndCounts_data();
    void statusBarKeepsConnectionsAndCounts();

private:
    // Records a picture of the list's state column at each of its changes.
    void recordStates(QTableWidget& table);

    std::unique_ptr<QTemporaryDir> m_local;
    QList<States> m_seen;
};

void TestMainWindowRun::init() {
    startTest();
    m_local = std::make_unique<QTemporaryDir>();
    m_seen.clear();
}

void TestMainWindowRun::cleanup() {
    finishTest();
    m_local.reset();
}

void TestMainWindowRun::recordStates(QTableWidget& table) {
    connect(table.model(), &QAbstractItemModel::dataChanged, this, [this, &table] {
        const States now = statesOf(table);
        if (m_seen.isEmpty() || m_seen.last() != now)
            m_seen.append(now);
    });
}

void TestMainWindowRun::eachFileShowsItsState() {
    // One connection, so the files go in their order; the third file sent is refused as by a
    // full disk, and c.bin is on the server already, where the option keeps it.
    FtpServer server("diskfull3");
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server),
                           {{"Overwrite", SettingValue::integer(PolicySkip)},
                            {"Connections", SettingValue::integer(1)}});
    test::writeFile(server.localPath("c.bin"), "kept on the server");
    const QStringList names{"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"};
    QStringList files;
    for (const QString& name : names)
        files.append(test::randomLocalFile(*m_local, name, 3 << 20));
    MainWindow form(files);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* table = control<QTableWidget>(form, "fileTable");
    // Before any run there is nothing to say about the files.
    QVERIFY(table->isColumnHidden(1));
    recordStates(*table);
    m_dialogs->expectErrorQuestionMatching(".*Exceeded storage allocation.*", true);
    form.startUpload();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);

    // What the server holds decides what each file's last state must be.
    States expected;
    for (const QString& name : names) {
        const QString remote = server.localPath(name);
        if (!QFile::exists(remote))
            expected.insert(name, "Failed");
        else if (test::fileChecksum(remote) == test::fileChecksum(m_local->filePath(name)))
            expected.insert(name, "Done");
        else
            expected.insert(name, "Skipped");
    }
    QCOMPARE(expected, (States{{"a.bin", "Done"},
                               {"b.bin", "Done"},
                               {"c.bin", "Skipped"},
                               {"d.bin", "Failed"},
                               {"e.bin", "Done"}}));
    const States last = statesOf(*table);
    QVERIFY(!table->isColumnHidden(1));
    for (const QString& name : names)
        QVERIFY2(last.value(name).startsWith(expected.value(name)),
                 qPrintable(name + ": " + last.value(name)));
    // The reason is the server's own, in the list and whole in the row's tip.
    QVERIFY2(last.value("d.bin").contains("Exceeded storage allocation"),
             qPrintable(last.value("d.bin")));
    QVERIFY(table->item(3, 1)->toolTip().contains("552"));

    // Every file waited until its turn, and each sent one showed its progress, rising.
    // The first picture in which every file has its state, as the run begins.
    const auto begun = std::find_if(m_seen.cbegin(), m_seen.cend(), [&](const States& states) {
        return states.size() == names.size() && !states.values().contains(QString());
    });
    QVERIFY(begun != m_seen.cend());
    for (const QString& name : names)
        QCOMPARE(begun->value(name), QStringLiteral("Waiting"));
    const QRegularExpression sending("^Sending (\\d+)%$");
    for (const QString& name : QStringList{"a.bin", "b.bin", "e.bin"}) {
        QList<int> percents;
        for (const States& states : std::as_const(m_seen)) {
            const QRegularExpressionMatch match = sending.match(states.value(name));
            if (match.hasMatch() &&
                (percents.isEmpty() || percents.last() != match.captured(1).toInt()))
                percents.append(match.captured(1).toInt());
        }
        QVERIFY2(percents.size() >= 2, qPrintable(name));
        QVERIFY(std::is_sorted(percents.cbegin(), percents.cend()));
        QVERIFY(percents.last() > 0);
    }
    // When d.bin failed, e.bin had not begun.
    const auto failed = std::find_if(m_seen.cbegin(), m_seen.cend(), [](const States& states) {
        return states.value("d.bin").startsWith("Failed");
    });
    QVERIFY(failed != m_seen.cend());
    QCOMPARE(failed->value("e.bin"), QStringLiteral("Waiting"));
    QCOMPARE(failed->value("a.bin"), QStringLiteral("Done"));
    QCOMPARE(failed->value("c.bin"), QStringLiteral("Skipped"));
}

void TestMainWindowRun::runEnd_data() {
    QTest::addColumn<QString>("fault"); // faulty_ftpd.py's mode; empty: pyftpdlib as it is
    QTest::addColumn<bool>("unreachable");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("editOffered");
    QTest::newRow("all sent") << "" << false << "Test server: Ready" << false;
    QTest::newRow("every file refused")
        << "storfull" << false << "Test server: Nothing was uploaded" << true;
    QTest::newRow("server not reached")
        << "" << true << "Test server: Nothing was uploaded" << true;
}

void TestMainWindowRun::runEnd() {
    QFETCH(QString, fault);
    QFETCH(bool, unreachable);
    QFETCH(QString, status);
    QFETCH(bool, editOffered);
    std::unique_ptr<FtpServer> server =
        fault.isEmpty() ? std::make_unique<FtpServer>() : std::make_unique<FtpServer>(fault);
    QUADDLE_REQUIRE_SERVER(*server);
    test::ServerSetup setup = test::setupFor(*server);
    if (unreachable) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        setup.port = closed.serverPort();
    }
    test::saveServerConfig(setup);
    const QStringList files{test::randomLocalFile(*m_local, "a.bin", 1000),
                            test::randomLocalFile(*m_local, "b.bin", 1000)};
    MainWindow form(files);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (unreachable)
        m_dialogs->expectMessageMatching("A fatal error occurred: \\nCould not connect.*");
    if (!fault.isEmpty()) {
        m_dialogs->expectErrorQuestionMatching(".*", true);
        m_dialogs->expectErrorQuestionMatching(".*", true);
    }
    form.startUpload();
    QUADDLE_VERIFY_DIALOGS(*m_dialogs);
    if (status.endsWith("Ready"))
        QVERIFY(QFile::exists(server->localPath("a.bin")) &&
                QFile::exists(server->localPath("b.bin")));
    else
        QVERIFY(!QFile::exists(server->localPath("a.bin")) &&
                !QFile::exists(server->localPath("b.bin")));
    QCOMPARE(control<QLabel>(form, "serverLabel")->text(), status);
    for (const QString& state : statesOf(*control<QTableWidget>(form, "fileTable")))
        QVERIFY2(state.startsWith(QLatin1String(editOffered ? "Failed: " : "Done")),
                 qPrintable(state));

    QCOMPARE(control<QWidget>(form, "runErrorBar")->isVisible(), editOffered);
    if (!editOffered)
        return;
    QCOMPARE(control<QLabel>(form, "runErrorBarLabel")->text(),
             QStringLiteral("Not every file was uploaded."));
    auto* edit = control<QPushButton>(form, "editServerButton");
    QCOMPARE(edit->text(), QStringLiteral("Edit Server\u2026"));
    QTest::mouseClick(edit, Qt::LeftButton);
    auto* manager = form.findChild<ConfigWindow*>();
    QVERIFY(manager && manager->isVisible());
    QVERIFY(control<QWidget>(*manager, "serverPage")->isVisible());
    QCOMPARE(control<QTreeWidget>(*manager, "serverTree")->currentItem()->text(0),
             QStringLiteral("Test server"));
    QCOMPARE(control<QLineEdit>(*manager, "hostEdit")->text(), setup.host);
    QCOMPARE(control<QLineEdit>(*manager, "portEdit")->text(), QString::number(setup.port));
    manager->close();
}

void TestMainWindowRun::statusBarKeepsConnectionsAndCounts_data() {
    QTest::addColumn<int>("width");      // 0: the window's smallest
    QTest::addColumn<QString>("status"); // while a file goes
    QTest::newRow("smallest window") << 0 << "^Test.*\u2026.*-\\d\\.bin$";
    QTest::newRow("wider window") << 720 << "^Test server: holiday-.*-\\d\\.bin$";
}

void TestMainWindowRun::statusBarKeepsConnectionsAndCounts() {
    QFETCH(int, width);
    QFETCH(QString, status);
    FtpServer server;
    QUADDLE_REQUIRE_SERVER(server);
    test::saveServerConfig(test::setupFor(server), {{"Connections", SettingValue::integer(3)}});
    QStringList files;
    for (int i = 1; i <= 9; ++i)
        files.append(test::randomLocalFile(
            *m_local,
            QStringLiteral("holiday-at-the-sea-with-the-whole-family-and-the-dog-%1.bin").arg(i),
            2 << 20));
    MainWindow form(files);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(width > 0 ? QSize(width, form.height()) : form.minimumSize());
    auto* label = control<QLabel>(form, "serverLabel");
    auto* counts = control<QLabel>(form, "runLabel");
    // What the status bar showed at each change of a file's state, and whether it fitted.
    QStringList statuses;
    QStringList countTexts;
    QStringList cutOff;
    connect(control<QTableWidget>(form, "fileTable")->model(), &QAbstractItemModel::dataChanged,
            this, [&] {
                // Measured as shown, once the status bar has laid out the new texts.
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                statuses.append(label->text());
                countTexts.append(counts->text());
                for (const QLabel* shown : {label, counts})
                    if (shown->fontMetrics().horizontalAdvance(shown->text()) >
                        shown->contentsRect().width())
                        cutOff.append(shown->text());
            });
    form.startUpload();
    QCOMPARE(QDir(server.localPath("")).entryList({"holiday-*"}, QDir::Files).size(), files.size());

    QVERIFY2(cutOff.isEmpty(), qPrintable(cutOff.join('\n')));
    // A file's name gives way in its middle, the server's only where there is no room.
    const QRegularExpression sending(status);
    int filesShown = 0;
    for (const QString& text : std::as_const(statuses))
        if (text.endsWith(".bin")) {
            QVERIFY2(sending.match(text).hasMatch(), qPrintable(text));
            ++filesShown;
        }
    QVERIFY(filesShown > 0);
    // The counts, and the connections beside them, show whole.
    const QRegularExpression count("^file \\d of 9(, \\d+:\\d\\d left)?( \\(\\d connections\\))?$");
    int withConnections = 0;
    for (const QString& text : std::as_const(countTexts))
        if (!text.isEmpty()) {
            QVERIFY2(count.match(text).hasMatch(), qPrintable(text));
            withConnections += text.endsWith(" (3 connections)") ? 1 : 0;
        }
    QVERIFY(withConnections > 0);
}

QTEST_MAIN(TestMainWindowRun)
#include "TestMainWindowRun.moc"
