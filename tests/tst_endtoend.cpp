// The whole road of one calibration through the main window against a
// simulated M702 (see roadkit.h), on either back end.

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/prompts.h"
#include "pages/reports/chamberview.h"
#include "pages/run/shoudata.h"
#include "tests/roadkit.h"
#include "tests/testkit.h"

#include <cmath>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTableWidget>

using namespace testkit;

class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void wholeCalibrationWithoutHardware();
    void everyFamilyAndReplyLayout_data();
    void everyFamilyAndReplyLayout();
    void nineLocationsFromTheEquipmentToTheKeptRecords();
};

using WriteReplies = sim::Options::WriteReplies;
Q_DECLARE_METATYPE(WriteReplies)
Q_DECLARE_METATYPE(rtu::Family)

void EndToEndTest::everyFamilyAndReplyLayout_data()
{
    QTest::addColumn<rtu::Family>("family");
    QTest::addColumn<int>("function"); // of the M702's reading
    QTest::addColumn<WriteReplies>("layout");
    QTest::addColumn<bool>("two");
    const QList<QPair<const char *, rtu::Family>> families{{"M702", rtu::Family::M702},
                                                           {"M701-TC", rtu::Family::M701TC},
                                                           {"M701-RTD", rtu::Family::M701RTD}};
    // ORVEN_TEST_FAMILIES="M702" or "M701-TC,M701-RTD": one part of the rows
    // (the suite runs in parts side by side).
    const QStringList only = qEnvironmentVariable("ORVEN_TEST_FAMILIES").split(',', Qt::SkipEmptyParts);
    for (const auto &f : families)
        for (int function : {3, 6}) {
            if (!only.isEmpty() && !only.contains(QLatin1String(f.first)))
                continue;
            if (function == 6 && f.second != rtu::Family::M702)
                continue; // an M701 reads with function 03 only
            for (WriteReplies layout : {WriteReplies::Counted, WriteReplies::Echo})
                for (bool two : {false, true})
                    QTest::addRow("%s, reading %02d, %s, %s", f.first, function,
                                  layout == WriteReplies::Echo ? "echo" : "counted",
                                  two ? "two collectors" : "one")
                        << f.second << function << layout << two;
        }
}

// The road on every collector family, reading function and write-reply
// layout a collector may have, with one and two collectors.
void EndToEndTest::everyFamilyAndReplyLayout()
{
    if (onServer())
        QSKIP("the replies a collector sends do not depend on the database");
    QFETCH(rtu::Family, family);
    QFETCH(int, function);
    QFETCH(WriteReplies, layout);
    QFETCH(bool, two);
    prompts::setScripted(true);
    TempDatabase db;
    QVERIFY(db.ok());
    std::unique_ptr<sim::CollectorSim> collectors[2];
    for (int i = 0; i < (two ? 2 : 1); ++i) {
        sim::Options opt;
        opt.family = family;
        opt.serial = QStringLiteral("ORV70") + QString::number(int(family)) + QStringLiteral("000") +
                     QString::number(i + 1);
        opt.readingFunction = quint8(function);
        opt.writeReplies = layout;
        opt.temperature = 20;
        if (family == rtu::Family::M702)
            opt.humidityChannels = {103, 104};
        collectors[i] = startSim(opt);
        QVERIFY(collectors[i]);
    }
    setExtraPorts(two ? QStringList{collectors[0]->portPath(), collectors[1]->portPath()}
                      : QStringList{collectors[0]->portPath()});
    MainWindow w(db.path());
    Road road;
    road.points = 1;
    road.rowsPerPoint = 1;
    road.second = collectors[1].get();
    const QString stopped = walkTheRoad(w, *collectors[0], road);
    setExtraPorts({});
    QVERIFY2(stopped.isEmpty(), qPrintable(stopped));
    QVERIFY2(!shown().join('\n').contains("失败"), qPrintable(shown().join('\n')));
    QCOMPARE(firstLines().count("成功|设置完成!"), two ? 2 : 1);
    QCOMPARE(firstLines().last(), QString("提示|处理完成！"));

    const storage::Row header = rows("select * from datamark").value(0);
    const storage::Rows samples = rows("select coldata from data");
    QVERIFY(samples.size() >= road.rowsPerPoint);
    QCOMPARE(header.value(11), QString::number(samples.size()));
    for (const storage::Row &sample : samples) {
        const QStringList values = sample.value(0).split(';', Qt::SkipEmptyParts);
        QCOMPARE(values.size(), two ? 8 : 4);
        // Temperatures near the chamber's 20 ℃, the M702's humidity near 60 %RH.
        for (int i = 0; i < values.size(); ++i) {
            const bool humidity = family == rtu::Family::M702 && i % 4 >= 2;
            QVERIFY2(qAbs(values[i].toDouble() - (humidity ? 60.0 : 20.0)) < 2.0,
                     qPrintable(sample.value(0)));
        }
    }
}

