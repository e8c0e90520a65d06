// The audit trail: one chained row per change, and every kind of tampering
// found by the check (on a file and on the server).

#include "app/mainwindow.h"
#include "storage/database.h"
#include "storage/server.h"
#include "storage/statements.h"
#include "tests/testkit.h"

#include <QLabel>
#include <QUrl>

using namespace testkit;

class AuditTest : public QObject
{
    Q_OBJECT

private slots:
    void everyChangeIsOneChainedRow();
    void tamperingIsFound_data();
    void tamperingIsFound();
    void recordsChangedOutsideAreFound_data();
    void recordsChangedOutsideAreFound();
    void trailOnlyGrowsOnServer();
};

namespace {

// Seven changes of four kinds of record.
bool sevenChanges()
{
    storage::setAuditOperator("张三");
    storage::Collector c = storage::Collector::fromRow({"1", "Logger", "M702", "", "SN-1"});
    storage::Equipment e;
    e.name = "Oven";
    const QList<base::Status> done{
        storage::saveCompany(storage::Company::fromRow({"某计量院"}), QString()),
        storage::saveCollector(c, {}, false),
        [&] {
            c.name = "Logger renamed";
            return storage::modifyCollector(c, {}).status();
        }(),
        storage::saveEquipment(e, {}, false),
        storage::storeChannelLocations(storage::Device::A, {{"101", "O"}}),
        storage::storeEvaluationSettings("2024-05-01 08:00:00", "{\"method\":\"jjf1101\"}"),
        storage::deleteCollectorsBySerial("SN-1").status(),
    };
    for (const base::Status &st : done)
        if (!st) {
            qWarning() << st.error;
            return false;
        }
    return true;
}

} // namespace

void AuditTest::everyChangeIsOneChainedRow()
{
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(sevenChanges());
    const base::Result<QList<storage::AuditRow>> all = storage::auditRows({}, {}, {});
    QVERIFY(all.ok);
    QCOMPARE(all.value.size(), 7);
    for (int i = 0; i < all.value.size(); ++i) {
        const storage::AuditRow &r = all.value[i];
        QCOMPARE(r.seq, qint64(i + 1));
        QCOMPARE(r.prev, i == 0 ? QString() : all.value[i - 1].hash);
        QCOMPARE(r.operatorName, QString("张三"));
        QCOMPARE(r.station, storage::stationName());
    }
    // One collector's history: created, renamed, deleted, with its values
    // before and after each change.
    const base::Result<QList<storage::AuditRow>> one = storage::auditRows({}, {}, "SN-1");
    QCOMPARE(one.value.size(), 3);
    QCOMPARE(one.value[0].action, QString("新增采集器"));
    QVERIFY(!one.value[0].before.contains("Logger") && one.value[0].after.contains("Logger"));
    QVERIFY(one.value[1].before.contains("\"Logger\"") &&
            one.value[1].after.contains("Logger renamed"));
    QCOMPARE(one.value[2].action, QString("删除采集器"));
    QVERIFY(one.value[2].before.contains("Logger renamed") &&
            !one.value[2].after.contains("Logger"));
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    QVERIFY(check.ok && check.value.whole());
    QCOMPARE(check.value.rows, 7);
    // A change that fails leaves no row.
    QVERIFY(!storage::saveCompany(storage::Company(), "yyyy").ok);
    QCOMPARE(storage::auditRows({}, {}, {}).value.size(), 7);
}

void AuditTest::tamperingIsFound_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("firstBad");
    const QString audit = onServer() ? "orven.audit" : "audit";
    // On a server the trail refuses changes: what follows is what an owner
    // who first turns that off could still do.
    QTest::newRow("a value changed")
        << QString("update %1 set after='[]' where seq=3").arg(audit) << 3;
    QTest::newRow("a row deleted") << QString("delete from %1 where seq=4").arg(audit) << 4;
    QTest::newRow("the last row removed") << QString("delete from %1 where seq=7").arg(audit) << 7;
    QTest::newRow("a row inserted after the end")
        << QString("insert into %1 (seq, at, prev, hash) select 8, at, hash, hash from %1 where "
                   "seq=7")
               .arg(audit)
        << 8;
    QTest::newRow("a row inserted out of place")
        << QString("insert into %1 (seq, at, prev, hash) values (20, '2000-01-01', '', '')")
               .arg(audit)
        << 8;
    QTest::newRow("a hash made to fit a changed row")
        << QString("update %1 set action='x', hash=prev where seq=2").arg(audit) << 2;
}

