// The live view of a run: the panel's figures, the countdown, stability,
// alarms, the questions at stop and start, and the curve window's data.

#include "acquisition/curvestore.h"
#include "pages/prompts.h"
#include "pages/reports/chamberview.h"
#include "pages/run/curvewindow.h"
#include "results/calibration.h"
#include "tests/runkit.h"

#include <cmath>

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QTest>

using namespace testkit;
using Setup = RunRig::Setup;

namespace {

acquisition::MonitorSettings quick()
{
    acquisition::MonitorSettings s;
    s.windowSeconds = 3;
    s.minSamples = 3;
    s.limitT = 0.5;
    s.limitH = 2.0;
    s.missAlarm = 3;
    return s;
}

QString text(shoudata *page, const char *label)
{
    return fullText(child<QLabel>(page, label));
}

} // namespace

class LiveTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setExtraPorts({}); }
    void panelFiguresAreTheDocumentsFigures();
    void countdownToTheNextSample();
    void stableAfterTheWindowAndNotAfterAStepOrAFastDrift();
    void silentCollectorRaisesAndClearsTheAlarm();
    void wrongChannelCountIsAnAlarm();
    void plausibleReadings_data();
    void plausibleReadings();
    void implausibleReadingIsAnAlarm();
    void stopAtAPointWithoutSamplesAsks();
    void expiredCertificateIsWarnedAtStart();
    void twoCollectorsHeadersArePrefixed();
    void curveStoreDecimatesPerColumn();
    void curveWindowShowsEveryChannel();
    void chamberFollowsEachScan();
};

void LiveTest::panelFiguresAreTheDocumentsFigures()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"101", "102", "103"};
    s.flagsA = "001";
    s.exactValues = false; // noisy readings, so the figures say something
    s.options.humidityChannels = {103};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(4));
    rig.stop();
    const acquisition::LiveState st = rig.page->monitor()->state();
    QVERIFY(st.t.present && st.h.present);
    rig.process();
    const storage::RunHeader h = storage::listHeaders().value.value(0);
    const results::Calibration c = results::loadCalibration(rig.db.path(), h.dtbegin).calibration;
    const results::PointResult p1 = results::computeResults(c).value(0);
    QCOMPARE(st.pointSamples, p1.samples);
    for (const auto &pair : {qMakePair(st.t.figures, p1.t), qMakePair(st.h.figures, p1.h)}) {
        QCOMPARE(pair.first.uniformity.text(), pair.second.uniformity.text());
        QCOMPARE(pair.first.fluctuation.text(), pair.second.fluctuation.text());
        QCOMPARE(pair.first.upper.text(), pair.second.upper.text());
        QCOMPARE(pair.first.lower.text(), pair.second.lower.text());
        QCOMPARE(pair.first.spread.text(), pair.second.spread.text());
        QCOMPARE(pair.first.max.text(), pair.second.max.text());
    }
    QCOMPARE(st.t.deviation.text(), QString::number(st.t.figures.mean.value - 20.0, 'f', 3));
    auto *table = child<QTableWidget>(rig.page.get(), "tbLive");
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 5)->text(), p1.t.uniformity.text());
    QCOMPARE(table->item(1, 6)->text(), p1.h.fluctuation.text());
}

void LiveTest::countdownToTheNextSample()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    child<QLineEdit>(rig.page.get(), "lineEdit")->setText("5");
    rig.start();
    const qint64 ms = rig.page->session()->nextTick() - rig.clock.now();
    QCOMPARE(ms, 5000);
    rig.advance(1500);
    QVERIFY(rig.advanceUntil(
        [&] { return text(rig.page.get(), "label_point").contains("下次采样 00:00:04"); }, 1000));
    QVERIFY(text(rig.page.get(), "label_point").startsWith("检点1  设定 20℃ / 50%RH"));
    rig.stop();
    QVERIFY(text(rig.page.get(), "label_point").contains("下一个校准点：检点2"));
}

