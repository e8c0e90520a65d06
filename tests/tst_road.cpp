// The operator's road: failures that say why and what next, ports chosen
// for the operator, a download that shows its progress and can be stopped,
// Chinese standard buttons with No as the default of destructive questions,
// the start panel and the selection in the status bar.

#include "app/mainwindow.h"
#include "app/startpanel.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/prompts.h"
#include "tests/calibkit.h"
#include "tests/runkit.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDateEdit>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QStackedWidget>

using namespace testkit;

namespace {

void choosePort(QWidget *page, const char *refresh, const char *box, const QString &path)
{
    click(page, refresh);
    auto *ports = child<QComboBox>(page, box);
    ports->setCurrentIndex(ports->findText(path));
}

storage::Collector collector(const QString &serial, const QString &port,
                             const QString &name = "采集器一")
{
    storage::Collector c;
    c.num = "1";
    c.name = name;
    c.type = "M702";
    c.portnum = port;
    c.serialnum = serial;
    c.todata = "2099-01-01";
    return c;
}

} // namespace

class RoadTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }
    void scanFailuresSayWhy();
    void scanSuccessSaysWhat();
    void runStartFailureSaysWhy();
    void channelPageStartsOnTheSelectedCollectorsPort();
    void secondCollectorGetsItsOwnPort();
    void downloadShowsProgressAndCanBeStopped();
    void standardButtonsAreChineseAndDestructiveDefaultsToNo();
    void duplicateSerialAsksBeforeOverwriting();
    void validityDefaultsToAYearAhead();
    void startPanelAndStatusBarFollowTheData();
    void narrowPortBoxesShowTheWholeName();
};

void RoadTest::scanFailuresSayWhy()
{
    TempDatabase db;
    // A port that is not there.
    setExtraPorts({"/dev/orven-gone"});
    {
        Form1 page;
        choosePort(&page, "pushButton_2", "comboBox_2", "/dev/orven-gone");
        QVERIFY(clickAndWait(&page, "pushButton"));
        QCOMPARE(
            shown().last(),
            QString("提示|连接失败！\n串口 /dev/orven-gone 不存在，请点 ↺ 刷新，或检查连接线"));
    }
    // A collector that does not answer.
    sim::Options silent;
    silent.silentAfter = 0;
    auto quiet = startSim(silent);
    QVERIFY(quiet);
    setExtraPorts({quiet->portPath()});
    {
        Form1 page;
        choosePort(&page, "pushButton_2", "comboBox_2", quiet->portPath());
        QVERIFY(clickAndWait(&page, "pushButton"));
        QCOMPARE(shown().last(), QString("提示|扫描失败！\n采集器没有应答（串口 %1，1 秒）。请检查"
                                         "采集器电源、连接线，以及“型号”是否与采集器相符。")
                                     .arg(quiet->portPath()));
    }
    // A reply that does not check.
    sim::Options corrupt;
    corrupt.corruptEvery = 1;
    auto noisy = startSim(corrupt);
    QVERIFY(noisy);
    setExtraPorts({noisy->portPath()});
    Form1 page;
    choosePort(&page, "pushButton_2", "comboBox_2", noisy->portPath());
    QVERIFY(clickAndWait(&page, "pushButton"));
    QCOMPARE(shown().last(), QString("提示|扫描失败！\n应答校验错误，请检查连接线后重试。"));
}

void RoadTest::scanSuccessSaysWhat()
{
    TempDatabase db;
    auto sim = startSim();
    QVERIFY(sim);
    setExtraPorts({sim->portPath()});
    Form1 page;
    choosePort(&page, "pushButton_2", "comboBox_2", sim->portPath());
    QVERIFY(clickAndWait(&page, "pushButton"));
    QCOMPARE(shown().last(), QString("提示|成功！\n序列号 ORV7020001"));
}

void RoadTest::runStartFailureSaysWhy()
{
    RunRig rig;
    RunRig::Setup s;
    s.options.silentAfter = 0;
    QVERIFY(rig.build(s));
    rig.start();
    QCOMPARE(shown().last(),
             QString("提示|设备一没有应答！\n采集器没有应答（串口 %1，0.2 秒）。请检查"
                     "采集器电源、连接线和所选串口。")
                 .arg(rig.portName(1)));
}

