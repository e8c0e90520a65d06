// orven-report: the list and results sub-commands on a database built here,
// run as the program scripts run.

#include "office/templates.h"
#include "office/zippackage.h"
#include "results/evaluation.h"
#include "tests/calibkit.h"
#include "tests/docskit.h"
#include "tests/testkit.h"
#include "tools/report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

using namespace testkit;

namespace {

QJsonObject object(const QByteArray &line)
{
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class ReportTest : public QObject
{
    Q_OBJECT

private slots:
    void listPrintsOneObjectPerCalibration();
    void resultsCarryTheDocumentFigures();
    void resultsOmitKindsTheTypeDoesNotAsk();
    void failuresExitOneWithAReason();
    void badUsageExitsTwo();
    void evaluateGivesEveryFigureWithItsBudget();
    void recordAndCertificateFiles();
    void damagedHeaderIsRefused_data();
    void damagedHeaderIsRefused();
    void targetsReadOnlyOrOpenElsewhereAreRefused();
    void rawAndCustomWorkbooks();
};

void ReportTest::listPrintsOneObjectPerCalibration()
{
    TempDatabase db;
    CalibrationFixture a;
    a.begin = "2024-05-02 10:00:00";
    a.equipment = "箱 A \"1\"";
    a.add(1, "20.000;20.100;", 3);
    insertCalibration(a);
    CalibrationFixture b;
    b.begin = "2024-05-01 09:00:00";
    b.collector = "ORV7020002";
    b.add(1, "20.000;20.100;", 2);
    b.add(2, "30.000;30.100;", 2);
    insertCalibration(b);

    const ToolRun r = runReport({"--db", db.path(), "list"});
    QCOMPARE(r.code, 0);
    const QList<QByteArray> lines = r.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("{\"key\": \"2024-05-01 09:00:00\", \"end\":"));
    const QJsonObject first = object(lines[0]);
    QCOMPARE(first.value("end").toString(), QString("2024-05-01 09:00:03"));
    QCOMPARE(first.value("equipment").toString(), QString("Chamber"));
    QCOMPARE(first.value("collector").toString(), QString("ORV7020002"));
    QCOMPARE(first.value("points").toInt(), 2);
    QCOMPARE(first.value("samples").toInt(), 4);
    const QJsonObject second = object(lines[1]);
    QCOMPARE(second.value("key").toString(), QString("2024-05-02 10:00:00"));
    QCOMPARE(second.value("equipment").toString(), QString("箱 A \"1\""));
    QCOMPARE(second.value("samples").toInt(), 3);
}

void ReportTest::resultsCarryTheDocumentFigures()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.equipType = "温湿度";
    fixture.channels = QStringList{"101", "102", "103"};
    fixture.kindsA = "2;1;0;";
    fixture.typesA = "001";
    fixture.tem = QStringList{"25", "25.5"};
    fixture.hum = QStringList{"50", "60"};
    fixture.add(1, "25.000;25.400;50.000;", 10);
    insertCalibration(fixture);