void EndToEndTest::wholeCalibrationWithoutHardware()
{
    prompts::setScripted(true);
    TempDatabase db; // a file, or a database of its own on the test server
    QVERIFY(db.ok());
    sim::Options opt;
    opt.serial = "ORV7020001";
    opt.humidityChannels = {103, 104};
    auto collector = startSim(opt);
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    MainWindow w(db.path());
    const QString stopped = walkTheRoad(w, *collector);
    QVERIFY2(stopped.isEmpty(), qPrintable(stopped));
    QCOMPARE(collector->enabledChannels(), (QList<int>{101, 102, 103, 104}));
    const QAbstractItemModel *live =
        child<QTableView>(w.pages()->currentWidget(), "twshow")->model();

    QCOMPARE(firstLines(), (QStringList{"提示|成功！", "提示|保存成功！", "提示|选择成功！",
                                        "提示|保存成功！", "提示|选择成功！", "成功|设置完成!",
                                        "提示|全部 2 个校准点已经完成。", "提示|处理完成！"}));
    QCOMPARE(live->headerData(4, Qt::Horizontal).toString(), QString("103(%RH)"));
    const storage::Row header = rows("select * from datamark").value(0);
    QCOMPARE(header.value(3), QString("2"));
    QCOMPARE(header.value(4), QString("20;40;"));
    QCOMPARE(header.value(5), QString("40;80;"));
    QCOMPARE(header.value(6), QString("2;2;0;"));
    QCOMPARE(header.value(8), QString("ORV7020001"));
    QCOMPARE(header.value(9), QString("Climatic chamber"));
    QCOMPARE(header.value(11), QString::number(live->rowCount()));
    QCOMPARE(header.value(12), QString("101;102;103;104;"));
    QCOMPARE(header.value(16), QString("0011"));
    const storage::Rows samples =
        rows("select jdnum,colname,coldata from data where coltime>='" + header.value(1) +
             "' and coltime<='" + header.value(2) + "'");
    QCOMPARE(samples.size(), live->rowCount());
    QCOMPARE(samples.first().value(0), QString("检点1"));
    QCOMPARE(samples.last().value(0), QString("检点2"));
    const QStringList values = samples.first().value(2).split(';', Qt::SkipEmptyParts);
    QCOMPARE(values.size(), 4);
    QVERIFY(qAbs(values[0].toDouble() - 25.0) < 1.0);
    QVERIFY(qAbs(values[2].toDouble() - 60.0) < 1.0); // humidity channel
    setExtraPorts({});
}

// The method's nine locations chosen on the equipment page, a probe placed
// at each on the channel page: the live picture shows them while the point
// runs, and the processed calibration keeps where each probe was.
void EndToEndTest::nineLocationsFromTheEquipmentToTheKeptRecords()
{
    prompts::setScripted(true);
    TempDatabase db;
    QVERIFY(db.ok());
    sim::Options opt;
    opt.serial = "ORV7020009";
    auto collector = startSim(opt);
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    MainWindow w(db.path());
    Road road;
    road.points = 1;
    road.rowsPerPoint = 2;
    road.nineLocations = true;
    QVector<results::ChamberDot> live;
    road.whileRunning = [&](shoudata *run) {
        click(run, "pushButton_chamber");
        if (run->chamberView())
            live = run->chamberView()->picture().dots;
    };
    const QString stopped = walkTheRoad(w, *collector, road);
    setExtraPorts({});
    QVERIFY2(stopped.isEmpty(), qPrintable(stopped));
    QCOMPARE(live.size(), 9); // the temperature dots
    for (const results::ChamberDot &d : live)
        QVERIFY2(std::isfinite(d.mean), qPrintable(d.channel));
    QCOMPARE(firstLines().last(), QString("提示|处理完成！"));
    const QString dtbegin = rows("select dtbegin from datamark").value(0).value(0);
    const base::Result<storage::FoundSnapshot> kept = storage::snapshotOf(dtbegin);
    QVERIFY(kept.ok && kept.value.found);
    const QMap<QString, QString> &where = kept.value.snapshot.locationsA;
    QCOMPARE(where.size(), 11);
    QCOMPARE(where.value("105"), QString("O"));
    QCOMPARE(where.value("110"), QString("O"));
    QCOMPARE(where.value("111"), QString("A"));
    QCOMPARE(kept.value.snapshot.equipmentExtra.layout, QString("9"));
}

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