// Each change made outside the program (as with sqlite3 or psql) is found,
// with the first row concerned named; the tool says the same and exits 1.
void AuditTest::tamperingIsFound()
{
    QFETCH(QString, sql);
    QFETCH(int, firstBad);
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(sevenChanges());
    ToolRun whole = runReport({"--db", db.path(), "audit", "--verify"});
    QCOMPARE(whole.code, 0);
    QCOMPARE(QString::fromUtf8(whole.out).trimmed(), QString("审计记录完整，7 条"));
    if (onServer())
        QVERIFY(::sql("alter table orven.audit disable trigger user"));
    rows(sql);
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    QVERIFY(check.ok);
    QVERIFY2(!check.value.whole(), qPrintable(sql));
    QCOMPARE(check.value.firstBad, qint64(firstBad));
    ToolRun tampered = runReport({"--db", db.path(), "audit", "--verify"});
    QCOMPARE(tampered.code, 1);
    QVERIFY2(QString::fromUtf8(tampered.err).contains(check.value.reason),
             tampered.err.constData());
    // The next start of the workstation says so, in red.
    if (!onServer()) {
        MainWindow w(db.path());
        auto *said = w.findChild<QLabel *>("label_audit");
        QVERIFY(said && said->text().contains(check.value.reason));
    }
}

void AuditTest::recordsChangedOutsideAreFound_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("said");
    const QString in = onServer() ? "orven." : "";
    QTest::newRow("laboratory renamed")
        << QString("update %1company set unitname='另一家'").arg(in) << "检定单位（company）";
    QTest::newRow("equipment removed")
        << QString("delete from %1equipdata").arg(in) << "试验设备（equipdata）";
    QTest::newRow("collector added")
        << QString("insert into %1datacollect (num, serialnum) values ('9', 'SN-9')").arg(in)
        << "采集器（datacollect）";
    QTest::newRow("evaluation settings changed")
        << QString("update %1evaluation set settings='{}'").arg(in) << "评定设置（evaluation）";
}

// A record table changed with sqlite3 or psql is found by the check and by
// the next start, also after the program changed other records since.
void AuditTest::recordsChangedOutsideAreFound()
{
    QFETCH(QString, sql);
    QFETCH(QString, said);
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(sevenChanges());
    QVERIFY(storage::verifyAudit().value.whole());
    QVERIFY(::sql(sql));
    QVERIFY(storage::addOperatorAccount("李四", {"校准员"}, "secret-1").ok);
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    QVERIFY(check.ok);
    QVERIFY2(!check.value.whole() && check.value.reason.contains(said) &&
                 check.value.reason.contains("程序之外"),
             qPrintable(check.value.reason));
    QCOMPARE(check.value.rows, 8);
    if (!onServer()) {
        MainWindow w(db.path());
        auto *shown = w.findChild<QLabel *>("label_audit");
        QVERIFY(shown && shown->text().contains(said));
    }
}

// On a server the trail only grows: the trail refuses changes even to the
// schema's owner, and the role the stations log in as may only read and
// append to it while it reads and writes every record.
void AuditTest::trailOnlyGrowsOnServer()
{
    if (!onServer())
        QSKIP("a server's rights");
    TempDatabase db;
    QVERIFY(db.ok());
    QVERIFY(sevenChanges());
    QVERIFY(!::sql("update orven.audit set operator='王五' where seq=1"));
    QVERIFY(!::sql("delete from orven.audit where seq=7"));
    QVERIFY(!::sql("truncate orven.audit"));

    const QString role = QString("orven_station_%1").arg(QCoreApplication::applicationPid());
    const ToolRun made = runReportWith({"--db", db.path(), "station-role", role}, "station-pw-1\n");
    QVERIFY2(made.code == 0, made.err.constData());
    QVERIFY(!made.out.contains("station-pw-1") && !made.err.contains("station-pw-1"));
    QUrl asStation(db.path());
    asStation.setUserName(role);
    asStation.setPassword("station-pw-1");
    QVERIFY(storage::openDatabase(asStation.toString()).ok);
    QCOMPARE(rows("select current_user").value(0).value(0), role);
    storage::Equipment e;
    e.name = "Oven 2";
    QVERIFY(storage::saveEquipment(e, {}, false).ok);
    QVERIFY(storage::saveCompany(storage::Company::fromRow({"另一家"}), QString()).ok);
    QVERIFY(storage::deleteEquipmentByName("Oven").ok);
    const struct
    {
        const char *what, *sql;
    } refused[] = {
        {"update", "update orven.audit set operator='王五' where seq=1"},
        {"delete", "delete from orven.audit where seq=9"},
        {"truncate", "truncate orven.audit"},
        {"trigger off", "alter table orven.audit disable trigger user"},
        {"trigger dropped", "drop trigger audit_only_grows on orven.audit"},
    };
    for (const auto &r : refused)
        QVERIFY2(!::sql(r.sql), r.what);
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    QVERIFY(check.ok && check.value.whole());
    QCOMPARE(check.value.rows, 10);

    QVERIFY(storage::openDatabase(db.path()).ok);
    QVERIFY(::sql(QString("drop owned by %1").arg(role)));
    QVERIFY(::sql(QString("drop role %1").arg(role)));
}

QTEST_MAIN(AuditTest)
#include "tst_audit.moc"