void LiveTest::stableAfterTheWindowAndNotAfterAStepOrAFastDrift()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.page->monitor()->setSettings(quick());
    rig.start();
    auto state = [&] { return rig.page->monitor()->state(); };
    QVERIFY(rig.waitRows(2));
    QVERIFY(!state().stable);
    QCOMPARE(state().stability.kind, acquisition::Stability::TooFew);
    QVERIFY(text(rig.page.get(), "label_stability").contains("数据不足"));
    // Constant readings: stable once three seconds are covered.
    QVERIFY(rig.advanceUntil([&] { return state().stable; }, 8000));
    QVERIFY(text(rig.page.get(), "label_stability").startsWith("稳定（"));
    const qint64 since = state().stableSince;
    QVERIFY(since > 0);

    // A step of 1.0 on channel 102: not stable, and that channel is named.
    rig.sim1->setCorrection(102, 0, 102 / 4.0f + 1.0f);
    QVERIFY(rig.advanceUntil([&] { return !state().stable; }, 4000));
    QVERIFY2(text(rig.page.get(), "label_stability").contains("102 变化 1.000 ℃"),
             qPrintable(text(rig.page.get(), "label_stability")));
    QCOMPARE(state().stableSince, 0);
    // Steady again after a window.
    QVERIFY(rig.advanceUntil([&] { return state().stable; }, 8000));
    QVERIFY(state().stableSince > since);

    // A slow drift (0.1 per sample) stays within the limit, a fast one (0.4) does not.
    float offset = 102 / 4.0f + 1.0f;
    bool everUnstable = false;
    for (int i = 0; i < 5; ++i) {
        offset += 0.1f;
        rig.sim1->setCorrection(102, 0, offset);
        QVERIFY(rig.waitRows(rig.liveRows() + 1));
        everUnstable = everUnstable || !state().stable;
    }
    QVERIFY(!everUnstable);
    for (int i = 0; i < 4; ++i) {
        offset += 0.4f;
        rig.sim1->setCorrection(102, 0, offset);
        QVERIFY(rig.waitRows(rig.liveRows() + 1));
    }
    QVERIFY(!state().stable);
    rig.stop();
}

void LiveTest::silentCollectorRaisesAndClearsTheAlarm()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.page->monitor()->setSettings(quick());
    rig.start();
    QVERIFY(rig.waitRows(1));
    rig.sim1->setSilent(true);
    auto *alarm = child<QLabel>(rig.page.get(), "label_alarm");
    QVERIFY(rig.advanceUntil([&] { return alarm->text().contains("设备一连续 3 次无应答"); }, 6000));
    QVERIFY(alarm->text().contains("最后一次正常读数："));
    QVERIFY(child<QFrame>(rig.page.get(), "frame_live")->styleSheet().contains("#c0392b"));
    rig.sim1->setSilent(false);
    QVERIFY(rig.advanceUntil([&] { return alarm->text().isEmpty(); }, 4000));
    QVERIFY(child<QFrame>(rig.page.get(), "frame_live")->styleSheet().isEmpty());
    rig.stop();
}

void LiveTest::wrongChannelCountIsAnAlarm()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    rig.sim1->setEnabledChannels({101, 102, 103}); // the layout has two
    rig.start();
    auto *alarm = child<QLabel>(rig.page.get(), "label_alarm");
    QVERIFY(rig.advanceUntil(
        [&] { return alarm->text().contains("通道数与配置不符，请重新设置通道"); }, 4000));
    rig.stop();
}

void LiveTest::plausibleReadings_data()
{
    QTest::addColumn<bool>("humidity");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("plausible");
    QTest::newRow("dry air") << true << 0.0 << true;
    QTest::newRow("a transmitter a little over") << true << 102.5 << true;
    QTest::newRow("960 %RH") << true << 960.0 << false;
    QTest::newRow("below zero %RH") << true << -20.0 << false;
    QTest::newRow("freezer") << false << -80.0 << true;
    QTest::newRow("below absolute zero") << false << -300.0 << false;
    QTest::newRow("open thermocouple") << false << 9999.0 << false;
    QTest::newRow("not a number") << false << std::nan("") << false;
}

void LiveTest::plausibleReadings()
{
    QFETCH(bool, humidity);
    QFETCH(double, value);
    QFETCH(bool, plausible);
    QCOMPARE(acquisition::plausibleReading(humidity, value), plausible);
}

