// Calibration runs against simulated collectors through real ports, at a
// one-second interval: acquisition, recording, the run page and its life cycle.

#include "app/mainwindow.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "pages/prompts.h"
#include "storage/spool.h"
#include "tests/runkit.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>

using namespace testkit;
using Setup = RunRig::Setup;

namespace {
bool portIsFree(const QString &port)
{
    rtu::SerialPort probe;
    QString error;
    const bool ok = probe.open(port, &error);
    if (!ok)
        qWarning() << error;
    return ok;
}
} // namespace

class RunTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }

    void m701OneCollectorRowPerTick();
    void discardingTheRunKeepsItsSamplesOutOfEveryCalibration();
    void settlingReadingsAreShownNotStored();
    void m701ReplySplitOverTwoReadsIsDecodedOnce();
    void valueBytesShowThreeDecimals();
    void twoM702CollectorsNeedBothReplies();
    void m702With64Channels();
    void unsortedTableGetsEachValueInItsColumn();
    void twoM701Collectors();
    void missingSpeedEchoLeavesNoPortOpen();
    void secondPortThatCannotOpen();
    void onlyDeviceTwoCheckedDoesNothing();
    void emptyIntervalStartsAt120();
    void intervalBelowOneSecondIsRefused();
    void stopAtTheLastPointSelectsTheFirst();
    void startWithoutCalibrationPointsIsRefused();
    void controlsAreLockedWhileRunning();
    void corruptedRepliesAreCountedNotStored();
    void lineClosingDuringARunIsShown();

    void samplesAreStoredWithTheirTimeAndPoint();
    void secAZeroLeavesChannelNamesEmpty();
    void failedInsertsAreShownAndTheRunGoesOn();
    void processingWithAnEmptyTable();
    void processingSpansAllPoints();
    void humidityHeaders();

    void doubleClicksStopDuringOffsetAndLateReplies();

    void calibrationActionReturnsTheRunningPage();
    void wrapToFirstPointAsksBeforeClearing();
    void headerNamesTheRunsOwnEquipmentAndCollector();
    void processingTwiceAsksToReplace();
    void silencedCollectorShowsMissedTicks();
    void closingTheMainWindowAsksAndStopsTheRun();
    void samplesWaitingAtStopAndCloseAreTriedAndCounted();
    void runCutOffIsOfferedBackAtStart_data();
    void runCutOffIsOfferedBackAtStart();
};

void RunTest::m701OneCollectorRowPerTick()
{
    RunRig rig;
    Setup s;
    s.family = rtu::Family::M701TC;
    s.channelsA = QStringList{"101", "102", "116"};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(3));
    rig.stop();
    QCOMPARE(rig.liveColumns(), 5);
    for (int r = 0; r < rig.liveRows(); ++r)
        QCOMPARE(rig.row(r).mid(1), (QStringList{"检点1", "25.250", "25.500", "29.000"}));
    QCOMPARE(rig.sim1->receivedFrames().first(), rtu::hexText(rtu::frame::readM701()));
    const shoudata::CollectorStats st = rig.page->stats(1);
    QCOMPARE(st.answered, rig.liveRows());
    QCOMPARE(st.rejected, 0);
}

// "放弃本次校准": asked first (否 keeps everything); then the samples stay in
// the database but belong to no calibration and are never offered again,
// and the page starts afresh.
void RunTest::discardingTheRunKeepsItsSamplesOutOfEveryCalibration()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    auto *discard = child<QPushButton>(rig.page.get(), "pushButton_discard");
    QVERIFY(!discard->isEnabled());
    rig.start();
    QVERIFY(rig.waitRows(2));
    rig.stop();
    const int taken = rig.liveRows();
    QVERIFY(discard->isEnabled());
    prompts::queueAnswer(false);
    discard->click();
    QCOMPARE(rig.liveRows(), taken);
    QCOMPARE(storage::unprocessedRun().value.size(), taken);
    prompts::queueAnswer(true);
    discard->click();
    QVERIFY(asked().last().contains(QString("已采集的 %1 条样本").arg(taken)));
    QCOMPARE(rig.liveRows(), 0);
    QVERIFY(!discard->isEnabled());
    QVERIFY(storage::unprocessedRun().value.isEmpty());
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString::number(taken));
    QCOMPARE(rig.page->session()->process(false).outcome,
             acquisition::RunSession::Processing::NoData);
}

