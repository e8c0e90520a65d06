// What happens when the operator acts while a page waits for a collector:
// every exchange holds the page busy, so nothing is saved, processed or left
// sending behind the operator's back.

#include "app/mainwindow.h"
#include "pages/channels/form3.h"
#include "pages/collectors/form1.h"
#include "pages/prompts.h"
#include "tests/runkit.h"

#include <QAction>
#include <QStackedWidget>

using namespace testkit;

class ReentryTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }
    void saveDuringAScanSavesNothing();
    void processingDuringAStartWritesNothing();
    void closingDuringADownloadAsksAndStopsSending();
    void toolbarKeepsABusyPageInFront();
};

void ReentryTest::saveDuringAScanSavesNothing()
{
    TempDatabase db;
    auto collector = startSim();
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    Form1 page;
    click(&page, "pushButton_2");
    auto *ports = child<QComboBox>(&page, "comboBox_2");
    ports->setCurrentIndex(ports->findText(collector->portPath()));
    child<QLineEdit>(&page, "lineEdit")->setText("7");
    child<QLineEdit>(&page, "lineEdit_2")->setText("Collector");
    auto *serial = child<QLineEdit>(&page, "lineEdit_3");
    serial->setText("OLD0000001");

    click(&page, "pushButton"); // the scan goes on while the page answers
    QTest::qWait(100);
    QCOMPARE(serial->text(), QString("OLD0000001")); // never an empty serial
    QVERIFY(!child<QPushButton>(&page, "pushButton_3")->isEnabled());
    click(&page, "pushButton_3"); // save, in the middle of the scan
    click(&page, "pushButton_6"); // select, likewise
    QVERIFY(waitUntil([] { return !shown().isEmpty(); }, 5000));
    QCOMPARE(rows("select count(*) from datacollect").value(0).value(0), QString("0"));
    QCOMPARE(rows("select datacollect from secdevice").value(0).value(0), QString());
    QCOMPARE(shown(), QStringList{"提示|成功！\n序列号 ORV7020001"});
    QCOMPARE(serial->text(), QString("ORV7020001"));
    QVERIFY(child<QPushButton>(&page, "pushButton_3")->isEnabled());
}

void ReentryTest::processingDuringAStartWritesNothing()
{
    RunRig rig;
    QVERIFY(rig.build(RunRig::Setup()));
    rig.start();
    QVERIFY(rig.waitRows(2));
    rig.stop(); // on to point 2
    // Start point 2 and press processing while the start still waits for
    // the collector's speed echo.
    click(rig.page.get(), "pushButton");
    QVERIFY(rig.page->isRunning());
    QVERIFY(!child<QPushButton>(rig.page.get(), "pushButton_4")->isEnabled());
    click(rig.page.get(), "pushButton_4");
    QCOMPARE(rig.page->session()->process(false).outcome,
             acquisition::RunSession::Processing::Busy);
    QVERIFY(waitUntil(
        [&] { return rig.page->session()->state() == acquisition::RunState::Running; }, 3000));
    QCOMPARE(rows("select count(*) from datamark").value(0).value(0), QString("0"));
    QVERIFY(!shown().contains("提示|处理完成！"));
    rig.stop();
    rig.process();
    QCOMPARE(shown().last(), QString("提示|处理完成！"));
    QCOMPARE(rows("select samplenum from datamark").value(0).value(0),
             QString::number(rig.liveRows()));
}

void ReentryTest::closingDuringADownloadAsksAndStopsSending()
{
    TempDatabase db;
    // The first frame (the mask) is answered, then nothing: each of the 32
    // frames after it waits its full pause, so the download is still going
    // when the window closes, however loaded the machine is.
    sim::Options slow;
    slow.silentAfter = 1;
    auto collector = startSim(slow);
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    MainWindow w(db.path());
    w.show();
    w.findChild<QAction *>("action_7")->trigger();
    auto *page = qobject_cast<Form3 *>(w.pages()->currentWidget());
    QVERIFY(page);
    child<QLineEdit>(page, "lenum")->setText("16");
    click(page, "pushButton_6");
    auto *ports = child<QComboBox>(page, "comboBox");
    ports->setCurrentIndex(ports->findText(collector->portPath()));

    click(page, "pushButton_2"); // the download goes on in the background
    // Closed as soon as the first frame went out: 33 frames are to follow.
    QVERIFY(waitUntil([&] { return !collector->receivedFrames().isEmpty(); }, 10000));
    const int framesAtClose = collector->receivedFrames().size();
    prompts::queueAnswer(true);
    QVERIFY(!w.close()); // the exchange ends first
    QCOMPARE(asked(), QStringList{"提示|正在与采集器通信（扫描或设置通道），确定退出吗？"});
    QVERIFY(waitUntil([&] { return !w.isVisible(); }, 3000));
    const int framesAfter = collector->receivedFrames().size();
    QVERIFY(framesAfter <= framesAtClose + 1); // at most the frame under way
    QTest::qWait(500);
    QCOMPARE(collector->receivedFrames().size(), framesAfter);
    QCOMPARE(rows("select count(*) from deviceA").value(0).value(0), QString("0"));
    // No success; under a heavy load the first reply may have been late, which
    // is a failure box, never "设置完成!".
    for (const QString &box : shown())
        QVERIFY2(!box.contains("设置完成"), qPrintable(box));
}

void ReentryTest::toolbarKeepsABusyPageInFront()
{
    TempDatabase db;
    auto collector = startSim();
    QVERIFY(collector);
    setExtraPorts({collector->portPath()});
    MainWindow w(db.path());
    w.findChild<QAction *>("action")->trigger();
    auto *page = qobject_cast<Form1 *>(w.pages()->currentWidget());
    QVERIFY(page);
    click(page, "pushButton_2");
    auto *ports = child<QComboBox>(page, "comboBox_2");
    ports->setCurrentIndex(ports->findText(collector->portPath()));
    const int before = w.pages()->count();
    click(page, "pushButton");
    w.findChild<QAction *>("action_2")->trigger(); // while the scan waits
    QCOMPARE(w.pages()->count(), before);
    QCOMPARE(w.pages()->currentWidget(), static_cast<QWidget *>(page));
    QVERIFY(waitUntil([] { return !shown().isEmpty(); }, 5000));
    w.findChild<QAction *>("action_2")->trigger();
    QCOMPARE(w.pages()->count(), before + 1);
}

QTEST_MAIN(ReentryTest)
#include "tst_reentry.moc"
