// The whole road of one calibration through the main window against a
// simulated M702 (see roadkit.h), on either back end.

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/prompts.h"
#include "pages/run/shoudata.h"
#include "tests/roadkit.h"
#include "tests/testkit.h"

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
};

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

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
