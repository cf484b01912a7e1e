#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct TRun {
    int ExitCode = -1;
    QByteArray Output;
};

TRun Run(const QString& program, const QStringList& arguments,
         const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, process.readAll()};
    return {process.exitCode(), process.readAll()};
}

QString Script(const QString& name) {
    return QStringLiteral(QUADDLE_SOURCE_DIR "/scripts/") + name;
}

// A user's home as the install sees it: temporary XDG folders, named awkwardly on purpose
// since the store and the desktop entries need escaping for such names.
class TUserHome {
public:
    QString DataHome() const { return Root.filePath("data home, v2"); }
    QString ConfigHome() const { return Root.filePath("config"); }
    QString Prefix() const { return Root.filePath("pre fix"); }
    QString ProgramDir() const { return DataHome() + "/Quaddle"; }
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", DataHome());
        environment.insert("XDG_CONFIG_HOME", ConfigHome());
        return environment;
    }
    QVariant StoredProgramDir() const {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, ConfigHome());
        const QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        return store.value("ProgramDir");
    }

private:
    QTemporaryDir Root;
};

bool PostInstall(const TUserHome& home) {
    const TRun run =
        Run(Script("post-install"), {home.Prefix() + "/bin/quaddle"}, home.Environment());
    if (run.ExitCode != 0)
        qWarning("post-install: %s", run.Output.constData());
    return run.ExitCode == 0;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void installsForTheUserAndUninstalls();
    void keepsTheProgramDirTheUserHas();
};

void TestInstall::installsForTheUserAndUninstalls() {
    const TUserHome home;
    const TRun install = Run(QStringLiteral(QUADDLE_CMAKE),
                             {"--install", QUADDLE_BUILD_DIR, "--prefix", home.Prefix()});
    QVERIFY2(install.ExitCode == 0, install.Output.constData());
    QVERIFY(PostInstall(home));

    const QString prefix = home.Prefix();
    const QString program = prefix + "/bin/quaddle";
    const QStringList installed = {program, prefix + "/share/applications/quaddle.desktop",
                                   prefix + "/share/icons/hicolor/scalable/apps/quaddle.svg",
                                   prefix + "/share/icons/hicolor/48x48/apps/quaddle.png",
                                   prefix + "/share/icons/hicolor/256x256/apps/quaddle.png"};
    for (const QString& path : installed)
        QVERIFY2(QFile::exists(path), qPrintable(path));
    QImage small(prefix + "/share/icons/hicolor/48x48/apps/quaddle.png");
    QCOMPARE(small.size(), QSize(48, 48));
    QCOMPARE(QImage(prefix + "/share/icons/hicolor/256x256/apps/quaddle.png").size(),
             QSize(256, 256));

    const TRun version = Run(program, {"--version"});
    QCOMPARE(version.Output, QByteArray("Quaddle 0.7.1\n"));

    QCOMPARE(home.StoredProgramDir(), QVariant(home.ProgramDir()));
    QVERIFY(QFileInfo(home.ProgramDir()).isDir());
    const QString context = home.ProgramDir() + "/QuaddleContext.desktop";
    QFile contextFile(context);
    QVERIFY(contextFile.open(QIODevice::ReadOnly));
    const QByteArray entry = contextFile.readAll();
    contextFile.close();
    QVERIFY2(entry.contains("\nExec=\"" + program.toUtf8() + "\" %F\n"), entry.constData());
    QVERIFY(entry.contains("\nNoDisplay=true\n"));
    for (const QString& desktopEntry : {prefix + "/share/applications/quaddle.desktop", context}) {
        const TRun validate = Run("desktop-file-validate", {desktopEntry});
        QVERIFY2(validate.ExitCode == 0 && validate.Output.isEmpty(),
                 qPrintable(desktopEntry + ": " + QString::fromUtf8(validate.Output)));
    }

    // A second run, after the user picked another program directory, changes nothing of it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.ConfigHome());
    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        store.setValue("ProgramDir", "/elsewhere");
    }
    QVERIFY(PostInstall(home));
    QCOMPARE(home.StoredProgramDir(), QVariant("/elsewhere"));
    QVERIFY(QFile::exists(context));

    // The user's files stay; everything installed goes.
    QFile config(home.ProgramDir() + "/config.xml");
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("<qdConfig/>");
    config.close();
    // As the options page registers the "Open With" entry.
    QVERIFY(QDir().mkpath(home.DataHome() + "/applications"));
    QVERIFY(QFile::link(context, home.DataHome() + "/applications/quaddle-context.desktop"));
    const TRun uninstall =
        Run(Script("uninstall"), {QUADDLE_BUILD_DIR "/install_manifest.txt"}, home.Environment());
    QVERIFY2(uninstall.ExitCode == 0, uninstall.Output.constData());
    for (const QString& path : installed)
        QVERIFY2(!QFile::exists(path), qPrintable(path));
    QVERIFY(!QFile::exists(context));
    QVERIFY(!QFileInfo(home.DataHome() + "/applications/quaddle-context.desktop").isSymLink());
    QVERIFY(QFile::exists(home.ProgramDir() + "/config.xml"));
}

void TestInstall::keepsTheProgramDirTheUserHas() {
    const TUserHome home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.ConfigHome());
    {
        // An empty value is a value: the program's own folder.
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
        store.setValue("ProgramDir", "");
        store.setValue("Window/Width", 640);
    }
    QDir().mkpath(home.Prefix() + "/bin");
    QVERIFY(PostInstall(home));
    QVERIFY(PostInstall(home));
    QCOMPARE(home.StoredProgramDir(), QVariant(""));
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
    QCOMPARE(store.value("Window/Width").toInt(), 640);
    QVERIFY(QFile::exists(home.ProgramDir() + "/QuaddleContext.desktop"));

    // With only other sections in the store, the value is added once.
    QFile file(home.ConfigHome() + "/Quaddle/Quaddle.conf");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Window]\nWidth=800\n");
    file.close();
    QVERIFY(PostInstall(home));
    QVERIFY(PostInstall(home));
    QCOMPARE(home.StoredProgramDir(), QVariant(home.ProgramDir()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("ProgramDir="), 1);
    const QSettings reread(QSettings::NativeFormat, QSettings::UserScope, "Quaddle", "Quaddle");
    QCOMPARE(reread.value("Window/Width").toInt(), 800);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "TestInstall.moc"