// A humidity channel that reads 999.5 %RH is said at once, in red with the
// other alarms, and goes when the reading is plausible again.
void LiveTest::implausibleReadingIsAnAlarm()
{
    RunRig rig;
    Setup s;
    s.flagsA = "01";
    QVERIFY(rig.build(s));
    rig.sim1->setCorrection(102, 1, 974.5f); // 25 + 974.5
    rig.start();
    auto *alarm = child<QLabel>(rig.page.get(), "label_alarm");
    QVERIFY(rig.advanceUntil(
        [&] {
            return alarm->text().contains("通道 102 读数 999.500 %RH，不是湿度可能的读数");
        },
        4000));
    rig.sim1->setCorrection(102, 1, 0);
    QVERIFY(rig.advanceUntil([&] { return alarm->text().isEmpty(); }, 4000));
    rig.stop();
}

void LiveTest::stopAtAPointWithoutSamplesAsks()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    child<QLineEdit>(rig.page.get(), "lineEdit")->setText("30");
    rig.start();
    prompts::queueAnswer(false);
    click(rig.page.get(), "pushButton_2");
    QCOMPARE(asked(),
             QStringList{"提示|检点1 还没有保存任何数据。\n确定停止并进入下一个校准点吗？"});
    QVERIFY(rig.page->session()->state() == acquisition::RunState::Running);
    prompts::queueAnswer(true);
    click(rig.page.get(), "pushButton_2");
    QVERIFY(rig.advanceUntil([&] { return !rig.page->isRunning(); }, 2000));
    QCOMPARE(rig.point()->currentText(), QString("检点2"));
}

void LiveTest::expiredCertificateIsWarnedAtStart()
{
    RunRig rig;
    QVERIFY(rig.build(Setup()));
    QVERIFY(sql("update datacollect set todata='" +
                QDate::currentDate().addDays(-1).toString("yyyy-MM-dd") + "'"));
    prompts::queueAnswer(false);
    rig.start();
    QVERIFY(!rig.page->isRunning());
    QCOMPARE(asked().size(), 1);
    QVERIFY(asked().first().contains("采集器 SIM0000001 的校准证书已于"));
    prompts::queueAnswer(true);
    rig.start();
    QVERIFY(rig.page->isRunning());
    rig.stop();
}

void LiveTest::twoCollectorsHeadersArePrefixed()
{
    RunRig rig;
    Setup s;
    s.channelsB = QStringList{"101", "103"};
    s.flagsB = "01";
    QVERIFY(rig.build(s));
    rig.start();
    rig.stop();
    QStringList headers;
    for (int c = 0; c < rig.liveColumns(); ++c)
        headers << rig.liveHeader(c);
    QCOMPARE(headers,
             (QStringList{"时间", "检定点", "1-101(℃)", "1-102(℃)", "2-101(℃)", "2-103(%RH)"}));
    QCOMPARE(rig.page->monitor()->curves().names(),
             (QStringList{"1-101", "1-102", "2-101", "2-103"}));
    QCOMPARE(rig.page->monitor()->curves().kind(3), results::Kind::Humidity);
}