// Each point waits its settling time before its first stored scan: the
// readings meanwhile are shown, none reaches the table or the database, and
// "立即记录" ends the wait at once.
void RunTest::settlingReadingsAreShownNotStored()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    auto *settle = child<QSpinBox>(rig.page.get(), "spinBox_settle");
    auto *now = child<QPushButton>(rig.page.get(), "pushButton_settleNow");
    auto *label = child<QLabel>(rig.page.get(), "label_point");
    auto *stability = child<QLabel>(rig.page.get(), "label_stability");
    settle->setValue(1);
    rig.start();
    const qint64 began = rig.clock.now();
    QVERIFY(!settle->isEnabled());
    rig.advance(50000);
    QCOMPARE(rig.liveRows(), 0);
    QVERIFY(now->isEnabled());
    // Shortened labels keep the whole text in their tooltip.
    auto shown = [](QLabel *l) { return l->toolTip().isEmpty() ? l->text() : l->toolTip(); };
    QVERIFY2(shown(label).contains("稳定等待中"), qPrintable(shown(label)));
    QVERIFY2(shown(stability).contains("温度 25.25…25.50 ℃"), qPrintable(shown(stability)));
    QVERIFY(rig.waitRows(3, 20000));
    QVERIFY(!now->isEnabled());
    const qint64 first = QDateTime::fromString(rig.row(0).value(0), "yyyy-MM-dd HH:mm:ss")
                             .toMSecsSinceEpoch();
    QVERIFY2(first >= began + 59000, qPrintable(rig.row(0).value(0)));
    rig.stop();
    // The next point settles again, until the operator says otherwise.
    const int before = rig.samples();
    rig.start();
    rig.advance(5000);
    QCOMPARE(rig.samples(), before);
    now->click();
    QVERIFY(rig.waitRows(before + 2, 5000));
    rig.stop();
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString::number(rig.samples()));
    QCOMPARE(QSettings().value("run/settleMinutes").toInt(), 1);
}

void RunTest::m701ReplySplitOverTwoReadsIsDecodedOnce()
{
    RunRig rig;
    Setup s;
    s.family = rtu::Family::M701RTD;
    s.options.chunks = 2;
    s.options.chunkGapMs = 300; // longer than any grace wait
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(2));
    rig.stop();
    const int rows = rig.liveRows();
    QCOMPARE(rows, rig.page->stats(1).answered);
    QVERIFY(rows <= rig.sim1->receivedFrames().size());
    QCOMPARE(rig.page->stats(1).rejected, 0);
    QCOMPARE(rig.row(0).mid(2), (QStringList{"25.250", "25.500"}));
}

void RunTest::valueBytesShowThreeDecimals()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.sim1->setCorrection(101, 0, 25.0f); // 0000c841
    rig.sim1->setCorrection(102, 0, 24.875f);
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    QCOMPARE(rig.row(0).mid(2), (QStringList{"25.000", "24.875"}));
    QCOMPARE(rtu::hexText(rtu::floatLE(25.0f)), QString("0000C841"));
}

void RunTest::twoM702CollectorsNeedBothReplies()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"101", "102"};
    s.channelsB = QStringList{"110", "111", "112"};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(1));
    QCOMPARE(rig.liveColumns(), 7);
    QCOMPARE(rig.row(0).mid(2), (QStringList{"25.250", "25.500", "27.500", "27.750", "28.000"}));

    // Collector two silent for one tick: no row for that tick.
    const int before = rig.liveRows();
    const int ticks = rig.sim1->receivedFrames().size();
    rig.sim2->setSilent(true);
    QVERIFY(rig.advanceUntil([&] { return rig.sim1->receivedFrames().size() >= ticks + 2; }, 5000));
    const int during = rig.liveRows();
    rig.sim2->setSilent(false);
    QVERIFY(during <= before + 1); // at most the pair already under way
    QVERIFY(rig.waitRows(during + 1));
    rig.stop();
    QVERIFY(rig.page->stats(2).missed >= 1);
    QCOMPARE(rig.page->stats(1).rejected, 0);
}

