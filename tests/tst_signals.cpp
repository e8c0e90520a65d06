// The programs as processes: the workstation ended by a signal during a run
// goes through its close path (the database file alone is complete, the
// lock is released); orven-report killed during a conversion leaves no
// folders behind and clears old ones at start; a database in a folder that
// may not be written opens for viewing.

#include "storage/database.h"
#include "tests/docskit.h"
#include "tests/runkit.h"

#include <QProcess>
#include <csignal>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testkit;

namespace {

QString probe()
{
    return QStringLiteral(ORVEN_BINARY_DIR "/tests/workstationprobe");
}

// Rows of `table` as SQLite reads the file, or -1.
int countRows(const QString &path, const char *table, bool fileAlone = false)
{
    QString file = path;
    QTemporaryDir copy;
    if (fileAlone) {
        // Only the main file, as a backup that copies ORVDB.db3 alone would.
        file = copy.path() + "/alone.db3";
        if (!QFile::copy(path, file))
            return -1;
    }
    QString why;
    sqlite3 *db = storage::openForReading(file, &why);
    if (!db)
        return -1;
    sqlite3_stmt *st = nullptr;
    int n = -1;
    const QByteArray sql = QByteArray("select count(*) from ") + table;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        n = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

QStringList leftovers(const QString &tmp)
{
    return QDir(tmp).entryList({"orven-*"}, QDir::Dirs | QDir::NoDotAndDotDot);
}

bool waitFinished(QProcess &p, int ms)
{
    return waitUntil([&] { return p.state() == QProcess::NotRunning; }, ms);
}

} // namespace

class SignalsTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }
    void sigtermDuringARun();
    void quitSignalsWhenIdle_data();
    void quitSignalsWhenIdle();
    void reportKilledDuringAConversion();
    void reportRemovesOldFoldersAtStart();
    void readOnlyFolderOpensForViewing();
};

void SignalsTest::sigtermDuringARun()
{
    RunRig rig;
    RunRig::Setup s = RunRig::realSetup(); // the workstation opens the real line
    s.withPage = false;
    QVERIFY(rig.build(s));
    rig.session.reset();
    storage::closeDatabase(); // the workstation is the only writer
    const QString tmp = rig.db.dir() + "/tmp";
    QDir().mkpath(tmp);

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_DB", rig.db.path());
    env.insert("ORVEN_EXTRA_PORTS", rig.sim1->portPath());
    env.insert("TMPDIR", tmp);
    p.setProcessEnvironment(env);
    p.start(probe(), {"run"});
    QVERIFY(p.waitForStarted());
    // The simulator answers from this event loop.
    QByteArray out;
    QVERIFY(waitUntil([&] { return (out += p.readAllStandardOutput()).contains("running"); }, 10000));
    QVERIFY(QFile::exists(rig.db.path() + ".lock"));
    QVERIFY(waitUntil([&] { return countRows(rig.db.path(), "data") >= 3; }, 10000));

    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(waitFinished(p, 10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(!p.readAllStandardError().contains("prompt: 提示|校准正在进行"), "asked at a signal");
    // The lock is released and the file alone holds every stored sample.
    QVERIFY(!QFile::exists(rig.db.path() + ".lock"));
    const QFileInfo wal(rig.db.path() + "-wal");
    QVERIFY(!wal.exists() || wal.size() == 0);
    const int stored = countRows(rig.db.path(), "data");
    QVERIFY(stored >= 3);
    QCOMPARE(countRows(rig.db.path(), "data", true), stored);
    // The exchange ended: no request reaches the collector any more.
    const int frames = rig.sim1->receivedFrames().size();
    QTest::qWait(1500);
    QCOMPARE(rig.sim1->receivedFrames().size(), frames);
    QCOMPARE(leftovers(tmp), QStringList());
}

void SignalsTest::quitSignalsWhenIdle_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void SignalsTest::quitSignalsWhenIdle()
{
    QFETCH(int, signal);
    TempDatabase db;
    storage::closeDatabase();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_DB", db.path());
    p.setProcessEnvironment(env);
    p.start(probe(), {"idle"});
    QByteArray out;
    QVERIFY(waitUntil([&] { return (out += p.readAllStandardOutput()).contains("idle"); }, 10000));
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(waitFinished(p, 10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFile::exists(db.path() + ".lock"));
}

void SignalsTest::reportKilledDuringAConversion()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    const QString tmp = db.dir() + "/tmp";
    QDir().mkpath(tmp);
    // A LibreOffice that takes its time, and writes into its profile first.
    const QString soffice = db.dir() + "/soffice";
    QFile script(soffice);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a; do case $a in -env:UserInstallation=file://*) "
                 "mkdir -p \"${a#-env:UserInstallation=file://}\";; esac; done\nsleep 60\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp);
    env.insert("ORVEN_SOFFICE", soffice);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVEN_APP_DIR "/orven-report"),
            {"--db", db.path(), "record", rig.fixture.begin, db.dir() + "/record.pdf",
             "--template", ownTemplate("M702.docx", db.dir())});
    QVERIFY(waitUntil(
        [&] { return leftovers(tmp).filter("orven-convert-").size() == 1; }, 15000));
    QTest::qWait(300);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(waitFinished(p, 15000));
    QCOMPARE(p.exitCode(), 128 + SIGTERM);
    QCOMPARE(leftovers(tmp), QStringList());
    QVERIFY(!QFile::exists(db.dir() + "/record.pdf"));
}

void SignalsTest::reportRemovesOldFoldersAtStart()
{
    TempDatabase db;
    const QString tmp = db.dir() + "/tmp";
    for (const char *name : {"orven-convert-old", "orven-report-old", "orven-convert-new", "other"})
        QVERIFY(QDir().mkpath(tmp + "/" + name + "/profile"));
    const time_t twoDaysAgo = ::time(nullptr) - 2 * 24 * 3600;
    for (const char *name : {"orven-convert-old", "orven-report-old", "other"}) {
        const struct timespec times[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
        QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(tmp + "/" + name).constData(), times, 0) ==
                0);
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", tmp);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVEN_APP_DIR "/orven-report"), {"--db", db.path(), "list"});
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(QDir(tmp).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             (QStringList{"orven-convert-new", "other"}));
}

void SignalsTest::readOnlyFolderOpensForViewing()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    storage::closeDatabase(); // folds the log back: the folder holds ORVDB.db3 alone
    QVERIFY(!QFile::exists(db.path() + "-wal"));
    QVERIFY(QFile::setPermissions(db.dir(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                QFile::ExeGroup | QFile::ReadOther |
                                                QFile::ExeOther));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_DB", db.path());
    env.insert("XDG_DATA_HOME", "/tmp");
    env.insert("XDG_CONFIG_HOME", "/tmp");
    p.setProcessEnvironment(env);
    // Root may write anywhere: the program runs as a user who may not.
    if (::getuid() == 0)
        p.start("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                     probe(), "view"});
    else
        p.start(probe(), {"view"});
    const bool finished = p.waitForFinished(30000);
    QFile::setPermissions(db.dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(finished);
    const QByteArray out = p.readAllStandardOutput();
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == 0, err.constData());
    QVERIFY2(out.contains("read-only"), out.constData());
    QVERIFY2(out.contains(QByteArray("samples ") +
                          QByteArray::number(rig.header.samplenum.toInt())),
             out.constData());
    QVERIFY(QString::fromUtf8(err).contains("数据库以只读方式打开"));
    QVERIFY(!QFile::exists(db.path() + ".lock"));
}

QTEST_MAIN(SignalsTest)
#include "tst_signals.moc"