void RoadTest::channelPageStartsOnTheSelectedCollectorsPort()
{
    TempDatabase db;
    setExtraPorts({"/tmp/orven-a", "/tmp/orven-b"});
    QVERIFY(storage::insertCollector(collector("ORV7020009", "/tmp/orven-b")).ok);
    QVERIFY(storage::selectCollector("ORV7020009").ok);
    Form3 page;
    QCOMPARE(child<QComboBox>(&page, "comboBox")->currentText(), QString("/tmp/orven-b"));
    QCOMPARE(child<QLabel>(&page, "label_collector")->text(),
             QString("设备一：ORV7020009  采集器一（串口 /tmp/orven-b）"));
    click(&page, "pushButton_5"); // to device two
    QVERIFY(child<QLabel>(&page, "label_collector")->text().startsWith("设备二："));
}

void RoadTest::secondCollectorGetsItsOwnPort()
{
    RunRig rig;
    RunRig::Setup s;
    s.channelsB = QStringList{"101"};
    QVERIFY(rig.build(s)); // checks device two and picks SIM0000002
    QCOMPARE(child<QComboBox>(rig.page.get(), "comboBox_4")->currentText(), QString("sim2"));
    QCOMPARE(child<QComboBox>(rig.page.get(), "comboBox_3")->currentText(), QString("sim1"));
}

void RoadTest::downloadShowsProgressAndCanBeStopped()
{
    TempDatabase db;
    sim::Options slow;
    slow.delayMs = 60; // the download lasts a couple of seconds
    auto sim = startSim(slow);
    QVERIFY(sim);
    setExtraPorts({sim->portPath()});
    Form3 page;
    child<QLineEdit>(&page, "lenum")->setText("16");
    choosePort(&page, "pushButton_6", "comboBox", sim->portPath());
    click(&page, "pushButton_2");
    QTest::qWait(1200);
    const QString progress = child<QLabel>(&page, "label_progress")->text();
    const int value = child<QProgressBar>(&page, "progressBar")->value();
    QVERIFY(child<QPushButton>(&page, "pushButton_stop")->isEnabled());
    QVERIFY(clickAndWait(&page, "pushButton_stop"));
    QVERIFY2(progress.startsWith("正在写入通道 1") || progress.startsWith("正在设置采集器"),
             qPrintable(progress));
    QVERIFY(progress.contains(" / "));
    QVERIFY(value > 0);
    QCOMPARE(shown(), QStringList{"提示|设置已停止，未保存。\n采集器中的通道配置现在不完整，校准前"
                                  "请重新设置通道。"});
    QCOMPARE(rows("select count(*) from deviceA").value(0).value(0), QString("0"));
    QCOMPARE(rows("select secA from secdevice").value(0).value(0), QString());
    QVERIFY(!child<QProgressBar>(&page, "progressBar")->isVisible());
    QVERIFY(child<QPushButton>(&page, "pushButton_2")->isEnabled());
}

void RoadTest::standardButtonsAreChineseAndDestructiveDefaultsToNo()
{
    QVERIFY2(prompts::loadQtTranslations(), "qttranslations5-l10n is installed by install-deps.sh");
    std::unique_ptr<QMessageBox> box(prompts::questionBox(nullptr, "提示", "确定删除？", true));
    QCOMPARE(box->button(QMessageBox::Yes)->text(), QString("是(&Y)"));
    QCOMPARE(box->button(QMessageBox::No)->text(), QString("否(&N)"));
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
    std::unique_ptr<QMessageBox> mild(prompts::questionBox(nullptr, "完成", "打开？", false));
    QCOMPARE(mild->defaultButton(), mild->button(QMessageBox::Yes));

    // The destructive questions of the road are asked as such.
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup())); // the main window's run uses the real line
    {
        Form1 page;
        click(&page, "pushButton_5"); // clear all collectors? No.
    }
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    rig.process();
    rig.process(); // replace the processed calibration?
    {
        MainWindow w(rig.db.path());
        w.findChild<QAction *>("action_3")->trigger();
        auto *run = qobject_cast<shoudata *>(w.pages()->currentWidget());
        child<QLineEdit>(run, "lineEdit")->setText("1");
        click(run, "pushButton");
        QVERIFY(waitUntil([&] { return run->isRunning(); }, 3000));
        QVERIFY(!w.close()); // quit over a run? No.
        run->stopRun();
    }
    const QList<prompts::Record> questions = prompts::recordsOf(prompts::Kind::Question);
    QVERIFY(questions.size() >= 3);
    for (const prompts::Record &q : questions)
        QVERIFY2(q.destructive, qPrintable(q.text));
}