void RunTest::m702With64Channels()
{
    RunRig rig;
    Setup s;
    s.channelsA.clear();
    for (int ch = 101; ch <= 164; ++ch)
        s.channelsA << QString::number(ch);
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    const QStringList row = rig.row(0);
    QCOMPARE(row.size(), 66);
    QCOMPARE(row[2], QString("25.250"));
    QCOMPARE(row[65], QString("41.000"));
}

void RunTest::unsortedTableGetsEachValueInItsColumn()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"104", "101", "103"};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    QCOMPARE(rig.liveHeader(2), QString("104(℃)"));
    QCOMPARE(rig.row(0).mid(2), (QStringList{"26.000", "25.250", "25.750"}));
}

void RunTest::twoM701Collectors()
{
    RunRig rig;
    Setup s;
    s.family = rtu::Family::M701TC;
    s.channelsA = QStringList{"101", "102"};
    s.channelsB = QStringList{"101", "103"};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    QCOMPARE(rig.row(0).mid(2), (QStringList{"25.250", "25.500", "25.250", "25.750"}));
}

void RunTest::missingSpeedEchoLeavesNoPortOpen()
{
    RunRig rig;
    Setup s = RunRig::realSetup();
    s.options.silentAfter = 0;
    QVERIFY(rig.build(s));
    rig.start();
    QCOMPARE(firstLines(), QStringList{"提示|设备一没有应答！"});
    QVERIFY(!rig.page->isRunning());
    QVERIFY(child<QPushButton>(rig.page.get(), "pushButton")->isEnabled());
    QVERIFY(!child<QPushButton>(rig.page.get(), "pushButton_2")->isEnabled());
    // The port is free again.
    QVERIFY(portIsFree(rig.sim1->portPath()));
}

void RunTest::secondPortThatCannotOpen()
{
    RunRig rig;
    Setup s = RunRig::realSetup();
    s.channelsB = QStringList{"101"};
    QVERIFY(rig.build(s));
    setExtraPorts({rig.sim1->portPath(), rig.sim2->portPath(), "/dev/orven-gone"});
    click(rig.page.get(), "pushButton_7");
    auto *port2 = child<QComboBox>(rig.page.get(), "comboBox_4");
    port2->setCurrentIndex(port2->findText("/dev/orven-gone"));
    rig.start();
    QCOMPARE(firstLines(), QStringList{"提示|连接失败！"});
    QVERIFY(!rig.page->isRunning());
    QVERIFY(portIsFree(rig.sim1->portPath()));
}

void RunTest::onlyDeviceTwoCheckedDoesNothing()
{
    RunRig rig;
    Setup s;
    s.channelsB = QStringList{"101"};
    QVERIFY(rig.build(s));
    child<QCheckBox>(rig.page.get(), "checkBox")->setChecked(false);
    rig.start();
    QTest::qWait(300);
    QVERIFY(!rig.page->isRunning());
    QVERIFY(shown().isEmpty());
    QVERIFY(rig.sim1->receivedFrames().isEmpty());
    QVERIFY(rig.sim2->receivedFrames().isEmpty());
    QCOMPARE(rig.liveColumns(), 0);
}

void RunTest::emptyIntervalStartsAt120()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    child<QLineEdit>(rig.page.get(), "lineEdit")->clear();
    rig.start();
    QVERIFY2(rig.page->isRunning(), qPrintable(shown().join(',')));
    QCOMPARE(child<QLineEdit>(rig.page.get(), "lineEdit")->text(), QString("120"));
    QCOMPARE(rig.page->session()->intervalSeconds(), 120);
    // The first sample two minutes after the start, not before.
    rig.advance(110000);
    QCOMPARE(rig.liveRows(), 0);
    rig.advance(15000);
    QCOMPARE(rig.liveRows(), 1);
    rig.stop();
}

void RunTest::intervalBelowOneSecondIsRefused()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    auto *interval = child<QLineEdit>(rig.page.get(), "lineEdit");
    interval->setText("0");
    QCOMPARE(interval->text(), QString());
    interval->setText("0.5");
    QCOMPARE(interval->text(), QString());
    interval->setText("2");
    QCOMPARE(interval->text(), QString("2"));
    QCOMPARE(firstLines(),
             (QStringList{"提示|扫描间隔不得低于1秒！", "提示|扫描间隔不得低于1秒！"}));
}

