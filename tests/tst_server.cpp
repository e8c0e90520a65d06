// The laboratory's shared server: two stations recording at once, each
// calibration with exactly its own samples; one workstation per station
// name; a schema newer than the program refused; "全清" of one station.

#include "app/mainwindow.h"
#include "pages/prompts.h"
#include "pages/reports/form6.h"
#include "results/calibration.h"
#include "storage/database.h"
#include "storage/localcopy.h"
#include "storage/samplereader.h"
#include "storage/server.h"
#include "storage/spool.h"
#include "tests/calibkit.h"
#include "tests/runkit.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <thread>

using namespace testkit;

namespace {

// One station's run: `ticks` samples at point 1, then processing. Station
// B starts 30 s after A, so their samples interleave in time.
bool recordAndProcess(RunRig &rig, int ticks)
{
    if (!rig.startSession())
        return false;
    if (!rig.advanceUntil([&] { return rig.samples() >= ticks; }, ticks * 1000 + 5000))
        return false;
    rig.stopSession();
    const acquisition::RunSession::Processing p = rig.session->process(false);
    if (p.outcome != acquisition::RunSession::Processing::Done)
        qWarning() << "processing:" << int(p.outcome) << p.reason;
    return p.outcome == acquisition::RunSession::Processing::Done;
}

RunRig::Setup quiet()
{
    RunRig::Setup s;
    s.withPage = false;
    return s;
}

} // namespace

class ServerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (!onServer())
            QSKIP("runs against a server (ORVEN_TEST_SERVER)");
    }
    void twoStationsRecordAtOnce();
    void stationB();
    void oneWorkstationPerStation();
    void clearAllTakesOnlyThisStation();
    void newerSchemaIsRefused();
    void migrationCopiesOnceAndAgrees();
    void serverAwayDuringARun();
    void startsWhileServerDown();
    void signsInWhileServerDown();
    void recordsChangedWhileServerDown();
    void keptChangeWaitsBehindALock();
    void otherStationChangesEquipment();
    void hungServerNeverHoldsUpTheWindow();
    void sameBeginningAsAnotherStation();
    void unprocessedRunIsThisStationsOwn();
    void refusedLoginIsNoOutageAndNoPasswordIsShown();
    void firstStatementAfterARestart();
    void loginTimedOutOnAFrozenServerIsNoRefusal();
    void frozenServerHoldsNoActionPastTheDeadline();
    void exitWhileSending();
    void endsCleanlyWhileSending();
};

// Run by endsCleanlyWhileSending as a program of its own: samples wait,
// the spool's thread sends them, and the program ends without closing the
// database (as a tool, or a window simply destroyed).
void ServerTest::exitWhileSending()
{
    const QString url = qEnvironmentVariable("ORVEN_TEST_EXIT_CHILD");
    if (url.isEmpty())
        QSKIP("run by endsCleanlyWhileSending");
    QVERIFY(storage::openDatabase(url).ok);
    const QDateTime t0 = QDateTime::currentDateTime();
    for (int i = 0; i < 300; ++i)
        QVERIFY(storage::spoolSample(
                    storage::Sample::fromRow({"Oven", "检点1",
                                              t0.addSecs(i).toString("yyyy-MM-dd HH:mm:ss"),
                                              "1-101;", "25.000;"}),
                    QString())
                    .ok);
    storage::sendSpoolSoon();
    QTest::qWait(QRandomGenerator::global()->bounded(30));
}

// Twenty programs end while their spool's thread is sending: each ends
// normally, its thread stopped and joined before the program goes.
void ServerTest::endsCleanlyWhileSending()
{
    TempDatabase db;
    QVERIFY(db.ok());
    for (int i = 0; i < 20; ++i) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVEN_TEST_EXIT_CHILD", db.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"exitWhileSending"});
        const bool finished = child.waitForFinished(60000);
        QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 qPrintable(QString("run %1: %2 (%3)\n%4")
                                .arg(i)
                                .arg(child.exitCode())
                                .arg(child.errorString(),
                                     QString::fromUtf8(child.readAll().right(3000)))));
    }
}

// A database that does not exist on a server that answers: refused, not
// away. The workstation says so once (no password anywhere), does not start
// on its copy and does not try again; orven-report fails the same way.
void ServerTest::refusedLoginIsNoOutageAndNoPasswordIsShown()
{
    QUrl url(qEnvironmentVariable("ORVEN_TEST_SERVER"));
    url.setPassword("Geheim-2026");
    url.setPath("/no_such_database");
    prompts::setScripted(true);
    prompts::clearRecords();
    {
        MainWindow w(url.toString());
        const QStringList boxes = shown();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith("失败|") && boxes[0].contains("拒绝"), qPrintable(boxes[0]));
        QVERIFY2(!boxes[0].contains("Geheim"), qPrintable(boxes[0]));
        QVERIFY(!storage::serverOffline());
        QVERIFY(!storage::serverRefusal().isEmpty());
        QVERIFY(!storage::reconnectIfLost());
        QVERIFY(!storage::serverAwayText().contains("Geheim"));
    }
    storage::closeDatabase();
    const ToolRun r = runReport({"--db", url.toString(QUrl::FullyEncoded), "list"});
    QCOMPARE(r.code, 1);
    QVERIFY2(!r.err.contains("Geheim") && QString::fromUtf8(r.err).contains("拒绝"),
             r.err.constData());
}

