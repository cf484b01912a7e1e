#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct CommandRun {
    int exitCode = -1;
    QByteArray output;
};

CommandRun
runCommand(const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll()};
    return {process.exitCode(), process.readAll()};
}

QString script(const QString& name) {
    return QStringLiteral(QUADDLE_SOURCE_DIR "/scripts/") + name;
}

// A user's home as the install sees it: temporary XDG folders, named awkwardly on purpose
// since the store and the desktop entries need escaping for such names.
class UserHome {
public:
    QString root() const { return m_root.path(); }
    QString dataHome() const { return m_root.filePath("data home, v2"); }
    QString configHome() const { return m_root.filePath("config"); }
    QString prefix() const { return m_root.filePath("pre fix"); }
    QString programDir() const { return dataHome() + "/Quaddle"; }
    QProcessEnvironment environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", dataHome());
        environment.insert("XDG_CONFIG_HOME", configHome());
        return environment;
    }
    QVariant storedProgramDir() const {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configHome());
        const QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        return store.value("ProgramDir");
    }

private:
    QTemporaryDir m_root;
};

// The applications gio offers for a file type, and its default, as a file manager sees them
// with nothing installed but what the test installed.
QByteArray offeredFor(const UserHome& home, const QString& type) {
    QProcessEnvironment environment = home.environment();
    environment.insert("HOME", home.root());
    environment.insert("XDG_DATA_DIRS", home.prefix() + "/share");
    environment.insert("XDG_CONFIG_DIRS", home.configHome());
    // Entries whose program is not found are never offered.
    environment.insert("PATH", home.prefix() + "/bin:" + environment.value("PATH"));
    environment.insert("GIO_USE_VFS", "local");
    environment.insert("LC_ALL", "C");
    for (const QString& applications :
         {home.prefix() + "/share/applications", home.dataHome() + "/applications"})
        runCommand("update-desktop-database", {applications});
    const CommandRun run = runCommand("gio", {"mime", type}, environment);
    return run.exitCode == 0 ? run.output : "gio failed: " + run.output;
}

// What an install puts below its prefix.
QStringList installedFiles(const QString& prefix) {
    QStringList files;
    for (const QString& file : QStringList{
             "bin/quaddle", "bin/quaddle-cli", "share/applications/org.example.quaddle.desktop",
             "share/metainfo/org.example.quaddle.metainfo.xml",
             "share/icons/hicolor/scalable/apps/quaddle.svg",
             "share/icons/hicolor/48x48/apps/quaddle.png",
             "share/icons/hicolor/256x256/apps/quaddle.png", "share/man/man1/quaddle.1.gz",
             "share/man/man1/quaddle-cli.1.gz", "share/bash-completion/completions/quaddle",
             "share/bash-completion/completions/quaddle-cli", "share/doc/quaddle/copyright"})
        files.append(prefix + "/" + file);
    return files;
}

bool postInstall(const UserHome& home) {
    const CommandRun run =
        runCommand(script("post-install"), {home.prefix() + "/bin/quaddle"}, home.environment());
    if (run.exitCode != 0)
        qWarning("post-install: %s", run.output.constData());
    return run.exitCode == 0;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void installsForTheUserAndUninstalls();
    void keepsTheProgramDirTheUserHas();
    void onlyTheSwitchOffersQuaddleForFiles();
    void packageCarriesTheProgramAndWhatItLoads();
    void buildShowsItsProgress();
};