void RunTest::stopAtTheLastPointSelectsTheFirst()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    QCOMPARE(rig.point()->count(), 3);
    rig.start();
    rig.stop();
    QCOMPARE(rig.point()->currentText(), QString("检点2"));
    QVERIFY(!shown().join(',').contains("已经完成"));
    rig.point()->setCurrentIndex(2);
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    QCOMPARE(rig.point()->currentText(), QString("检点1"));
    // Said, with what comes next.
    QVERIFY(shown().last().startsWith("提示|全部 3 个校准点已经完成。\n下一步：点“数据处理”"));
    QVERIFY(
        fullText(child<QLabel>(rig.page.get(), "label_point")).contains("下一步：点“数据处理”"));
}

void RunTest::startWithoutCalibrationPointsIsRefused()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    QVERIFY(storage::selectEquipment("nothing", "23", "55").ok);
    shoudata page;
    auto *tbnum = child<QTableWidget>(&page, "tbnum");
    QCOMPARE(tbnum->columnCount(), 1);
    click(&page, "pushButton");
    QCOMPARE(firstLines(), QStringList{"提示|没有可用的校准点，请先选定带校准点的试验设备。"});
    QVERIFY(!page.isRunning());
    QVERIFY(rig.sim1->receivedFrames().isEmpty());
}

void RunTest::controlsAreLockedWhileRunning()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    auto *tbnum = child<QTableWidget>(rig.page.get(), "tbnum");
    QCOMPARE(tbnum->columnCount(), 4);
    QCOMPARE(tbnum->horizontalHeaderItem(3)->text(), QString("检点3"));
    QCOMPARE(tbnum->item(0, 2)->text(), QString("30"));
    QCOMPARE(tbnum->item(1, 3)->text(), QString("70"));
    rig.start();
    for (const char *name :
         {"comboBox_2", "pushButton", "pushButton_4", "checkBox", "checkBox_2", "comboBox_3",
          "comboBox_4", "comboBox_5", "comboBox_6", "pushButton_6", "pushButton_7", "lineEdit"})
        QVERIFY2(!child<QWidget>(rig.page.get(), name)->isEnabled(), name);
    QVERIFY(child<QWidget>(rig.page.get(), "pushButton_2")->isEnabled());
    rig.stop();
    QVERIFY(child<QWidget>(rig.page.get(), "checkBox_2")->isEnabled());
    QVERIFY(!child<QWidget>(rig.page.get(), "comboBox_6")->isEnabled());
}

void RunTest::corruptedRepliesAreCountedNotStored()
{
    RunRig rig;
    Setup s;
    s.options.corruptEvery = 2; // every second reply, the speed echo being the first
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY2(rig.page->isRunning(), qPrintable(shown().join(',')));
    QVERIFY(rig.advanceUntil([&] { return rig.page->stats(1).rejected >= 2; }, 8000));
    rig.stop();
    for (int r = 0; r < rig.liveRows(); ++r)
        QCOMPARE(rig.row(r).mid(2), (QStringList{"25.250", "25.500"}));
    QCOMPARE(rows("select count(*) from data").value(0).value(0), QString::number(rig.liveRows()));
}

void RunTest::lineClosingDuringARunIsShown()
{
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup())); // the serial port's own fault
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.sim1->closeLine();
    auto *status = child<QLabel>(rig.page.get(), "label_status");
    QVERIFY(rig.advanceUntil([&] { return fullText(status).contains("串口故障"); }, 5000));
    // The fault in words, not the system's empty "unknown error".
    QVERIFY2(fullText(status).contains("断开"), qPrintable(fullText(status)));
    QVERIFY(!fullText(status).contains("未知错误") && !fullText(status).contains("Unknown error"));
    QVERIFY2(rig.page->isRunning(), qPrintable(shown().join(',')));
    const int rowsKept = rig.liveRows();
    rig.stop();
    QCOMPARE(rig.liveRows(), rowsKept);
    QVERIFY(!rig.page->isRunning());
}

void RunTest::samplesAreStoredWithTheirTimeAndPoint()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.sim1->setCorrection(101, 0, 25.0f);
    rig.sim1->setCorrection(102, 0, 24.875f);
    rig.start();
    QVERIFY(rig.waitRows(2));
    rig.stop();
    const storage::Rows stored = rows("select * from data order by coltime");
    QCOMPARE(stored.size(), rig.liveRows());
    for (int r = 0; r < stored.size(); ++r) {
        QCOMPARE(stored[r][0], QString("Chamber"));
        QCOMPARE(stored[r][1], QString("检点1"));
        QCOMPARE(stored[r][2], rig.row(r)[0]);
        QVERIFY(QDateTime::fromString(stored[r][2], "yyyy-MM-dd HH:mm:ss").isValid());
        QCOMPARE(stored[r][3], QString("101;102;"));
        QCOMPARE(stored[r][4], QString("25.000;24.875;"));
    }
}