// Station S2 left 60 samples unprocessed; S1 then processed a calibration
// that ended later. S2 is still offered its 60 samples.
void ServerTest::unprocessedRunIsThisStationsOwn()
{
    qputenv("ORVEN_STATION", "S2");
    TempDatabase db;
    QVERIFY(db.ok());
    const QDateTime t0 = QDateTime::fromString("2026-01-01 10:00:00", "yyyy-MM-dd HH:mm:ss");
    for (int i = 0; i < 60; ++i)
        QVERIFY(sql(QString("insert into orven.data (equipname, jdnum, coltime, colname, coldata, "
                            "station, run) values ('Chamber', '检点1', '%1', '1-101;', '25.000;', "
                            "'S2', 'S2/1')")
                        .arg(t0.addSecs(i).toString("yyyy-MM-dd HH:mm:ss"))));
    QVERIFY(sql("insert into orven.datamark (num, dtbegin, dtend, pointnum, equipname, station, "
                "run) values ('1', '2026-01-01 10:30:00', '2026-01-01 11:00:00', '1', 'Oven', "
                "'S1', 'S1/1')"));
    const base::Result<QList<storage::Sample>> run = storage::unprocessedRun();
    qunsetenv("ORVEN_STATION");
    QVERIFY2(run.ok, qPrintable(run.error));
    QCOMPARE(run.value.size(), 60);
    QCOMPARE(run.value.first().coltime, QString("2026-01-01 10:00:00"));
    QCOMPARE(run.value.last().equipname, QString("Chamber"));
}

void ServerTest::stationB()
{
    if (qEnvironmentVariableIsEmpty("ORVEN_TEST_SHARED_DB"))
        QSKIP("the second station of twoStationsRecordAtOnce");
    RunRig rig;
    QVERIFY(rig.build(quiet()));
    rig.advance(30000);
    QVERIFY(recordAndProcess(rig, 40));
}

void ServerTest::twoStationsRecordAtOnce()
{
    qputenv("ORVEN_STATION", "A");
    RunRig rig;
    QVERIFY(rig.build(quiet()));
    QProcess b;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_STATION", "B");
    env.insert("ORVEN_TEST_SHARED_DB", rig.db.path());
    b.setProcessEnvironment(env);
    b.setProcessChannelMode(QProcess::MergedChannels);
    b.start(QCoreApplication::applicationFilePath(), {"stationB"});
    QVERIFY(b.waitForStarted());
    QVERIFY(recordAndProcess(rig, 50));
    const bool finished = b.waitForFinished(120000);
    if (!finished)
        b.kill();
    QVERIFY2(finished && b.exitCode() == 0, b.readAll().right(4000).constData());
    qunsetenv("ORVEN_STATION");

    // Both calibrations, each with its station and its own samples, though
    // their time windows overlap.
    const storage::Rows marks =
        rows("select m.dtbegin, m.dtend, m.samplenum, m.station, "
             "(select count(*) from orven.data d where d.run=m.run) from orven.datamark m "
             "order by m.dtbegin");
    QCOMPARE(marks.size(), 2);
    QCOMPARE(marks[0][3], QString("A"));
    QCOMPARE(marks[1][3], QString("B"));
    QVERIFY(marks[1][0] < marks[0][1]); // B began before A ended
    QCOMPARE(marks[0][2], QString("50"));
    QCOMPARE(marks[1][2], QString("40"));
    QCOMPARE(marks[0][4], QString("50"));
    QCOMPARE(marks[1][4], QString("40"));
    for (int i = 0; i < 2; ++i) {
        const results::Loaded loaded = results::loadCalibration(rig.db.path(), marks[i][0]);
        QVERIFY2(loaded.status.ok, qPrintable(loaded.status.error));
        QCOMPARE(QString::number(loaded.calibration.samples.size()), marks[i][2]);
    }
    // The list shows both stations' calibrations to each station.
    storage::SampleReader reader;
    QVERIFY(reader.open(rig.db.path()).ok);
    QCOMPARE(reader.headers().value.size(), 2);
    // The query page lists both and tells each one's station.
    {
        Form6 page;
        auto *list = child<QTableWidget>(&page, "tbnum");
        QCOMPARE(list->rowCount(), 2);
        QVERIFY(list->item(1, 1)->toolTip().contains("工作站：B"));
        // Each with its own samples, whichever station's page loads it.
        for (int row : {1, 0}) {
            QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, row),
                                      Q_ARG(int, 1));
            QVERIFY(waitUntil(
                [&] {
                    return page.loadedCalibration() &&
                           page.loadedCalibration()->header.dtbegin == marks[row][0];
                },
                10000));
            QCOMPARE(QString::number(page.loadedCalibration()->samples.size()), marks[row][2]);
            QVERIFY(fullText(child<QLabel>(&page, "label_load"))
                        .endsWith(QString("工作站 ") + marks[row][3]));
        }
    }
    // Deleting one calibration deletes its samples only, for everybody.
    QCOMPARE(storage::deleteCalibration(marks[1][0]).value, 40);
    QCOMPARE(rows("select count(*) from orven.data").value(0).value(0), QString("50"));
}

void ServerTest::oneWorkstationPerStation()
{
    TempDatabase db;
    qputenv("ORVEN_STATION", "S1");
    QVERIFY(storage::openDatabase(db.path()).ok);
    QVERIFY(storage::lockStation(QString()).ok);
    // A second program of the same station is refused; another station is not.
    QVERIFY(storage::openServerConnection("second", db.path(), false).ok);
    const base::Status again = storage::lockStation("second");
    QVERIFY(!again.ok);
    QVERIFY(again.error.contains("S1"));
    qputenv("ORVEN_STATION", "S2");
    QVERIFY(storage::lockStation("second").ok);
    // The certificate number's pattern is the laboratory's, for every station.
    QVERIFY(storage::setCertificatePattern("JZ-yy-nnn").ok);
    QVERIFY(storage::openDatabase(db.path()).ok); // now as S2
    QCOMPARE(storage::certificatePattern().value, QString("JZ-yy-nnn"));
    QSqlDatabase::database("second").close();
    QSqlDatabase::removeDatabase("second");
    qunsetenv("ORVEN_STATION");
}