void TestInstall::installsForTheUserAndUninstalls() {
    const UserHome home;
    const CommandRun install = runCommand(
        QStringLiteral(QUADDLE_CMAKE), {"--install", QUADDLE_BUILD_DIR, "--prefix", home.prefix()});
    QVERIFY2(install.exitCode == 0, install.output.constData());
    QVERIFY(postInstall(home));

    const QString prefix = home.prefix();
    const QString program = prefix + "/bin/quaddle";
    const QStringList installed = installedFiles(prefix);
    for (const QString& path : installed)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QImage small(prefix + "/share/icons/hicolor/48x48/apps/quaddle.png");
    QCOMPARE(small.size(), QSize(48, 48));
    QCOMPARE(QImage(prefix + "/share/icons/hicolor/256x256/apps/quaddle.png").size(),
             QSize(256, 256));

    const CommandRun version = runCommand(program, {"--version"});
    QCOMPARE(version.output, QByteArray("Quaddle 0.7.1\n"));

    QCOMPARE(home.storedProgramDir(), QVariant(home.programDir()));
    QVERIFY(QFileInfo(home.programDir()).isDir());
    const QString context = home.programDir() + "/QuaddleContext.desktop";
    QFile contextFile(context);
    QVERIFY(contextFile.open(QIODevice::ReadOnly));
    const QByteArray entry = contextFile.readAll();
    contextFile.close();
    QVERIFY2(entry.contains("\nExec=\"" + program.toUtf8() + "\" %F\n"), entry.constData());
    QVERIFY(entry.contains("\nNoDisplay=true\n"));
    for (const QString& desktopEntry :
         {prefix + "/share/applications/org.example.quaddle.desktop", context}) {
        const CommandRun validate = runCommand("desktop-file-validate", {desktopEntry});
        QVERIFY2(validate.exitCode == 0 && validate.output.isEmpty(),
                 qPrintable(desktopEntry + ": " + QString::fromUtf8(validate.output)));
    }

    // A second run, after the user picked another program directory, changes nothing of it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.configHome());
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        store.setValue("ProgramDir", "/elsewhere");
    }
    QVERIFY(postInstall(home));
    QCOMPARE(home.storedProgramDir(), QVariant("/elsewhere"));
    QVERIFY(QFile::exists(context));

    // The user's files stay; everything installed goes.
    QFile config(home.programDir() + "/config.xml");
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("<qdConfig/>");
    config.close();
    // As the options page registers the "Open With" entry.
    QVERIFY(QDir().mkpath(home.dataHome() + "/applications"));
    QVERIFY(QFile::link(context, home.dataHome() + "/applications/quaddle-context.desktop"));
    const CommandRun uninstall = runCommand(
        script("uninstall"), {QUADDLE_BUILD_DIR "/install_manifest.txt"}, home.environment());
    QVERIFY2(uninstall.exitCode == 0, uninstall.output.constData());
    for (const QString& path : installed)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    QVERIFY(!QFile::exists(context));
    QVERIFY(!QFileInfo(home.dataHome() + "/applications/quaddle-context.desktop").isSymLink());
    QVERIFY(QFile::exists(home.programDir() + "/config.xml"));
}