void RunTest::secAZeroLeavesChannelNamesEmpty()
{
    RunRig rig;
    Setup s;
    s.secA = "0";
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    QCOMPARE(rows("select colname, coldata from data").value(0),
             (storage::Row{"", "25.250;25.500;"}));
}

void RunTest::failedInsertsAreShownAndTheRunGoesOn()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    QVERIFY(refuseWrites("disk_full", "insert", "data"));
    rig.start();
    QVERIFY(rig.waitRows(2));
    rig.stop();
    const QString status = fullText(child<QLabel>(rig.page.get(), "label_status"));
    if (onServer()) {
        // Kept on the station's disk until the server takes them.
        QCOMPARE(rig.page->unstoredSamples(), 0);
        QCOMPARE(storage::spoolState().waiting, rig.liveRows());
        QVERIFY2(storage::spoolState().lastError.contains("refused by the test"),
                 qPrintable(storage::spoolState().lastError));
        QVERIFY2(status.contains("暂存在本机"), qPrintable(status));
    } else {
        QCOMPARE(rig.page->unstoredSamples(), rig.liveRows());
        QVERIFY2(status.contains("refused by the test") && status.contains("起等待重试"),
                 qPrintable(status));
    }
    QVERIFY(prompts::records().isEmpty()); // no box per tick
}

void RunTest::processingWithAnEmptyTable()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.process();
    QCOMPARE(firstLines(), QStringList{"提示|当前没有数据！"});
    QCOMPARE(rows("select count(*) from datamark").value(0).value(0), QString("0"));
}

void RunTest::processingSpansAllPoints()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    for (int p = 0; p < 3; ++p) {
        rig.start();
        QVERIFY(rig.waitRows(rig.liveRows() + 1));
        rig.stop();
    }
    QCOMPARE(rig.point()->currentText(), QString("检点1"));
    const int n = rig.liveRows();
    QCOMPARE(rig.row(0)[1], QString("检点1"));
    QCOMPARE(rig.row(n - 1)[1], QString("检点3"));
    rig.process();
    QCOMPARE(firstLines(), (QStringList{"提示|全部 3 个校准点已经完成。", "提示|处理完成！"}));
    const storage::Rows header = rows("select * from datamark");
    QCOMPARE(header.size(), 1);
    const storage::Row h = header[0];
    QCOMPARE(h[0], QString("1"));
    QCOMPARE(h[1], rig.row(0)[0]);
    QCOMPARE(h[2], rig.row(n - 1)[0]);
    QCOMPARE(h[3], QString("3"));
    QCOMPARE(h[4], QString("20;30;40;"));
    QCOMPARE(h[5], QString("50;60;70;"));
    QCOMPARE(h[6], QString("2;0;0;"));
    QCOMPARE(h[8], QString("SIM0000001"));
    QCOMPARE(h[9], QString("Chamber"));
    QCOMPARE(h[10], QString("2"));
    QCOMPARE(h[11], QString::number(n));
    QCOMPARE(h[12], QString("101;102;"));
    QCOMPARE(h[13], QString("23"));
    QCOMPARE(h[14], QString("55"));
    QCOMPARE(h[15], QString("温湿度"));
    QCOMPARE(h[16], QString("00"));
}

void RunTest::humidityHeaders()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"101", "102", "103", "104"};
    s.flagsA = "0011";
    QVERIFY(rig.build(s));
    rig.start();
    rig.stop();
    QStringList headers;
    for (int c = 0; c < rig.liveColumns(); ++c)
        headers << rig.liveHeader(c);
    QCOMPARE(headers, (QStringList{"时间", "检定点", "101(℃)", "102(℃)", "103(%RH)", "104(%RH)"}));
    QVERIFY(rig.live()->columnWidth(0) >= 135);
}