void ServerTest::clearAllTakesOnlyThisStation()
{
    TempDatabase db;
    // Another station's calibration and samples.
    QVERIFY(
        sql("insert into orven.data (equipname, jdnum, coltime, colname, coldata, station, run) "
            "values ('E','检点1','2024-05-01 10:00:00','101;','1;','other','r1')"));
    QVERIFY(sql("insert into orven.datamark (dtbegin, dtend, station, run) "
                "values ('2024-05-01 10:00:00','2024-05-01 10:00:00','other','r1')"));
    CalibrationFixture mine;
    mine.begin = "2024-06-01 10:00:00";
    mine.add(1, "20.000;20.100;", 3);
    QVERIFY(!insertCalibration(mine).dtbegin.isEmpty());
    QCOMPARE(rows("select count(*) from datamark").value(0).value(0), QString("2"));
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString("3")); // this station's
    QVERIFY(storage::clearCalibrations().ok);
    QCOMPARE(rows("select station from orven.datamark"), (storage::Rows{{"other"}}));
    QCOMPARE(rows("select station from orven.data"), (storage::Rows{{"other"}}));
}

void ServerTest::newerSchemaIsRefused()
{
    TempDatabase db;
    QVERIFY(sql("update orven.orven_schema set version=version+1"));
    const base::Status st = storage::openDatabase(db.path());
    QVERIFY(!st.ok);
    QVERIFY2(st.error.contains("比本程序新"), qPrintable(st.error));
    storage::SampleReader reader;
    QVERIFY(!reader.open(db.path()).ok);
}

void ServerTest::migrationCopiesOnceAndAgrees()
{
    TempDatabase db;
    QTemporaryDir dir;
    // Two stations' files, one with a calibration of 1999.
    struct File
    {
        QString path, station;
        QList<CalibrationFixture> calibrations;
    };
    QList<File> files{{dir.path() + "/one.db3", "S1", {}}, {dir.path() + "/two.db3", "S2", {}}};
    CalibrationFixture old;
    old.begin = "1999-03-01 08:00:00";
    old.add(1, "20.000;20.100;", 4);
    old.add(2, "30.000;30.300;", 3);
    CalibrationFixture recent;
    recent.begin = "2024-05-01 10:00:00";
    recent.add(1, "20.500;20.100;", 5);
    CalibrationFixture other;
    other.begin = "2024-06-01 09:00:00";
    other.collector = "ORV7020009";
    other.add(1, "19.900;20.000;", 6);
    files[0].calibrations = {old, recent};
    files[1].calibrations = {other};
    for (const File &f : files) {
        QVERIFY(storage::openDatabase(f.path).ok);
        for (const CalibrationFixture &c : f.calibrations)
            QVERIFY(!insertCalibration(c).dtbegin.isEmpty());
        // A sample after the last calibration, never processed.
        QVERIFY(storage::insertSample({"E", "检点1", "2030-01-01 00:00:00", "101;", "1;"}).ok);
        QVERIFY(storage::insertCollector(
                    storage::Collector::fromRow({"1", f.station, "M702", "", "SN-" + f.station}))
                    .ok);
        storage::closeDatabase();
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (const File &f : files) {
            const ToolRun r =
                runReport({"migrate", "--from", f.path, "--to", db.path(), "--station", f.station});
            QVERIFY2(r.code == 0, r.err.constData());
            const QJsonObject sum = QJsonDocument::fromJson(r.out).object();
            const int n = f.calibrations.size();
            QCOMPARE(sum.value("calibrations").toInt(), pass == 0 ? n : 0);
            QCOMPARE(sum.value("calibrationsAlreadyThere").toInt(), pass == 0 ? 0 : n);
            QCOMPARE(sum.value("samplesOutsideCalibrations").toInt(), 1);
            QCOMPARE(sum.value("collectors").toInt(), pass == 0 ? 1 : 0);
        }
    }
    QVERIFY(storage::openDatabase(db.path()).ok);
    QCOMPARE(rows("select count(*) from orven.datamark").value(0).value(0), QString("3"));
    QCOMPARE(rows("select count(*) from orven.data").value(0).value(0), QString("18"));
    QCOMPARE(rows("select count(*) from orven.datacollect").value(0).value(0), QString("2"));
    // Every figure read from the server is the file's.
    for (const File &f : files)
        for (const CalibrationFixture &c : f.calibrations) {
            const ToolRun fromFile = runReport({"--db", f.path, "results", c.begin});
            const ToolRun fromServer = runReport({"--db", db.path(), "results", c.begin});
            QVERIFY2(fromFile.code == 0 && fromServer.code == 0, fromServer.err.constData());
            QCOMPARE(fromServer.out, fromFile.out);
        }
    // Not a server, or no such file: refused.
    QCOMPARE(runReport({"migrate", "--from", files[0].path, "--to", dir.path() + "/x.db3"}).code,
             2);
    QCOMPARE(runReport({"migrate", "--from", dir.path() + "/none.db3", "--to", db.path()}).code, 1);
}