    const ToolRun r = runReport({"--db", db.path(), "results", fixture.begin});
    QCOMPARE(r.code, 0);
    const QJsonObject o = object(r.out);
    QCOMPARE(o.value("key").toString(), fixture.begin);
    QCOMPARE(o.value("equiptype").toString(), QString("温湿度"));
    const QJsonArray points = o.value("points").toArray();
    QCOMPARE(points.size(), 2);
    const QJsonObject p1 = points[0].toObject();
    QCOMPARE(p1.value("point").toInt(), 1);
    QCOMPARE(p1.value("samples").toInt(), 10);
    const QMap<QString, QString> expected{
        {"setT", "25"},           {"upperT", "0.400"},       {"lowerT", "0.000"},
        {"uniformityT", "0.400"}, {"fluctuationT", "0.200"}, {"spreadT", "0.200"},
        {"setH", "50"},           {"upperH", "0.000"},       {"lowerH", "0.000"},
        {"uniformityH", "0.000"}, {"fluctuationH", "0.000"}, {"spreadH", "0.000"}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(p1.value(it.key()).toString(), it.value());
    const QJsonArray channels = p1.value("channels").toArray();
    QCOMPARE(channels.size(), 3);
    QCOMPARE(channels[1].toObject().value("name").toString(), QString("1-102"));
    QCOMPARE(channels[1].toObject().value("max").toString(), QString("25.400"));
    // Point 2 has no samples: its figures are null, its set point as stored.
    const QJsonObject p2 = points[1].toObject();
    QCOMPARE(p2.value("setT").toString(), QString("25.5"));
    QVERIFY(p2.value("upperT").isNull());
    QVERIFY(p2.value("spreadH").isNull());
    QVERIFY(channels.size() == p2.value("channels").toArray().size());
    QVERIFY(p2.value("channels").toArray()[0].toObject().value("max").isNull());
}

void ReportTest::resultsOmitKindsTheTypeDoesNotAsk()
{
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.equipType = "湿度";
    fixture.typesA = "11";
    fixture.add(1, "50.000;51.000;", 2);
    insertCalibration(fixture);
    QTextStream out, err;
    QString o, e;
    out.setString(&o);
    err.setString(&e);
    QCOMPARE(report::run({"--db", db.path(), "results", fixture.begin}, out, err), 0);
    const QJsonObject p1 = object(o.toUtf8()).value("points").toArray()[0].toObject();
    QVERIFY(!p1.contains("setT"));
    QVERIFY(!p1.contains("upperT"));
    QCOMPARE(p1.value("upperH").toString(), QString("1.000"));
    QCOMPARE(p1.value("uniformityH").toString(), QString("1.000"));
}

void ReportTest::failuresExitOneWithAReason()
{
    TempDatabase db;
    ToolRun r = runReport({"--db", db.path(), "results", "2024-01-01 00:00:00"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY(r.err.contains("no calibration with key \"2024-01-01 00:00:00\""));

    const QString missing = db.dir() + "/nothing/ORVDB.db3";
    r = runReport({"--db", missing, "list"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("database not found"));
    QVERIFY(!QFile::exists(missing)); // never created

    QFile junk(db.dir() + "/junk.db3");
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    r = runReport({"--db", junk.fileName(), "list"});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.count('\n'), 1);
}

void ReportTest::badUsageExitsTwo()
{
    for (const QStringList &args :
         {QStringList{}, QStringList{"results"}, QStringList{"frobnicate"}, QStringList{"--db"},
          QStringList{"list", "extra"}}) {
        const ToolRun r = runReport(args);
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains("usage: orven-report"));
    }
    const ToolRun help = runReport({"--help"});
    QCOMPARE(help.code, 0);
    for (const char *usage :
         {"list", "results KEY", "evaluate KEY [--method NAME] [--window MIN]",
          "record KEY OUT [--template FILE]", "certificate KEY OUT [--template FILE]",
          "raw KEY OUT", "custom KEY OUT [--template FILE]", "--db FILE"})
        QVERIFY2(help.out.contains(usage), usage);
    QCOMPARE(runReport({}).err, help.out); // the usage text is the help
}

void ReportTest::evaluateGivesEveryFigureWithItsBudget()
{
    TempDatabase db;
    DocumentRig rig; // U 0.05 ℃ (k=2), resolution 0.01 ℃; three samples at point 1
    QVERIFY(rig.store());
    ToolRun r =
        runReport({"--db", db.path(), "evaluate", rig.fixture.begin, "--method", "jjf1101"});
    QVERIFY2(r.code == 0, r.err.constData());
    QJsonObject o = object(r.out);
    QCOMPARE(o.value("method").toString(), QString("JJF 1101-2019"));
    QCOMPARE(o.value("methodKey").toString(), QString("jjf1101"));
    QCOMPARE(o.value("windowMinutes").toInt(), 0);
    const QJsonArray points = o.value("points").toArray();
    QCOMPARE(points.size(), 3);
    const QJsonObject t = points[0].toObject().value("temperature").toObject();
    QCOMPARE(t.value("set").toString(), QString("25"));
    QCOMPARE(t.value("centre").toString(), QString("1-101"));
    QCOMPARE(t.value("scans").toInt(), 3);
    const QJsonArray figures = t.value("figures").toArray();
    QStringList ids, values;
    for (const QJsonValue &f : figures) {
        ids << f.toObject().value("id").toString();
        values << f.toObject().value("value").toString();
    }
    QCOMPARE(ids, (QStringList{"upper", "lower", "uniformity", "fluctuation"}));
    QCOMPARE(values, (QStringList{"0.400", "0.000", "0.333", "0.050"}));
    // The upper deviation: the standard (0.05 / 2), its resolution
    // (0.01 / 2√3), the repeatability of 1-102 (25.4, 25.4, 25.3): the
    // extreme is one reading, so s itself.
    const QJsonObject upper = figures[0].toObject();
    const QJsonObject budget = upper.value("budget").toObject();
    const QJsonArray components = budget.value("components").toArray();
    QCOMPARE(components.size(), 5); // then the stability and the set value's resolution, 0 here
    QCOMPARE(components[0].toObject().value("value").toDouble(), 0.05);
    QCOMPARE(components[0].toObject().value("divisor").toDouble(), 2.0);
    QCOMPARE(components[0].toObject().value("distribution").toString(), QString("normal"));
    QCOMPARE(components[1].toObject().value("distribution").toString(), QString("rectangular"));
    QVERIFY(components[2].toObject().value("source").toString().contains("1-102"));
    QVERIFY(qAbs(budget.value("combined").toDouble() - 0.062981) < 1e-5);
    // Three scans behind a dominant s: ν_eff = u_c⁴ / (s⁴ / 2) = 2.83, k = t_95(2).
    QVERIFY(qAbs(budget.value("effectiveDof").toDouble() - 2.8322) < 1e-3);
    QCOMPARE(budget.value("k").toDouble(), 4.30);
    QCOMPARE(upper.value("certificate").toObject().value("U").toString(), QString("0.27"));
    QCOMPARE(upper.value("certificate").toObject().value("value").toString(), QString("0.40"));
    QVERIFY(upper.value("why").isNull());
    // Humidity has its own standard (0.8 %RH, k=2).
    const QJsonObject h = points[0].toObject().value("humidity").toObject();
    QCOMPARE(h.value("figures")
                 .toArray()[0]
                 .toObject()
                 .value("budget")
                 .toObject()
                 .value("components")
                 .toArray()[0]
                 .toObject()
                 .value("value")
                 .toDouble(),
             0.8);

    // The last minute of each point: the samples are a minute apart.
    r = runReport({"--db", db.path(), "evaluate", rig.fixture.begin, "--method", "GB/T 5170.2",
                   "--window", "1"});
    QCOMPARE(r.code, 0);
    o = object(r.out);
    QCOMPARE(o.value("windowMinutes").toInt(), 1);
    QCOMPARE(o.value("points").toArray()[0].toObject().value("samples").toInt(), 2);

    // Without options: the method kept with the calibration.
    results::EvaluationSettings kept;
    kept.method = results::Method::Dkd57;
    kept.indicatedT.insert(1, 25.0);
    QVERIFY(storage::storeEvaluationSettings(rig.fixture.begin, kept.toJson()).ok);
    r = runReport({"--db", db.path(), "evaluate", rig.fixture.begin});
    QCOMPARE(r.code, 0);
    o = object(r.out);
    QCOMPARE(o.value("method").toString(), QString("DKD-R 5-7"));
    const QJsonObject correction = o.value("points")
                                       .toArray()[0]
                                       .toObject()
                                       .value("temperature")
                                       .toObject()
                                       .value("figures")
                                       .toArray()[0]
                                       .toObject();
    QCOMPARE(correction.value("value").toString(), QString("0.033")); // 25.033 − 25.0
    QCOMPARE(correction.value("budget").toObject().value("components").toArray().size(), 11);

    QCOMPARE(runReport({"--db", db.path(), "evaluate", rig.fixture.begin, "--method", "nope"}).code,
             2);
    QCOMPARE(runReport({"--db", db.path(), "evaluate", rig.fixture.begin, "--window", "-3"}).code,
             2);
    r = runReport({"--db", db.path(), "evaluate", "2030-01-01 00:00:00"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("no calibration"));
}

void ReportTest::recordAndCertificateFiles()
{
    TempDatabase db;
    DocumentRig rig;
    rig.keepRecords = false; // today's records: a missing collector stops the export
    QVERIFY(rig.store());
    const QString out = db.dir() + "/record.DOCX";
    ToolRun r = runReport({"--db", db.path(), "record", rig.fixture.begin, out});
    QVERIFY2(r.code == 0, r.err.constData());
    const base::Result<QList<office::ZipEntry>> z = office::readZip(out);
    QVERIFY(z.ok);
    QByteArray document;
    for (const office::ZipEntry &e : z.value)
        if (e.name == "word/document.xml")
            document = e.data;
    QVERIFY(document.contains("校准点3"));
    QVERIFY(document.contains("25  40  60  "));

    // Another template with the same bookmarks.
    const QString other = db.dir() + "/mine.docx";
    QVERIFY(QFile::copy(office::findTemplate("databook.docx"), other));
    r = runReport({"--db", db.path(), "certificate", rig.fixture.begin, db.dir() + "/c.docx",
                   "--template", other});
    QVERIFY2(r.code == 0, r.err.constData());

    r = runReport({"--db", db.path(), "certificate", "2000-01-01 00:00:00", db.dir() + "/n.docx"});
    QCOMPARE(r.code, 1);
    QVERIFY(!QFile::exists(db.dir() + "/n.docx"));
    r = runReport({"--db", db.path(), "certificate", rig.fixture.begin, db.dir() + "/n.docx",
                   "--template", db.dir() + "/none.docx"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("none.docx"));
    QVERIFY(sql("delete from datacollect"));
    r = runReport({"--db", db.path(), "record", rig.fixture.begin, db.dir() + "/n.docx"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("采集器"));
    QCOMPARE(runReport({"--db", db.path(), "record", rig.fixture.begin, db.dir() + "/n.txt"}).code,
             2);
}

void ReportTest::damagedHeaderIsRefused_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("reason");
    QTest::newRow("points beyond ten") << "pointnum"
                                       << "999999999"
                                       << "校准点个数为“999999999”";
    QTest::newRow("no points") << "pointnum"
                               << "0"
                               << "校准点个数为“0”";
    QTest::newRow("points not a number") << "pointnum"
                                         << "x"
                                         << "校准点个数为“x”";
    QTest::newRow("channels beyond 128") << "channum"
                                         << "2000000000"
                                         << "通道个数为“2000000000”";
    QTest::newRow("more channels than values") << "channum"
                                               << "5"
                                               << "而样本只有 2 个数值";
    QTest::newRow("negative samples") << "samplenum"
                                      << "-4"
                                      << "样本个数为“-4”";
}

void ReportTest::damagedHeaderIsRefused()
{
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, reason);
    TempDatabase db;
    CalibrationFixture fixture;
    fixture.add(1, "25.000;25.400;", 2);
    insertCalibration(fixture);
    QVERIFY(sql(QString("update datamark set %1='%2'").arg(column, value)));
    for (const QStringList &args : {QStringList{"results", fixture.begin},
                                    QStringList{"raw", fixture.begin, db.dir() + "/raw.xlsx"}}) {
        const ToolRun r = runReport(QStringList{"--db", db.path()} + args);
        QCOMPARE(r.code, 1);
        QVERIFY2(QString::fromUtf8(r.err).contains(reason), r.err.constData());
    }
    QVERIFY(!QFile::exists(db.dir() + "/raw.xlsx"));
    // The list still shows it, so it can be found and deleted.
    QCOMPARE(runReport({"--db", db.path(), "list"}).out.count('\n'), 1);
}

void ReportTest::targetsReadOnlyOrOpenElsewhereAreRefused()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    struct Case
    {
        const char *command, *name, *lock; // lock: a file beside the target, or none
        bool readOnly;
    };
    const QList<Case> cases{{"raw", "raw.xlsx", nullptr, true},
                            {"record", "record.docx", nullptr, true},
                            {"raw", "raw.xlsx", ".~lock.raw.xlsx#", false},
                            {"record", "record.docx", "~$record.docx", false},
                            {"certificate", "long-certificate.pdf", "~$ng-certificate.pdf", false}};
    for (const Case &c : cases) {
        const QString target = db.dir() + "/" + c.name;
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        if (c.readOnly)
            QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QString lock;
        if (c.lock) {
            lock = db.dir() + "/" + c.lock;
            QFile l(lock);
            QVERIFY(l.open(QIODevice::WriteOnly));
        }
        const ToolRun r = runReport({"--db", db.path(), c.command, rig.fixture.begin, target});
        QCOMPARE(r.code, 1);
        QVERIFY2(QString::fromUtf8(r.err).contains("被占用或只读"), r.err.constData());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        old.close();
        old.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(target);
        if (!lock.isEmpty())
            QFile::remove(lock);
    }
    // Without the lock the same target is written.
    const ToolRun r =
        runReport({"--db", db.path(), "raw", rig.fixture.begin, db.dir() + "/raw.xlsx"});
    QVERIFY2(r.code == 0, r.err.constData());
}

void ReportTest::rawAndCustomWorkbooks()
{
    TempDatabase db;
    DocumentRig rig;
    QVERIFY(rig.store());
    ToolRun r = runReport({"--db", db.path(), "raw", rig.fixture.begin, db.dir() + "/raw.xlsx"});
    QVERIFY2(r.code == 0, r.err.constData());
    bool sheet1 = false;
    for (const office::ZipEntry &e : office::readZip(db.dir() + "/raw.xlsx").value)
        sheet1 = sheet1 || (e.name == "xl/worksheets/sheet1.xml" && e.data.contains("25.4"));
    QVERIFY(sheet1);
    QCOMPARE(runReport({"--db", db.path(), "raw", rig.fixture.begin, db.dir() + "/raw.xls"}).code,
             2);
    r = runReport({"--db", db.path(), "custom", rig.fixture.begin, db.dir() + "/r.xls",
                   "--template", db.dir() + "/missing.xls"});
    QCOMPARE(r.code, 1);
    QVERIFY(r.err.contains("missing.xls"));
    r = runReport({"--db", db.path(), "custom", rig.fixture.begin, db.dir() + "/r.xls"});
    QVERIFY2(r.code == 0, r.err.constData());
    QCOMPARE(QFile(db.dir() + "/r.xls").open(QIODevice::ReadOnly), true);
}

QTEST_GUILESS_MAIN(ReportTest)
#include "tst_report.moc"
