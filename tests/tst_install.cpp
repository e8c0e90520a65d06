// Installed like a Linux program: where the database lives, where templates
// are found, one workstation per database, and the install tree.

#include "app/instance.h"
#include "base/paths.h"
#include "office/templates.h"
#include "pages/settings/about.h"
#include "storage/database.h"
#include "tests/testkit.h"

#include <QProcess>
#include <QStandardPaths>
#include <csignal>

using namespace testkit;

class InstallTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void databaseBesideAWritableProgramFolder();
    void databaseInTheDataFolderWhenTheProgramFolderIsReadOnly();
    void environmentChoosesTheDatabase();
    void aboutNamesTheDatabase();
    void templatesAreLookedUpInOrder();
    void installedTemplateIsCopiedOnceForEditing();
    void secondInstanceIsRefused();
    void staleLockOfAKilledProgramDoesNotBlock();
    void installTree();
};

void InstallTest::cleanup()
{
    qunsetenv("ORVEN_DB");
    qunsetenv("ORVEN_DATA_DIR");
}

void InstallTest::databaseBesideAWritableProgramFolder()
{
    QTemporaryDir dir;
    const storage::DatabaseLocation l = storage::databaseLocation(dir.path());
    QCOMPARE(l.path, dir.path() + "/ORVDB.db3");
    QCOMPARE(l.why, QString("program folder"));
}

void InstallTest::databaseInTheDataFolderWhenTheProgramFolderIsReadOnly()
{
    // Nobody, root included, makes files in /proc: a folder that cannot be written.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(data).removeRecursively();
    const storage::DatabaseLocation l = storage::databaseLocation("/proc");
    QCOMPARE(l.why, QString("user data folder"));
    QCOMPARE(l.path, data + "/ORVDB.db3");
    QVERIFY(QFileInfo(data).isDir()); // made
    QVERIFY(storage::openDatabase(l.path).ok);
    QVERIFY(QFile::exists(l.path));
    storage::closeDatabase();
}

void InstallTest::environmentChoosesTheDatabase()
{
    QTemporaryDir dir;
    qputenv("ORVEN_DB", (dir.path() + "/mine.db3").toLocal8Bit());
    const storage::DatabaseLocation l = storage::databaseLocation(dir.path());
    QCOMPARE(l.path, dir.path() + "/mine.db3");
    QCOMPARE(l.why, QString("ORVEN_DB"));
    QCOMPARE(storage::databaseLocation("/proc").path, dir.path() + "/mine.db3");
}

void InstallTest::aboutNamesTheDatabase()
{
    TempDatabase db;
    about box;
    QCOMPARE(box.databaseText(), QDir::toNativeSeparators(db.path()));
}

void InstallTest::templatesAreLookedUpInOrder()
{
    QTemporaryDir root;
    const QString installed = root.path() + "/share";
    const QString chosen = root.path() + "/chosen";
    QDir().mkpath(installed);
    QDir().mkpath(chosen);
    qputenv("ORVEN_DATA_DIR", installed.toLocal8Bit());
    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    qputenv("ORVEN_TEMPLATES", chosen.toLocal8Bit());
    const QString name = "probe-order.xls";
    const QString user = base::userDataFolder() + "/" + name;
    QFile::remove(user);
    auto make = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
    };
    QCOMPARE(office::findTemplate(name), QString());
    QVERIFY(make(installed + "/" + name));
    QCOMPARE(office::findTemplate(name), installed + "/" + name);
    QVERIFY(make(user));
    QCOMPARE(office::findTemplate(name), user); // the user's copy before the installed one
    QVERIFY(make(chosen + "/" + name));
    QCOMPARE(office::findTemplate(name), chosen + "/" + name);
    qputenv("ORVEN_TEMPLATES", old);
    QFile::remove(user);
}