static bool cluster(const QString &command, const QString &dir, QString *out = nullptr)
{
    QProcess p;
    p.start("bash", {ORVEN_SOURCE_DIR "/scripts/pg-cluster.sh", command, dir});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning() << command << p.readAllStandardError();
        return false;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

// A cluster of a test's own (the suite's is shared with other tests), to
// stop, freeze and start again; gone with the test, and swept by CTest's
// cleanup (pg-cluster.sh sweep) when the test was killed before its end.
struct OwnCluster
{
    explicit OwnCluster(const char *name)
        : dir(QStringLiteral("/tmp/orven-pg-own-%1-%2")
                  .arg(QLatin1String(name))
                  .arg(QCoreApplication::applicationPid()))
    {
        ok = cluster("restart", dir, &url);
    }
    ~OwnCluster()
    {
        cluster("thaw", dir); // a test that failed while it was frozen
        cluster("stop", dir);
    }
    bool operator()(const char *command) const { return cluster(command, dir); }
    QString dir, url;
    bool ok = false;
};

// A login that timed out while the server held still, which goes on
// before anyone asks again: the server answers then, but it never refused
// this station (it was taken for a refusal once, and the station stopped
// trying for good). The second login is made.
void ServerTest::loginTimedOutOnAFrozenServerIsNoRefusal()
{
    OwnCluster server("timedout");
    QVERIFY(server.ok);
    QVERIFY(server("freeze"));
    std::thread thaw([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5600)); // past connect_timeout
        cluster("thaw", server.dir);
    });
    const base::Status st = storage::openServerConnection("timedout", server.url, false);
    thaw.join();
    QSqlDatabase::removeDatabase("timedout");
    // Logged in: the server's empty database is what it says.
    QVERIFY2(st.error.contains("还没有工作站的数据"), qPrintable(st.error));
    QVERIFY(storage::serverRefusal().isEmpty());
}

// The server restarted under the window's open session: the next read, the
// next single write and the next transaction each work the first time.
void ServerTest::firstStatementAfterARestart()
{
    OwnCluster server("restart");
    QVERIFY(server.ok);
    QVERIFY(storage::openDatabase(server.url).ok);
    QVERIFY(storage::listEquipment().ok);
    struct Step
    {
        const char *what;
        std::function<base::Status()> act;
    };
    const Step steps[] = {
        {"a read", [] { return storage::listEquipment().status(); }},
        {"a transaction",
         [] { return storage::saveCompany(storage::Company::fromRow({"Lab"}), QString()); }},
        {"a single write",
         [] {
             storage::Equipment e;
             e.name = "Oven";
             return storage::insertEquipment(e);
         }},
    };
    for (const Step &step : steps) {
        QVERIFY(server("halt"));
        QVERIFY(server("resume"));
        const base::Status st = step.act();
        QVERIFY2(st.ok, qPrintable(QString(step.what) + ": " + st.error));
    }
    QCOMPARE(storage::readCompany().value.unitname, QString("Lab"));
    QCOMPARE(storage::listEquipment().value.size(), 1);
    storage::closeDatabase();
}

// The server goes away for several ticks of a run and comes back: the
// samples wait in order on the station's disk (also across a restart of
// the program), processing is refused meanwhile, and every one is stored
// once, in order.
void ServerTest::serverAwayDuringARun()
{
    // A cluster of this test's own: the suite's is shared with other tests.
    OwnCluster server("away");
    QVERIFY(server.ok);
    const QString &url = server.url;
    qputenv("ORVEN_TEST_SHARED_DB", url.toUtf8());
    RunRig rig;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(rig.db.ok());
    QVERIFY(rig.build(quiet()));
    QVERIFY(rig.startSession());
    QVERIFY(rig.advanceUntil([&] { return rig.samples() >= 5; }, 10000));
    QCOMPARE(rig.session->unstoredCount(), 0);
    // The spool's thread has sent them (a few milliseconds after each tick).
    QVERIFY(waitUntil([] { return storage::spoolState().waiting == 0; }, 5000));

    QVERIFY(server("halt"));
    const int before = rig.samples();
    QVERIFY(rig.advanceUntil([&] { return rig.samples() >= before + 8; }, 20000));
    rig.stopSession();
    // They wait on this station's disk, in order, not in the run.
    QCOMPARE(rig.session->unstoredCount(), 0);
    storage::SpoolState spooled = storage::spoolState();
    QCOMPARE(spooled.waiting, rig.samples() - before);
    QCOMPARE(spooled.since, rig.session->samples()[before].timeText());
    acquisition::RunSession::Processing p = rig.session->process(false);
    QCOMPARE(p.outcome, acquisition::RunSession::Processing::Unstored);
    QCOMPARE(p.waiting, spooled.waiting);

    // The program ends meanwhile; the spool stays on disk.
    storage::closeDatabase();
    const QString spool = storage::spoolPath();
    QVERIFY(QFile::exists(spool));
    QFile::remove(server.dir + "-spool.copy");
    QVERIFY(QFile::copy(spool, server.dir + "-spool.copy"));

    // The server is back and the program starts again: the spool goes first.
    QVERIFY(server("resume"));
    QVERIFY(storage::openDatabase(url).ok);
    QCOMPARE(storage::spoolState().waiting, 0); // sent at start, before the window reads
    auto stored = [] { return rows("select coltime from data order by rowid"); };
    QCOMPARE(stored().size(), rig.samples());
    // Sent again (a cut between the server's commit and the spool's
    // delete): the server keeps each once.
    storage::closeSpool();
    QFile::remove(spool);
    QVERIFY(QFile::copy(server.dir + "-spool.copy", spool));
    QFile::remove(server.dir + "-spool.copy");
    QVERIFY(storage::flushSpool().ok);
    QCOMPARE(storage::spoolState().waiting, 0);
    const storage::Rows all = stored();
    QCOMPARE(all.size(), rig.samples()); // none lost, none twice
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all[i][0], rig.session->samples()[i].timeText()); // in order
    p = rig.session->process(false);
    QVERIFY2(p.outcome == acquisition::RunSession::Processing::Done, qPrintable(p.reason));
    QCOMPARE(rows("select samplenum from datamark").value(0).value(0),
             QString::number(rig.samples()));
    // Every sample of the calibration, by its run.
    QCOMPARE(rows("select count(*) from orven.data d join orven.datamark m on d.run=m.run")
                 .value(0)
                 .value(0),
             QString::number(rig.samples()));

    // Away again while the program runs: the connection comes back by
    // itself (found out off this thread) and the spool goes.
    QVERIFY(server("halt"));
    const storage::Sample late{"E", "检点1", "2030-01-01 00:00:00", "101;", "1;"};
    QVERIFY(storage::insertSample(late).ok); // kept on disk
    QCOMPARE(storage::spoolState().waiting, 1);
    QVERIFY(server("resume"));
    QVERIFY(waitUntil([] { return storage::flushSpool().ok && storage::spoolState().waiting == 0; },
                      15000));
    QCOMPARE(
        rows("select count(*) from data where coltime='2030-01-01 00:00:00'").value(0).value(0),
        QString("1"));
}