void RoadTest::duplicateSerialAsksBeforeOverwriting()
{
    TempDatabase db;
    QVERIFY(storage::insertCollector(collector("ORV7020001", "/dev/x", "Old")).ok);
    Form1 page;
    child<QLineEdit>(&page, "lineEdit")->setText("2");
    child<QLineEdit>(&page, "lineEdit_2")->setText("New");
    child<QLineEdit>(&page, "lineEdit_3")->setText("ORV7020001");
    click(&page, "pushButton_3");
    QCOMPARE(asked(), QStringList{"提示|该序列号已存在，是否覆盖？\n序列号 ORV7020001"});
    QCOMPARE(rows("select name from datacollect"), (storage::Rows{{"Old"}}));
    prompts::queueAnswer(true);
    click(&page, "pushButton_3");
    QCOMPARE(rows("select num,name from datacollect"), (storage::Rows{{"2", "New"}}));
    QCOMPARE(shown().last(), QString("提示|保存成功！\n采集器 New（序列号 ORV7020001）"));
    // Delete of a serial that is not there says so.
    child<QLineEdit>(&page, "lineEdit_3")->setText("NOPE");
    prompts::queueAnswer(true);
    click(&page, "pushButton_8");
    QCOMPARE(shown().last(), QString("提示|没有找到序列号为“NOPE”的采集器，未删除。"));
}

void RoadTest::validityDefaultsToAYearAhead()
{
    TempDatabase db;
    Form1 page;
    QCOMPARE(child<QDateEdit>(&page, "dateEdit")->date(), QDate::currentDate().addYears(1));
}

void RoadTest::startPanelAndStatusBarFollowTheData()
{
    TempDatabase db;
    MainWindow w(db.path());
    StartPanel *panel = w.startPanel();
    QCOMPARE(w.pages()->currentIndex(), 0);
    QVERIFY(panel->isVisibleTo(&w));
    for (int i = 0; i < 6; ++i)
        QVERIFY(!panel->stepDone(i));
    QCOMPARE(w.selectionText(), QString("采集器：未选定    试验设备：未选定"));

    QVERIFY(storage::saveCompany({"Lab", "", "", "", "", "", "", ""}).ok);
    QVERIFY(panel->stepDone(0));
    QVERIFY(storage::insertCollector(collector("ORV7020001", "/dev/x")).ok);
    QVERIFY(storage::selectCollector("ORV7020001").ok);
    QVERIFY(panel->stepDone(1));
    QCOMPARE(w.selectionText(), QString("采集器：ORV7020001 采集器一    试验设备：未选定"));
    QVERIFY(storage::insertEquipment(equipmentRow({"Chamber"}, {"20"}, {"50"})).ok);
    QVERIFY(storage::selectEquipment("Chamber", "23", "55").ok);
    QVERIFY(panel->stepDone(2));
    QVERIFY(w.selectionText().endsWith("试验设备：Chamber"));
    QVERIFY(storage::storeChannelLayout(storage::Device::A,
                                        {{"101", "铂电阻", "PT100-385", "四线制", "1", "0", "100",
                                          "", "", "", "", "", "", ""}},
                                        "1", "1;0;0;", "0")
                .ok);
    QVERIFY(panel->stepDone(3));
    CalibrationFixture fixture;
    fixture.add(1, "20.000;20.100;");
    insertCalibration(fixture);
    QVERIFY(panel->stepDone(4));
    QVERIFY(panel->stepDone(5));
    // Each step is a button to its page.
    click(panel, "step_2");
    QCOMPARE(QString(w.pages()->currentWidget()->metaObject()->className()), QString("Form2"));
}

void RoadTest::narrowPortBoxesShowTheWholeName()
{
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup())); // long pseudo-terminal names
    auto *box = child<QComboBox>(rig.page.get(), "comboBox_3");
    // A name too long for the box is shortened on the left; it is whole in
    // the tooltip and the list.
    QCOMPARE(box->toolTip(), rig.sim1->portPath());
    QVERIFY(box->property("orvenElided").toBool());
    QVERIFY(box->view()->minimumWidth() >
            box->fontMetrics().horizontalAdvance(rig.sim1->portPath()));
}

QTEST_MAIN(RoadTest)
#include "tst_road.moc"