void InstallTest::installedTemplateIsCopiedOnceForEditing()
{
    QTemporaryDir installed;
    qputenv("ORVEN_DATA_DIR", installed.path().toLocal8Bit());
    const QByteArray old = qgetenv("ORVEN_TEMPLATES");
    qunsetenv("ORVEN_TEMPLATES");
    const QString name = "probe-edit.xls";
    const QString user = base::userDataFolder() + "/" + name;
    QFile::remove(user);
    QFile f(installed.path() + "/" + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("installed");
    f.close();
    QString error;
    QCOMPARE(office::editableTemplate(name, &error), user);
    QVERIFY(error.isEmpty());
    // The user edits the copy; the next time the copy is used, not copied again.
    QFile copy(user);
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.write("edited");
    copy.close();
    QCOMPARE(office::editableTemplate(name, &error), user);
    QCOMPARE(office::findTemplate(name), user);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("edited"));
    qputenv("ORVEN_TEMPLATES", old);
    QFile::remove(user);
}

void InstallTest::secondInstanceIsRefused()
{
    QTemporaryDir dir;
    const QString db = dir.path() + "/ORVDB.db3";
    QString why;
    std::unique_ptr<QLockFile> first = app::lockDatabase(db, &why);
    QVERIFY(first);
    std::unique_ptr<QLockFile> second = app::lockDatabase(db, &why);
    QVERIFY(!second);
    QVERIFY2(why.startsWith("ORVEN-M70X 已经在运行"), qPrintable(why));
    QVERIFY(why.contains(db));
    first.reset();
    QVERIFY(app::lockDatabase(db, &why));
}

void InstallTest::staleLockOfAKilledProgramDoesNotBlock()
{
    QTemporaryDir dir;
    const QString db = dir.path() + "/ORVDB.db3";
    // The workstation itself takes the lock, and is killed.
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_DB", db);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ORVEN_APP_DIR "/Orven_KV4100"), {});
    QVERIFY(program.waitForStarted(10000));
    QVERIFY(waitUntil([&] { return QFile::exists(db + ".lock"); }, 10000));
    QString why;
    QVERIFY(!app::lockDatabase(db, &why)); // running: refused
    ::kill(pid_t(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished(5000));
    QVERIFY(QFile::exists(db + ".lock")); // left behind
    std::unique_ptr<QLockFile> lock = app::lockDatabase(db, &why);
    QVERIFY2(lock, qPrintable(why));
}

void InstallTest::installTree()
{
    QTemporaryDir prefix;
    QProcess install;
    install.start("cmake", {"--install", ORVEN_BINARY_DIR, "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    for (const char *file :
         {"bin/Orven_KV4100", "bin/orven-sim", "bin/orven-report", "share/orven/M702.docx",
          "share/orven/databook.docx", "share/orven/test.xls",
          "share/applications/orven-m70x.desktop", "share/icons/hicolor/48x48/apps/orven-m70x.png",
          "share/icons/hicolor/128x128/apps/orven-m70x.png",
          "share/icons/hicolor/scalable/apps/orven-m70x.svg"})
        QVERIFY2(QFileInfo(prefix.path() + "/" + file).isFile(), file);
    QVERIFY(QFileInfo(prefix.path() + "/bin/Orven_KV4100").isExecutable());
    QProcess validate;
    validate.start("desktop-file-validate",
                   {prefix.path() + "/share/applications/orven-m70x.desktop"});
    QVERIFY2(validate.waitForFinished(30000),
             "desktop-file-validate (desktop-file-utils) is installed by install-deps.sh");
    QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());
    // The installed tools find the installed templates.
    QProcess report;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("ORVEN_TEMPLATES");
    report.setProcessEnvironment(env);
    report.start(prefix.path() + "/bin/orven-report", {"--help"});
    QVERIFY(report.waitForFinished(30000));
    QVERIFY(report.readAllStandardOutput().contains("ORVDB.db3"));
}

QTEST_MAIN(InstallTest)
#include "tst_install.moc"