// The server is down when the workstation starts: it starts on the
// station's copy of its records, records into the spool, changes nothing,
// and goes back to the server by itself when it answers.
void ServerTest::startsWhileServerDown()
{
    OwnCluster server("down");
    QVERIFY(server.ok);
    const QString &url = server.url;
    qputenv("ORVEN_TEST_SHARED_DB", url.toUtf8());
    RunRig rig;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(rig.db.ok());
    QVERIFY(rig.build(quiet()));
    const storage::Selection selected = storage::readSelection().value;
    const QList<storage::ChannelRow> layout = storage::loadChannelTable(storage::Device::A).value;
    QVERIFY(!selected.equipdata.isEmpty());
    QVERIFY(!layout.isEmpty());

    // The copy follows the records a moment after they change; the server
    // goes away without the program closing, and it starts again.
    waitUntil([] { return false; }, 1500);
    QVERIFY(server("halt"));
    QVERIFY(storage::openDatabase(url).ok);
    QVERIFY(storage::serverOffline());
    QVERIFY(storage::lockStation(QString()).ok);

    // What a run reads and the list of calibrations are there; changes and
    // samples wait for the server.
    QVERIFY(storage::listHeaders().ok);
    // The station's own choice is made on the copy and kept.
    QVERIFY(storage::selectEquipment(selected.equipdata, "21", "45").ok);
    QCOMPARE(storage::readAmbient().value.tem, QString("21"));
    QCOMPARE(storage::readSelection().value.toRow(), selected.toRow());
    QCOMPARE(storage::loadChannelTable(storage::Device::A).value.size(), layout.size());
    QVERIFY(storage::equipmentRecord(selected.equipdata).ok);
    struct Refused
    {
        const char *what;
        base::Status status;
    };
    storage::Equipment e;
    e.name = "offline";
    const Refused refused[] = {
        {"insert", storage::insertEquipment(e)},
        {"samples", storage::samplesInWindow("2026", "2027").status()},
        {"clear", storage::clearCalibrations()},
    };
    for (const Refused &r : refused) {
        QVERIFY2(!r.status.ok, r.what);
        QVERIFY2(r.status.error.contains("服务器"), qPrintable(r.status.error));
    }
    QCOMPARE(storage::listEquipment().value.size(), 1); // nothing written into the copy

    QVERIFY(rig.startSession());
    QVERIFY(rig.advanceUntil([&] { return rig.samples() >= 6; }, 10000));
    rig.stopSession();
    QCOMPARE(rig.session->unstoredCount(), 0);
    QCOMPARE(storage::spoolState().waiting, rig.samples());
    QCOMPARE(rig.session->process(false).outcome, acquisition::RunSession::Processing::Unstored);

    // The server answers: the workstation goes back to it by itself.
    QVERIFY(server("resume"));
    QVERIFY(waitUntil([] { return storage::serverReady() && !storage::serverOffline(); }, 15000));
    QVERIFY(waitUntil([] { return storage::spoolState().waiting == 0; }, 5000));
    QVERIFY(waitUntil(
        [] {
            return rows("select tem, hum from envirdata") == storage::Rows({{"21", "45"}});
        },
        5000));
    const storage::Rows all = rows("select coltime from data order by rowid");
    QCOMPARE(all.size(), rig.samples());
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all[i][0], rig.session->samples()[i].timeText());
    const acquisition::RunSession::Processing p = rig.session->process(false);
    QVERIFY2(p.outcome == acquisition::RunSession::Processing::Done, qPrintable(p.reason));
    QVERIFY(storage::insertEquipment(e).ok);
    // The station's lock came with it: a second program of this station is refused.
    QCOMPARE(rows("select count(*) from pg_locks where locktype='advisory' and "
                  "pid=pg_backend_pid()")
                 .value(0)
                 .value(0),
             QString("1"));
}

// A station that starts while the server is down signs in against the
// accounts its copy took; what the trail kept meanwhile is appended to the
// server's trail, in order, once it answers again.
void ServerTest::signsInWhileServerDown()
{
    OwnCluster server("signin");
    QVERIFY(server.ok);
    qputenv("ORVEN_TEST_SHARED_DB", server.url.toUtf8());
    TempDatabase db;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(db.ok());
    QVERIFY(storage::addOperatorAccount("张三", {"管理员"}, "secret1").ok);
    QVERIFY(storage::signIn("张三", "secret1").ok);
    QVERIFY(storage::saveAccessSettings({true, 15}).ok);
    storage::setAuditOperator(QString());
    waitUntil([] { return false; }, 1500); // the copy follows the change
    QVERIFY(server("halt"));
    {
        MainWindow w(server.url);
        QVERIFY(storage::serverOffline());
        QVERIFY(w.isLocked());
        signInThrough(&w, "张三", "wrong1");
        QVERIFY(w.isLocked());
        signInThrough(&w, "张三", "secret1");
        QVERIFY(!w.isLocked());
        QCOMPARE(w.operatorName(), QString("张三"));
        QVERIFY(server("resume"));
        QVERIFY(waitUntil([] { return !storage::serverOffline(); }, 15000));
        QVERIFY(waitUntil([] { return storage::auditRows({}, {}, {}).value.size() >= 5; }, 5000));
    }
    QStringList trail;
    const QList<storage::AuditRow> all = storage::auditRows({}, {}, {}).value;
    for (const storage::AuditRow &r : all)
        trail << r.action;
    QCOMPARE(trail,
             QStringList({"新增操作员", "登录", "访问设置", "登录被拒绝（离线）", "登录（离线）"}));
    QCOMPARE(all.last().operatorName, QString("张三"));
    QVERIFY(all[3].at < all[4].at); // each as it happened
    QVERIFY(storage::verifyAudit().value.whole());
    // Sent once: a second return finds nothing waiting.
    QCOMPARE(storage::sendPendingAudit().value, 0);
}