void RunTest::doubleClicksStopDuringOffsetAndLateReplies()
{
    RunRig rig;
    Setup s = RunRig::realSetup();
    s.channelsB = QStringList{"101"};
    QVERIFY(rig.build(s));
    for (int round = 0; round < 3; ++round) {
        // Prompt speed echoes; once running, replies arrive while stop waits.
        rig.sim1->options().delayMs = rig.sim2->options().delayMs = 0;
        auto *start = child<QPushButton>(rig.page.get(), "pushButton");
        QTimer::singleShot(50, start, [start] { start->click(); }); // during the speed-echo wait
        rig.start();
        QVERIFY2(rig.page->isRunning(), qPrintable(shown().join(',')));
        rig.sim1->options().delayMs = rig.sim2->options().delayMs = 150;
        // Stop right after a tick, while collector two's send is pending.
        const int frames = rig.sim1->receivedFrames().size();
        QVERIFY(rig.advanceUntil([&] { return rig.sim1->receivedFrames().size() > frames; }, 3000));
        QTimer::singleShot(50, [&] { rig.stop(); }); // second click during the 200 ms wait
        rig.stop();
        QVERIFY(!rig.page->isRunning());
        const int point = rig.point()->currentIndex();
        QTest::qWait(900);
        QCOMPARE(rig.point()->currentIndex(), point);
    }
    QCOMPARE(rig.liveRows(), 0);
    QVERIFY(rig.advanceUntil([&] { return rig.page->findChildren<rtu::Exchange *>().isEmpty(); },
                             1000));
}

// ---- life cycle ----

void RunTest::calibrationActionReturnsTheRunningPage()
{
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup()));
    MainWindow w(rig.db.path());
    auto *action = w.findChild<QAction *>("action_3");
    action->trigger();
    auto *page = qobject_cast<shoudata *>(w.pages()->currentWidget());
    QVERIFY(page);
    child<QLineEdit>(page, "lineEdit")->setText("1");
    QTest::qWait(300); // the first paint of the window (fonts) is done before the start
    click(page, "pushButton");
    QVERIFY2(page->isRunning(), qPrintable(shown().join(',')));
    QVERIFY2(rig.advanceUntil(
                 [&] { return page->session()->state() == acquisition::RunState::Running; }, 3000),
             qPrintable(shown().join(',')));
    click(page, "pushButton_5"); // hide
    QVERIFY(!page->isVisible());
    w.findChild<QAction *>("action_5")->trigger();
    action->trigger();
    QCOMPARE(w.pages()->currentWidget(), page);
    QVERIFY(page->isRunning());
    QVERIFY(rig.advanceUntil(
        [&] { return child<QTableView>(page, "twshow")->model()->rowCount() >= 1; }, 5000));
    click(page, "pushButton_2");
    QVERIFY(rig.advanceUntil([&] { return !page->isRunning(); }, 2000));
    click(page, "pushButton_4");
    QCOMPARE(firstLines().last(), QString("提示|处理完成！"));
    const int count = w.pages()->count();
    action->trigger();
    QVERIFY(w.pages()->currentWidget() != page);
    QCOMPARE(w.pages()->count(), count + 1);
}

void RunTest::wrapToFirstPointAsksBeforeClearing()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    const int rowsBefore = rig.liveRows();
    rig.point()->setCurrentIndex(0);
    prompts::queueAnswer(false);
    rig.start();
    QCOMPARE(asked().size(), 1);
    QVERIFY(!rig.page->isRunning());
    QCOMPARE(rig.liveRows(), rowsBefore);
    prompts::queueAnswer(true);
    rig.start();
    QVERIFY2(rig.page->isRunning(), qPrintable(shown().join(',')));
    QCOMPARE(rig.liveRows(), 0);
    QVERIFY(rig.waitRows(1));
    rig.stop();
    rig.process();
    rig.point()->setCurrentIndex(0);
    rig.start();
    QCOMPARE(asked().size(), 2); // processed rows are not asked about
    rig.stop();
}