void TestInstall::keepsTheProgramDirTheUserHas() {
    const UserHome home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.configHome());
    {
        // An empty value is a value: the program's own folder.
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        store.setValue("ProgramDir", "");
        store.setValue("Window/Width", 640);
    }
    QDir().mkpath(home.prefix() + "/bin");
    QVERIFY(postInstall(home));
    QVERIFY(postInstall(home));
    QCOMPARE(home.storedProgramDir(), QVariant(""));
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
    QCOMPARE(store.value("Window/Width").toInt(), 640);
    QVERIFY(QFile::exists(home.programDir() + "/QuaddleContext.desktop"));

    // With only other sections in the store, the value is added once.
    QFile file(home.configHome() + "/Quaddle/Quaddle.conf");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Window]\nWidth=800\n");
    file.close();
    QVERIFY(postInstall(home));
    QVERIFY(postInstall(home));
    QCOMPARE(home.storedProgramDir(), QVariant(home.programDir()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("ProgramDir="), 1);
    const QSettings reread(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
    QCOMPARE(reread.value("Window/Width").toInt(), 800);
}

void TestInstall::onlyTheSwitchOffersQuaddleForFiles() {
    const UserHome home;
    const CommandRun install = runCommand(
        QStringLiteral(QUADDLE_CMAKE), {"--install", QUADDLE_BUILD_DIR, "--prefix", home.prefix()});
    QVERIFY2(install.exitCode == 0, install.output.constData());
    QVERIFY(postInstall(home));
    QVERIFY(QDir().mkpath(home.dataHome() + "/applications"));
    const QStringList types = {"image/png", "text/plain", "application/zip",
                               "application/octet-stream"};

    for (const QString& type : types) {
        const QByteArray offered = offeredFor(home, type);
        QVERIFY2(offered.startsWith("No default applications for") && !offered.contains("quaddle"),
                 qPrintable(type + ": " + QString::fromUtf8(offered)));
    }
    // As the options page switches the entry on.
    const QString link = home.dataHome() + "/applications/quaddle-context.desktop";
    QVERIFY(QFile::link(home.programDir() + "/QuaddleContext.desktop", link));
    for (const QString& type : types) {
        const QByteArray offered = offeredFor(home, type);
        QVERIFY2(offered.contains("Registered applications:\n\tquaddle-context.desktop\n") &&
                     !offered.contains("\torg.example.quaddle.desktop"),
                 qPrintable(type + ": " + QString::fromUtf8(offered)));
    }
    QVERIFY(QFile::remove(link));
    QVERIFY(!offeredFor(home, "image/png").contains("quaddle"));
}

void TestInstall::packageCarriesTheProgramAndWhatItLoads() {
    for (const QString& tool : QStringList{"dpkg-deb", "dpkg-shlibdeps", "appstreamcli"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("dpkg-dev and appstream are needed (scripts/install-deps --test)");
    const QTemporaryDir output;
    const CommandRun pack =
        runCommand(QUADDLE_CPACK, {"-G", "DEB", "--config", QUADDLE_BUILD_DIR "/CPackConfig.cmake",
                                   "-B", output.path()});
    QVERIFY2(pack.exitCode == 0, pack.output.constData());
    const QStringList packages = QDir(output.path()).entryList({"*.deb"});
    QCOMPARE(packages.size(), 1);
    const QString package = output.filePath(packages.first());
    const auto field = [&package](const QString& name) {
        return runCommand("dpkg-deb", {"--field", package, name}).output.trimmed();
    };
    const QString architecture = QString::fromUtf8(field("Architecture"));
    QCOMPARE(packages.first(), "quaddle_0.7.1_" + architecture + ".deb");

    // The history's SQLite driver and the SFTP engine are not linked, so only named here;
    // libqt6gui6 comes from the libraries the programs link.
    QStringList depends;
    for (const QByteArray& dependency : field("Depends").split(','))
        depends.append(QString::fromUtf8(dependency.trimmed().split(' ').first()));
    for (const QString& needed : QStringList{"libqt6sql6-sqlite", "openssh-client", "libqt6gui6"})
        QVERIFY2(depends.contains(needed), qPrintable(needed + ": " + depends.join(", ")));

    const QTemporaryDir root;
    QCOMPARE(runCommand("dpkg-deb", {"-x", package, root.path()}).exitCode, 0);
    for (const QString& path : installedFiles(root.filePath("usr")))
        QVERIFY2(QFile::exists(path), qPrintable(path));
    // The catalogue data, its desktop entry and icon, as software centres read them.
    const CommandRun validate =
        runCommand("appstreamcli", {"validate-tree", "--no-net", root.path()});
    QVERIFY2(validate.exitCode == 0, validate.output.constData());
}

// A build of minutes says what it is and moves on the screen: scripts/run passes the build
// through scripts/build-progress, here fed by a real Ninja build of 21 steps.
void TestInstall::buildShowsItsProgress() {
    QFile run(script("run"));
    QVERIFY(run.open(QIODevice::ReadOnly));
    const QByteArray runText = run.readAll();
    QVERIFY(runText.contains("echo \"Building Quaddle (a few minutes)\xE2\x80\xA6\" >&2\n"));
    QVERIFY(runText.contains("|\n    scripts/build-progress >&2\n"));

    QTemporaryDir project;
    QFile lists(project.filePath("CMakeLists.txt"));
    QVERIFY(lists.open(QIODevice::WriteOnly));
    lists.write("cmake_minimum_required(VERSION 3.16)\nproject(steps NONE)\n"
                "foreach(i RANGE 1 20)\n"
                "  add_custom_command(OUTPUT f${i} COMMAND ${CMAKE_COMMAND} -E touch f${i})\n"
                "  list(APPEND files f${i})\n"
                "endforeach()\n"
                "add_custom_command(OUTPUT said COMMAND ${CMAKE_COMMAND} -E echo "
                "\"warning: a compiler says so\" COMMAND ${CMAKE_COMMAND} -E touch said)\n"
                "add_custom_target(steps ALL DEPENDS ${files} said)\n");
    lists.close();
    const QString build = project.filePath("build");
    QCOMPARE(runCommand(QUADDLE_CMAKE, {"-S", project.path(), "-B", build, "-G", "Ninja"}).exitCode,
             0);
    const CommandRun shown = runCommand("bash", {"-c", "\"$0\" --build \"$1\" | \"$2\"",
                                                 QUADDLE_CMAKE, build, script("build-progress")});
    QCOMPARE(shown.exitCode, 0);
    const QStringList lines = QString::fromUtf8(shown.output).split('\n', Qt::SkipEmptyParts);
    QVERIFY2(lines.contains("warning: a compiler says so"), shown.output.constData());
    // Not a terminal: a line at each tenth of the steps, the last one at the end.
    const QRegularExpression step("^  (\\d+) of 21 steps \\((\\d+)%\\)$");
    int tenth = -1;
    QString last;
    for (const QString& line : lines) {
        if (line.startsWith("warning:"))
            continue;
        const QRegularExpressionMatch match = step.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QVERIFY(match.captured(2).toInt() / 10 > tenth);
        tenth = match.captured(2).toInt() / 10;
        last = line;
    }
    QCOMPARE(last, "  21 of 21 steps (100%)");
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