// Records changed while the server is away are made on the station's copy
// and sent when it answers, each with its trail row; a record another
// station changed on the server after that keeps the later change, and the
// trail keeps both.
void ServerTest::recordsChangedWhileServerDown()
{
    OwnCluster server("away");
    QVERIFY(server.ok);
    qputenv("ORVEN_TEST_SHARED_DB", server.url.toUtf8());
    TempDatabase db;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(db.ok());
    storage::Equipment oven, cold;
    oven.name = "Oven";
    oven.model = "M1";
    cold.name = "Cold";
    cold.model = "C1";
    QVERIFY(storage::saveEquipment(oven, {}, false).ok);
    QVERIFY(storage::saveEquipment(cold, {}, false).ok);
    waitUntil([] { return false; }, 1500); // the copy follows the change
    QVERIFY(server("halt"));
    QVERIFY(storage::openDatabase(server.url).ok);
    QVERIFY(storage::serverOffline());

    oven.model = "M2-away";
    cold.model = "C2-away";
    QVERIFY(storage::modifyEquipment(oven, {}).ok);
    QVERIFY(storage::modifyEquipment(cold, {}).ok);
    QVERIFY(storage::saveCollector(storage::Collector::fromRow({"1", "Logger", "M702", "", "SN-7"}),
                                   {}, false)
                .ok);
    QVERIFY(storage::saveCompany(storage::Company::fromRow({"离线时的单位"})).ok);
    QCOMPARE(storage::equipmentRecord("Oven").value.model, QString("M2-away"));
    QVERIFY(!storage::storeEvaluationSettings("2024-01-01 00:00:00", "{}").ok);
    // What waits to be sent, as it was before sending (below: sent, but the
    // answers lost).
    const QString pending = storage::stationFilePath("trail");
    QFile::remove(pending + ".kept");
    QVERIFY(QFile::copy(pending, pending + ".kept"));

    // Another station changes Cold on the server before this one is back.
    QVERIFY(server("resume"));
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVEN_TEST_SHARED_DB", server.url);
    env.insert("ORVEN_STATION", "S9");
    other.setProcessEnvironment(env);
    other.setProcessChannelMode(QProcess::MergedChannels);
    other.start(QCoreApplication::applicationFilePath(), {"otherStationChangesEquipment"});
    QVERIFY(other.waitForFinished(60000));
    QVERIFY2(other.exitCode() == 0, other.readAll().constData());

    QVERIFY(waitUntil([] { return storage::serverReady() && !storage::serverOffline(); }, 15000));
    QVERIFY(waitUntil(
        [] { return rows("select count(*) from orven.datacollect").value(0).value(0) == "1"; },
        5000));
    QVERIFY(waitUntil(
        [] {
            return rows("select count(*) from orven.audit where action like '%（离线%'")
                       .value(0)
                       .value(0) == "4";
        },
        5000));
    QCOMPARE(rows("select name, model from orven.equipdata order by name"),
             storage::Rows({{"Cold", "C3-S9"}, {"Oven", "M2-away"}}));
    QCOMPARE(rows("select unitname from orven.company"), storage::Rows({{"离线时的单位"}}));
    QStringList history;
    for (const storage::AuditRow &r : storage::auditRows({}, {}, "试验设备 Cold").value)
        history << r.station + '|' + r.action;
    QCOMPARE(history, QStringList({storage::stationName() + "|新增试验设备", "S9|修改试验设备记录",
                                   storage::stationName() +
                                       "|修改试验设备记录（离线，未采用：服务器上有更晚的修改）"}));
    QVERIFY(storage::verifyAudit().value.whole());

    // Every commit reached the server but its answer did not: the rows wait
    // again, and are found there rather than made twice.
    QVERIFY(QFile::remove(pending));
    QVERIFY(QFile::rename(pending + ".kept", pending));
    QCOMPARE(storage::sendPendingAudit().value, 4);
    QCOMPARE(rows("select count(*) from orven.audit where action like '%（离线%'"),
             storage::Rows({{"4"}}));
    QCOMPARE(storage::sendPendingAudit().value, 0);
}