void RunTest::headerNamesTheRunsOwnEquipmentAndCollector()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    const storage::Equipment other = equipmentRow({"Other", "", "", "温度"}, {}, {});
    QVERIFY(storage::insertEquipment(other).ok);
    QVERIFY(storage::selectEquipment("Other", "19.5", "41").ok);
    QVERIFY(storage::selectCollector("SOMEONE-ELSE").ok);
    QVERIFY(storage::storeChannelLayout(storage::Device::A, {}, "0", "9;9;9;", "").ok);
    rig.process();
    const storage::Row h = rows("select * from datamark").value(0);
    QCOMPARE(h[8], QString("SIM0000001"));
    QCOMPARE(h[9], QString("Chamber"));
    QCOMPARE(h[15], QString("温湿度"));
    QCOMPARE(h[6], QString("2;0;0;"));
    QCOMPARE(h[16], QString("00"));
    QCOMPARE(h[13], QString("19.5"));
    QCOMPARE(h[14], QString("41"));
}

void RunTest::processingTwiceAsksToReplace()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.stop();
    rig.process();
    QVERIFY(storage::selectEquipment("Chamber", "30", "70").ok);
    prompts::queueAnswer(false);
    rig.process();
    QCOMPARE(asked().size(), 1);
    QCOMPARE(rows("select envtem from datamark"), (storage::Rows{{"23"}}));
    prompts::queueAnswer(true);
    rig.process();
    QCOMPARE(rows("select num,envtem from datamark"), (storage::Rows{{"1", "30"}}));
}

void RunTest::silencedCollectorShowsMissedTicks()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.start();
    QVERIFY(rig.waitRows(1));
    // Let the tick under way finish, then silence exactly three ticks.
    const int frames = rig.sim1->receivedFrames().size();
    QVERIFY(rig.advanceUntil([&] { return rig.page->stats(1).answered >= 1; }, 3000));
    rig.sim1->setSilent(true);
    QVERIFY(
        rig.advanceUntil([&] { return rig.sim1->receivedFrames().size() >= frames + 3; }, 6000));
    rig.sim1->setSilent(false);
    QVERIFY(rig.advanceUntil([&] { return rig.page->stats(1).missed >= 3; }, 3000));
    rig.stop();
    QVERIFY2(rig.page->stats(1).missed >= 3 && rig.page->stats(1).missed <= 4,
             qPrintable(QString::number(rig.page->stats(1).missed)));
    QVERIFY(fullText(child<QLabel>(rig.page.get(), "label_status"))
                .contains(QStringLiteral("未应答 %1 次").arg(rig.page->stats(1).missed)));
}

void RunTest::closingTheMainWindowAsksAndStopsTheRun()
{
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup()));
    MainWindow w(rig.db.path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.findChild<QAction *>("action_3")->trigger();
    auto *page = qobject_cast<shoudata *>(w.pages()->currentWidget());
    child<QLineEdit>(page, "lineEdit")->setText("1");
    QTest::qWait(300); // the first paint of the window (fonts) is done before the start
    click(page, "pushButton");
    QVERIFY2(page->isRunning(), qPrintable(shown().join(',')));
    prompts::queueAnswer(false);
    QVERIFY(!w.close());
    QVERIFY(page->isRunning());
    prompts::queueAnswer(true);
    QVERIFY(w.close());
    QVERIFY(!page->isRunning());
    QCOMPARE(asked().size(), 2);
}

