// What happens when the operator acts while a page waits for a collector:
// every exchange holds the page busy, so nothing is saved, processed or left
// sending behind the operator's back.

#include "app/mainwindow.h"
#include "link/serialline.h"
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
    void pauseEndsOnTimeInsideNestedWaits();
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

    QString serialDuring;
    bool saveEnabled = true;
    QTimer::singleShot(300, &page, [&] {
        serialDuring = serial->text();
        saveEnabled = child<QPushButton>(&page, "pushButton_3")->isEnabled();
        click(&page, "pushButton_3"); // save, in the middle of the scan
        click(&page, "pushButton_6"); // select, likewise
    });
    click(&page, "pushButton");
    QVERIFY(!saveEnabled);
    QCOMPARE(serialDuring, QString("OLD0000001")); // never an empty serial
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
    auto collector = startSim();
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

    bool closedAtOnce = true;
    int framesAtClose = 0;
    QTimer::singleShot(800, &w, [&] {
        framesAtClose = collector->receivedFrames().size();
        prompts::queueAnswer(true);
        closedAtOnce = w.close();
    });
    click(page, "pushButton_2"); // returns when the download has ended
    QVERIFY(framesAtClose > 0);
    QVERIFY(!closedAtOnce); // the exchange ended first
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
    int countDuring = 0;
    QWidget *currentDuring = nullptr;
    QTimer::singleShot(300, &w, [&] {
        w.findChild<QAction *>("action_2")->trigger();
        countDuring = w.pages()->count();
        currentDuring = w.pages()->currentWidget();
    });
    const int before = w.pages()->count();
    click(page, "pushButton");
    QCOMPARE(countDuring, before);
    QCOMPARE(currentDuring, static_cast<QWidget *>(page));
    w.findChild<QAction *>("action_2")->trigger();
    QCOMPARE(w.pages()->count(), before + 1);
}

void ReentryTest::pauseEndsOnTimeInsideNestedWaits()
{
    // An outer wait whose deadline passes while an inner wait runs returns
    // right after the inner one, not at some later event.
    QElapsedTimer clock;
    clock.start();
    qint64 inner = 0;
    QTimer::singleShot(50, [&] {
        rtu::pauseWithEvents(300);
        inner = clock.elapsed();
    });
    rtu::pauseWithEvents(100);
    const qint64 outer = clock.elapsed();
    QVERIFY(inner >= 340);
    QVERIFY2(outer - inner < 200, qPrintable(QString::number(outer - inner)));
}

QTEST_MAIN(ReentryTest)
#include "tst_reentry.moc"