// A kept change that meets a record locked by another session when the
// server is back is not given up: it goes once the lock is released.
void ServerTest::keptChangeWaitsBehindALock()
{
    OwnCluster server("kept");
    QVERIFY(server.ok);
    qputenv("ORVEN_TEST_SHARED_DB", server.url.toUtf8());
    TempDatabase db;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(db.ok());
    storage::Equipment oven;
    oven.name = "Oven";
    QVERIFY(storage::saveEquipment(oven, {}, false).ok);
    waitUntil([] { return false; }, 1500); // the copy follows the change
    QVERIFY(server("halt"));
    QVERIFY(storage::openDatabase(server.url).ok);
    QVERIFY(storage::serverOffline());
    oven.model = "M2-away";
    QVERIFY(storage::modifyEquipment(oven, {}).ok);
    QVERIFY(server("resume"));
    QVERIFY(storage::openServerConnection("locker", server.url, false).ok);
    {
        QSqlDatabase locker = QSqlDatabase::database("locker");
        QSqlQuery lock(locker);
        QVERIFY(lock.exec("begin"));
        QVERIFY(lock.exec("set transaction read write"));
        // The row only: the trail's digest of the table still reads it.
        QVERIFY2(lock.exec("select * from orven.equipdata where name='Oven' for update"),
                 qPrintable(lock.lastError().text()));
        QVERIFY(
            waitUntil([] { return storage::serverReady() && !storage::serverOffline(); }, 15000));
        waitUntil([] { return false; }, 1000); // tried behind the lock
        QVERIFY(lock.exec("rollback"));
        locker.close();
    }
    QSqlDatabase::removeDatabase("locker");
    QVERIFY(waitUntil(
        [] { return rows("select model from orven.equipdata") == storage::Rows({{"M2-away"}}); },
        5000));
    QCOMPARE(rows("select count(*) from orven.audit where action like '%未能送出%'"),
             storage::Rows({{"0"}}));
    QVERIFY(storage::verifyAudit().value.whole());
}

void ServerTest::otherStationChangesEquipment()
{
    if (qEnvironmentVariableIsEmpty("ORVEN_TEST_SHARED_DB"))
        QSKIP("the other station of recordsChangedWhileServerDown");
    TempDatabase db;
    QVERIFY(db.ok());
    storage::Equipment cold = storage::equipmentRecord("Cold").value;
    QCOMPARE(cold.model, QString("C1"));
    cold.model = "C3-S9";
    QVERIFY(storage::modifyEquipment(cold, {}).ok);
}

// A server that hangs (its sockets open, never answering) never holds up
// the window: samples go to the spool and from there on a thread of their
// own, and arrive in order once it goes on. (Were a sample sent from the
// window's thread, this test would hang.)
void ServerTest::hungServerNeverHoldsUpTheWindow()
{
    OwnCluster server("hung");
    QVERIFY(server.ok);
    const QString &url = server.url;
    qputenv("ORVEN_TEST_SHARED_DB", url.toUtf8());
    TempDatabase db;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(db.ok());
    auto sample = [](int i) {
        return storage::Sample{"E", "检点1",
                               QString("2030-01-01 00:%1:%2")
                                   .arg(i / 60, 2, 10, QChar('0'))
                                   .arg(i % 60, 2, 10, QChar('0')),
                               "101;", QString("%1;").arg(i)};
    };
    QVERIFY(storage::insertSample(sample(0)).ok);
    QVERIFY(waitUntil([] { return storage::spoolState().waiting == 0; }, 10000));

    QVERIFY(server("freeze"));
    for (int i = 1; i < 250; ++i)
        QVERIFY(storage::insertSample(sample(i)).ok);
    waitUntil([] { return false; }, 500);
    QVERIFY(storage::spoolState().waiting > 0);
    QVERIFY(server("thaw"));
    QVERIFY(waitUntil([] { return storage::spoolState().waiting == 0; }, 20000));
    const storage::Rows stored = rows("select coldata from data order by rowid");
    QCOMPARE(stored.size(), 250);
    for (int i = 0; i < stored.size(); ++i)
        QCOMPARE(stored[i][0], QString("%1;").arg(i));
}

