// The audit trail: one chained row per change, and every kind of tampering
// found by the check (on a file and on the server).

#include "app/mainwindow.h"
#include "storage/server.h"
#include "storage/statements.h"
#include "tests/testkit.h"

#include <QLabel>

using namespace testkit;

class AuditTest : public QObject
{
    Q_OBJECT

private slots:
    void everyChangeIsOneChainedRow();
    void tamperingIsFound_data();
    void tamperingIsFound();
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
    QTest::newRow("a value changed") << QString("update %1 set after='[]' where seq=3").arg(audit) << 3;
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
    rows(sql);
    const base::Result<storage::AuditCheck> check = storage::verifyAudit();
    QVERIFY(check.ok);
    QVERIFY2(!check.value.whole(), qPrintable(sql));
    QCOMPARE(check.value.firstBad, qint64(firstBad));
    ToolRun tampered = runReport({"--db", db.path(), "audit", "--verify"});
    QCOMPARE(tampered.code, 1);
    QVERIFY2(QString::fromUtf8(tampered.err).contains(check.value.reason), tampered.err.constData());
    // The next start of the workstation says so, in red.
    if (!onServer()) {
        MainWindow w(db.path());
        auto *said = w.findChild<QLabel *>("label_audit");
        QVERIFY(said && said->text().contains(check.value.reason));
    }
}

QTEST_MAIN(AuditTest)
#include "tst_audit.moc"