void RunTest::samplesWaitingAtStopAndCloseAreTriedAndCounted()
{
    if (onServer())
        QSKIP("on a server refused samples wait in the station's spool, kept on disk "
              "(tst_server, failedInsertsAreShownAndTheRunGoesOn)");
    RunRig rig;
    QVERIFY(rig.build(RunRig::realSetup()));
    MainWindow w(rig.db.path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.findChild<QAction *>("action_3")->trigger();
    auto *page = qobject_cast<shoudata *>(w.pages()->currentWidget());
    child<QLineEdit>(page, "lineEdit")->setText("1");
    click(page, "pushButton");
    QVERIFY(rig.advanceUntil([&] { return page->session()->samples().size() >= 1; }, 5000));
    QVERIFY(fillTheDisk());
    QVERIFY(rig.advanceUntil([&] { return page->unstoredSamples() >= 2; }, 8000));

    // Closing says how many samples would be lost; Enter means No.
    prompts::clearRecords();
    QVERIFY(!w.close());
    const prompts::Record q = prompts::recordsOf(prompts::Kind::Question).value(0);
    QVERIFY2(q.text.startsWith(QStringLiteral("有 %1 条样本尚未保存").arg(page->unstoredSamples())),
             qPrintable(q.text));
    QVERIFY(q.destructive);
    QVERIFY(page->isRunning());

    // Room again: the stop stores them, and the status line says nothing of a full disk.
    QVERIFY(makeRoom());
    click(page, "pushButton_2");
    QVERIFY(rig.advanceUntil([&] { return !page->isRunning(); }, 5000));
    QCOMPARE(page->unstoredSamples(), 0);
    QVERIFY(!fullText(child<QLabel>(page, "label_status")).contains("未能保存"));
    QCOMPARE(rows("select count(*) from data").value(0).value(0).toInt(),
             page->session()->samples().size());
}

void RunTest::runCutOffIsOfferedBackAtStart_data()
{
    QTest::addColumn<int>("choice");
    QTest::newRow("continue") << 0;
    QTest::newRow("process as it is") << 1;
    QTest::newRow("later") << 2;
    QTest::newRow("set aside") << 3;
    QTest::newRow("layout no longer fits") << 4;
}

void RunTest::runCutOffIsOfferedBackAtStart()
{
    QFETCH(int, choice);
    RunRig rig;
    Setup setup;
    setup.withPage = false;
    QVERIFY(rig.build(setup));
    auto sample = [](const QString &point, const QString &time) {
        return sql(QStringLiteral("insert into data values('Chamber','%1','%2','101;102;',"
                                  "'25.250;25.500;')")
                       .arg(point, time));
    };
    // A processed calibration, a run given up without processing, then the
    // run the program was cut off in: only the last is offered.
    QVERIFY(sample("检点1", "2024-05-01 09:00:00"));
    QVERIFY(sql("insert into datamark values('1','2024-05-01 09:00:00','2024-05-01 09:00:00','3',"
                "'20;30;40;','50;60;70;','2;0;0;','','SIM0000001','Chamber','2','1','101;102;',"
                "'23','55','温湿度','00','')"));
    QVERIFY(sample("检点1", "2024-05-01 10:00:00"));
    QVERIFY(sample("检点2", "2024-05-01 10:01:00"));
    QVERIFY(sample("检点1", "2024-05-01 11:00:00"));
    QVERIFY(sample("检点1", "2024-05-01 11:00:05"));
    QVERIFY(sample("检点2", "2024-05-01 11:10:00"));
    if (choice == 4)
        QVERIFY(sql("delete from deviceA where num='102'"));
    prompts::clearRecords();
    prompts::queueChoice(choice == 4 ? 0 : choice);
    MainWindow w(rig.db.path());
    QVERIFY(waitUntil([] { return !prompts::recordsOf(prompts::Kind::Choice).isEmpty(); }, 2000));
    const QString offer = prompts::recordsOf(prompts::Kind::Choice).first().text;
    QVERIFY2(offer.contains("2024-05-01 11:00:00 至 2024-05-01 11:10:00，共 3 条样本"),
             qPrintable(offer));
    QTest::qWait(50);
    auto *page = qobject_cast<shoudata *>(w.pages()->currentWidget());
    switch (choice) {
    case 0:
        QVERIFY(page);
        QCOMPARE(page->session()->samples().size(), 3);
        QCOMPARE(page->session()->samples().last().values, (QVector<float>{25.25f, 25.5f}));
        QCOMPARE(child<QComboBox>(page, "comboBox_2")->currentText(), QString("检点3"));
        QVERIFY(page->hasUnprocessedRows());
        break;
    case 1: {
        QVERIFY(page);
        QCOMPARE(shown().last(), QString("提示|处理完成！"));
        const storage::Rows h = rows("select dtbegin, dtend, samplenum, pointnum from datamark "
                                     "order by dtbegin desc limit 1");
        QCOMPARE(h.value(0),
                 (storage::Row{"2024-05-01 11:00:00", "2024-05-01 11:10:00", "3", "3"}));
        break;
    }
    case 4:
        QVERIFY(shown().last().startsWith("失败|不能恢复这次校准：样本有 2 个通道"));
        break;
    default:
        QVERIFY(!page);
        break;
    }
    // Processed or set aside, it is not offered again; otherwise it is.
    prompts::clearRecords();
    MainWindow again(rig.db.path());
    QTest::qWait(50);
    QCOMPARE(prompts::recordsOf(prompts::Kind::Choice).size(), choice == 1 || choice == 3 ? 0 : 1);
}

QTEST_MAIN(RunTest)
#include "tst_run.moc"