// The server hangs (stopped, its sockets open) during each action of the
// window: none waits for it longer than the window's deadline; each fails
// with the reason, and works again once the server goes on.
void ServerTest::frozenServerHoldsNoActionPastTheDeadline()
{
    OwnCluster server("frozen");
    QVERIFY(server.ok);
    qputenv("ORVEN_TEST_SHARED_DB", server.url.toUtf8());
    RunRig rig;
    qunsetenv("ORVEN_TEST_SHARED_DB");
    QVERIFY(rig.db.ok());
    QVERIFY(rig.build(quiet()));
    QVERIFY(rig.startSession());
    QVERIFY(rig.advanceUntil([&] { return rig.samples() >= 3; }, 10000));
    rig.stopSession();
    QVERIFY(waitUntil([] { return storage::spoolState().waiting == 0; }, 5000));

    using acquisition::RunSession;
    // A record's change is made on the station's copy once the server holds
    // still past the deadline, and reaches the server when it goes on; the
    // rest fails with the reason and works once the server is back.
    struct Action
    {
        const char *what;
        std::function<base::Status()> act;
        // On the server after the thaw (empty: a read); null: refused while away.
        const char *kept;
    };
    const Action actions[] = {
        {"processing",
         [&] {
             const RunSession::Processing p = rig.session->process(false);
             return p.outcome == RunSession::Processing::Done ? base::Status()
                                                              : base::Status::failure(p.reason);
         },
         nullptr},
        // The list (the calibration just processed with it) and what 开始
        // reads are answered from the copy.
        {"query list",
         [] {
             const auto list = storage::listHeaders();
             const auto stations = storage::stationsOfCalibrations();
             return list && list.value.size() == 1 && stations.value.size() == 1
                        ? base::Status()
                        : base::Status::failure(list.error + stations.error);
         },
         ""},
        {"opening a calibration",
         [] {
             // Its header on the window's thread; its samples on a worker
             // (below).
             const auto list = storage::listHeaders();
             const auto found = storage::readHeader(list.value.value(0).dtbegin);
             return found && found.value.found ? base::Status()
                                               : base::Status::failure(list.error + found.error);
         },
         ""},
        {"certificate number",
         [] {
             const auto list = storage::listHeaders();
             return storage::nextCertificate(list.value.value(0).dtbegin, "standard", "ORVEN",
                                             QDateTime::currentDateTime())
                 .status();
         },
         nullptr},
        // What a run reads (the start of a point): answered from the copy.
        {"selection",
         [] {
             const base::Result<storage::Selection> s = storage::readSelection();
             return s && !s.value.equipdata.isEmpty() ? base::Status()
                                                      : base::Status::failure(s.error);
         },
         "select count(*) from orven.secdevice where equipdata<>''"},
        {"laboratory",
         [] { return storage::saveCompany(storage::Company::fromRow({"Lab"}), QString()); },
         "select count(*) from orven.company where unitname='Lab'"},
        {"collector",
         [] {
             return storage::saveCollector(
                 storage::Collector::fromRow({"9", "N", "M702", "", "SN-9"}), {}, false);
         },
         "select count(*) from orven.datacollect where serialnum='SN-9'"},
        {"equipment",
         [] {
             storage::Equipment e;
             e.name = "Oven 2";
             return storage::saveEquipment(e, {}, false);
         },
         "select count(*) from orven.equipdata where name='Oven 2'"},
    };
    for (const Action &a : actions) {
        // The copy has followed what the last action did on the server.
        QVERIFY(storage::refreshLocalCopy(5000).ok);
        QVERIFY(server("freeze"));
        QElapsedTimer clock;
        clock.start();
        const base::Status during = a.act();
        const qint64 took = clock.elapsed();
        QVERIFY(server("thaw"));
        qInfo("%s with the server frozen: %lld ms", a.what, took);
        // The heartbeat finds the server holding still long before the
        // deadline (the figures are printed above).
        QVERIFY2(took < storage::kWindowDeadlineMs / 2,
                 qPrintable(QString("%1 held the window %2 ms").arg(a.what).arg(took)));
        if (a.kept) {
            QVERIFY2(during.ok && storage::serverOffline(), qPrintable(during.error));
            // Sent once the server answers again: within 5 s of the thaw.
            QVERIFY(waitUntil([] { return storage::serverReady() && !storage::serverOffline(); },
                              8000));
            QVERIFY(!*a.kept ||
                    waitUntil([&] { return rows(a.kept).value(0).value(0) == "1"; }, 5000));
            continue;
        }
        QVERIFY2(!during.ok && during.error.contains("服务器"), qPrintable(during.error));
        // Back on the server a moment after it goes on.
        QVERIFY(
            waitUntil([] { return storage::serverReady() && !storage::serverOffline(); }, 8000));
        const base::Status after = a.act();
        QVERIFY2(after.ok, qPrintable(QString(a.what) + ": " + after.error));
    }
    QCOMPARE(rows("select count(*) from orven.datamark").value(0).value(0), QString("1"));

    // Opening a calibration: its samples are read on a worker, and giving
    // the load up (取消, the page closed) never waits for a worker the server
    // holds back (here behind another session's lock).
    {
        QVERIFY(storage::openServerConnection("locker", server.url, false).ok);
        QSqlDatabase locker = QSqlDatabase::database("locker");
        QSqlQuery lock(locker);
        QVERIFY(lock.exec("begin"));
        QVERIFY(lock.exec("set transaction read write"));
        QVERIFY2(lock.exec("lock table orven.data in access exclusive mode"),
                 qPrintable(lock.lastError().text()));
        auto page = std::make_unique<Form6>();
        QMetaObject::invokeMethod(page.get(), "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
        waitUntil([] { return false; }, 300);
        QVERIFY(page->isLoading());
        QElapsedTimer clock;
        clock.start();
        click(page.get(), "pushButton_cancel");
        const qint64 cancelled = clock.elapsed();
        QVERIFY(!page->isLoading());
        QVERIFY(fullText(child<QLabel>(page.get(), "label_load")).startsWith("已取消加载"));
        QMetaObject::invokeMethod(page.get(), "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
        waitUntil([] { return false; }, 100);
        clock.restart();
        page.reset();
        const qint64 closed = clock.elapsed();
        QVERIFY(lock.exec("rollback"));
        locker.close();
        qInfo("a load held back by the server: given up in %lld ms, the page gone in %lld ms",
              cancelled, closed);
        QVERIFY2(cancelled < 200 && closed < 400, qPrintable(QString::number(closed)));
        // The jobs given up end by themselves once the server lets them.
        waitUntil([] { return false; }, 500);
    }
    QSqlDatabase::removeDatabase("locker");
}

// Calibrations are known by the second they began: another station's of
// the same second is neither replaced nor mixed with this station's.
void ServerTest::sameBeginningAsAnotherStation()
{
    RunRig rig;
    QVERIFY(rig.build(quiet()));
    QVERIFY(rig.startSession());
    QVERIFY(rig.advanceUntil([&] { return rig.samples() >= 3; }, 10000));
    rig.stopSession();
    const QString begin = rig.session->samples().first().timeText();
    QVERIFY(sql(QString("insert into orven.datamark (num, dtbegin, dtend, station, run) values "
                        "('1', '%1', '%1', 'other', 'theirs')")
                    .arg(begin)));
    QCOMPARE(storage::headerExists(begin).value, false);
    acquisition::RunSession::Processing p = rig.session->process(true);
    QCOMPARE(p.outcome, acquisition::RunSession::Processing::Failed);
    QVERIFY2(p.reason.contains("工作站“other”"), qPrintable(p.reason));
    QCOMPARE(rows("select station from orven.datamark"), (storage::Rows{{"other"}}));
    QVERIFY(sql("delete from orven.datamark where station='other'"));
    p = rig.session->process(true);
    QVERIFY2(p.outcome == acquisition::RunSession::Processing::Done, qPrintable(p.reason));
}

QTEST_MAIN(ServerTest)
#include "tst_server.moc"