void LiveTest::curveStoreDecimatesPerColumn()
{
    acquisition::CurveStore store;
    store.reset({"101", "102"}, {results::Kind::Temperature, results::Kind::Humidity});
    // 100 samples one second apart; channel 101 climbs, 102 alternates.
    const qint64 t0 = 1700000000000;
    for (int i = 0; i < 100; ++i)
        store.append(t0 + i * 1000, i < 50 ? 1 : 2, {float(i), i % 2 ? 60.0f : 50.0f});
    store.append(t0 + 100 * 1000, 2, {NAN, 55.0f}); // a missing reading
    QCOMPARE(store.samples(), 101);
    // Ten columns over the whole run: ten samples each.
    const QVector<acquisition::CurveStore::Column> cols = store.decimate(0, t0, t0 + 100000, 10);
    QCOMPARE(cols.size(), 10);
    QCOMPARE(cols[0].min, 0.0f);
    QCOMPARE(cols[0].max, 9.0f);
    QCOMPARE(cols[9].min, 90.0f);
    QCOMPARE(cols[9].max, 99.0f); // the missing reading is left out
    const QVector<acquisition::CurveStore::Column> h = store.decimate(1, t0, t0 + 100000, 10);
    QCOMPARE(h[3].min, 50.0f);
    QCOMPARE(h[3].max, 60.0f);
    // A window of the last 20 seconds in 4 columns.
    const QVector<acquisition::CurveStore::Column> last =
        store.decimate(0, t0 + 80000, t0 + 100000, 4);
    QCOMPARE(last[0].min, 80.0f);
    QCOMPARE(last[3].max, 99.0f);
    QCOMPARE(store.lowerBound(t0 + 80000), 80);
    // Memory: a float per reading and a little per sample.
    QVERIFY(store.bytes() <= qint64(store.samples()) * 2 * 16);
}

void LiveTest::curveWindowShowsEveryChannel()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"101", "102", "103", "104"};
    s.flagsA = "0011";
    s.exactValues = false;
    s.options.humidityChannels = {103, 104};
    QVERIFY(rig.build(s));
    rig.start();
    QVERIFY(rig.waitRows(3));
    click(rig.page.get(), "pushButton_curves");
    CurveWindow *w = rig.page->curveWindow();
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(w->seriesCount(), 4);
    QCOMPARE(child<QListWidget>(w, "listWidget_legend")->item(2)->text(), QString("103"));
    w->plot()->setSpan(CurvePlot::Span::TenMinutes);
    const QImage image = w->grab().toImage();
    QVERIFY(!image.isNull());
    // Something besides white and grid was drawn: the curves.
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) {
            const QColor c = image.pixelColor(x, y);
            coloured += c.saturation() > 80;
        }
    QVERIFY(coloured > 20);
    w->plot()->setHighlighted(1);
    QCOMPARE(w->plot()->highlighted(), 1);
    rig.stop();
    w->close();
}

QTEST_MAIN(LiveTest)
// The live picture: each located channel's running mean, redrawn as the
// scans come; the one without a location named.
void LiveTest::chamberFollowsEachScan()
{
    RunRig rig;
    Setup s;
    s.channelsA = QStringList{"101", "102", "103"};
    s.flagsA = "000";
    QVERIFY(rig.build(s));
    storage::EquipmentExtra layout;
    layout.layout = "9";
    QVERIFY(storage::saveEquipmentExtra("Chamber", layout).ok);
    QVERIFY(storage::storeChannelLocations(storage::Device::A, {{"101", "O"}, {"102", "A"}}).ok);
    rig.start();
    QVERIFY(rig.waitRows(1));
    click(rig.page.get(), "pushButton_chamber");
    ChamberView *view = rig.page->chamberView();
    QVERIFY(view);
    QCOMPARE(view->picture().dots.size(), 2);
    QCOMPARE(view->picture().unplaced, QStringList{"103"});
    QVERIFY(std::isfinite(view->picture().dots[0].mean));
    // Every scan redraws: the set value is the run's, the deviation follows.
    const int before = rig.page->monitor()->state().pointSamples;
    QVERIFY(rig.waitRows(before + 2));
    const results::ChamberDot &d = view->picture().dots[0];
    QVERIFY(std::fabs(d.deviation - (d.mean - rig.page->monitor()->setValue(false, 1))) < 1e-9);
    // A click on a dot picks its channel's column and brings out its curve.
    click(rig.page.get(), "pushButton_curves");
    view->resize(640, 480);
    const int a = view->picture().dots[0].location == "A" ? 0 : 1;
    QTest::mouseClick(view, Qt::LeftButton, {}, view->dotCentre(a).toPoint());
    const QModelIndexList picked = rig.live()->selectionModel()->selectedColumns();
    QVERIFY(!picked.isEmpty());
    QVERIFY(rig.liveHeader(picked.first().column()).startsWith("102("));
    QCOMPARE(rig.page->curveWindow()->plot()->highlighted(), 1);
    rig.stop();
}

#include "tst_live.moc"
