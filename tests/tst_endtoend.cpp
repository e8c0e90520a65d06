// The whole road of one calibration through the main window against a
// simulated M702: record the collector by scanning it, record and select an
// equipment, download a layout, run two points and process the run.

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/equipment/form2.h"
#include "pages/prompts.h"
#include "pages/run/shoudata.h"
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

template <typename Page> static Page *open(MainWindow &w, const char *action)
{
    w.findChild<QAction *>(action)->trigger();
    return qobject_cast<Page *>(w.pages()->currentWidget());
}

static void choose(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text));
}

void EndToEndTest::wholeCalibrationWithoutHardware()
{
    prompts::setScripted(true);
    QTemporaryDir dir;
    sim::Options opt;
    opt.serial = "ORV7020001";
    opt.humidityChannels = {103, 104};
    auto collector = startSim(opt);
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    MainWindow w(dir.path() + "/ORVDB.db3");

    // Collector: scan, save, select.
    auto *collectors = open<Form1>(w, "action");
    QVERIFY(collectors);
    child<QLineEdit>(collectors, "lineEdit")->setText("1");
    child<QLineEdit>(collectors, "lineEdit_2")->setText("Logger");
    choose(child<QComboBox>(collectors, "comboBox_2"), collector->portPath());
    QVERIFY(clickAndWait(collectors, "pushButton"));
    QCOMPARE(child<QLineEdit>(collectors, "lineEdit_3")->text(), QString("ORV7020001"));
    click(collectors, "pushButton_3");
    click(collectors, "pushButton_6");

    // Equipment with two calibration points, selected with the ambient values.
    auto *equipment = open<Form2>(w, "action_2");
    child<QLineEdit>(equipment, "lineEdit_3")->setText("Climatic chamber");
    child<QLineEdit>(equipment, "lineEdit_10")->setText("20");
    child<QLineEdit>(equipment, "lineEdit_11")->setText("40");
    child<QLineEdit>(equipment, "lineEdit_12")->setText("40");
    child<QLineEdit>(equipment, "lineEdit_13")->setText("80");
    child<QLineEdit>(equipment, "lineEdit_14")->setText("2");
    click(equipment, "pushButton");
    click(equipment, "pushButton_4");

    // Layout: two resistance thermometers and two humidity transmitters.
    auto *layout = open<Form3>(w, "action_7");
    child<QLineEdit>(layout, "lenum")->setText("4");
    auto *table = child<QTableWidget>(layout, "twShow");
    for (int r = 2; r < 4; ++r) {
        table->item(r, 1)->setText("直流电压-H");
        table->item(r, 2)->setText("");
        table->item(r, 3)->setText("");
    }
    choose(child<QComboBox>(layout, "comboBox"), collector->portPath());
    QVERIFY(clickAndWait(layout, "pushButton_2"));
    QCOMPARE(collector->enabledChannels(), (QList<int>{101, 102, 103, 104}));

    // Run points 1 and 2, then process.
    auto *run = open<shoudata>(w, "action_3");
    QCOMPARE(child<QComboBox>(run, "comboBox_5")->currentText(), QString("ORV7020001"));
    QCOMPARE(child<QComboBox>(run, "comboBox_3")->currentText(), collector->portPath());
    child<QLineEdit>(run, "lineEdit")->setText("1");
    const QAbstractItemModel *live = child<QTableView>(run, "twshow")->model();
    for (int point = 0; point < 2; ++point) {
        const int before = live->rowCount();
        click(run, "pushButton");
        QVERIFY(run->isRunning());
        QVERIFY(waitUntil([&] { return live->rowCount() >= before + 2; }, 8000));
        click(run, "pushButton_2");
        QVERIFY(waitUntil([&] { return !run->isRunning(); }, 2000));
    }
    click(run, "pushButton_4");

    QCOMPARE(firstLines(),
             (QStringList{"提示|成功！", "提示|保存成功！", "提示|选择成功！", "提示|保存成功！",
                          "提示|选择成功！", "成功|设置完成!", "提示|全部 2 个校准点已经完成。",
                          "提示|处理完成！"}));
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
