// The curve window with 128 channels x 10,000 samples: the time of a full
// repaint and the memory of the readings; then a run at one second with the
// window open, and the longest event-loop stall meanwhile.

#include "acquisition/runmonitor.h"
#include "acquisition/runsession.h"
#include "bench/benchkit.h"
#include "pages/run/curvewindow.h"
#include "tests/runkit.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int channels = 128, samples = 10000;
    acquisition::CurveStore store;
    QStringList names;
    QVector<results::Kind> kinds;
    for (int c = 0; c < channels; ++c) {
        names << QStringLiteral("%1-%2").arg(c < 64 ? 1 : 2).arg(101 + c % 64);
        kinds << (c % 8 == 7 ? results::Kind::Humidity : results::Kind::Temperature);
    }
    store.reset(names, kinds);
    const qint64 t0 = 1700000000000;
    QVector<float> values(channels);
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c)
            values[c] = (kinds[c] == results::Kind::Humidity ? 60.0f : 25.0f) +
                        0.3f * float(std::sin(i * 0.01 + c)) + 0.01f * float(c % 7);
        store.append(t0 + qint64(i) * 1000, 1 + i / 1000, values);
    }
    acquisition::RunSession session;
    acquisition::RunMonitor monitor(&session);
    monitor.setCurves(store);
    CurveWindow window(&monitor);
    window.resize(1400, 800);
    window.show();
    QCoreApplication::processEvents();
    QImage image(window.plot()->size(), QImage::Format_ARGB32_Premultiplied);
    QVector<double> times;
    for (int round = 0; round < 15; ++round) {
        QElapsedTimer clock;
        clock.start();
        window.plot()->render(&image);
        times << clock.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    const double readings = double(channels) * samples;
    std::printf("bench_curves: full repaint of %d channels x %d samples at %dx%d: median %.1f ms, "
                "max %.1f ms (target < 30 ms median)\n",
                channels, samples, window.plot()->width(), window.plot()->height(),
                times[times.size() / 2], times.last());
    std::printf("bench_curves: curve data %.1f MB, %.2f bytes per reading (target <= 16)\n",
                store.bytes() / 1048576.0, store.bytes() / readings);

    if (app.arguments().contains(QStringLiteral("--repaint-only")))
        return 0;

    // A run at one second with the curve window open.
    testkit::RunRig rig;
    testkit::RunRig::Setup setup;
    setup.channelsA.clear();
    for (int ch = 101; ch <= 164; ++ch) {
        setup.channelsA << QString::number(ch);
        setup.channelsB << QString::number(ch);
    }
    setup.options.baud = 9600;
    setup.exactValues = false;
    if (!rig.build(setup))
        return 1;
    rig.start();
    testkit::click(rig.page.get(), QStringLiteral("pushButton_curves"));
    benchkit::StallProbe probe;
    probe.start();
    rig.waitRows(12, 60000);
    probe.stop();
    rig.stop();
    std::printf("bench_curves: run of 2 x 64 channels at 1 s with the curve window open: longest "
                "event-loop stall %lld ms over %d samples (target < 20 ms)\n",
                static_cast<long long>(probe.worstMs()), rig.liveRows());
    return 0;
}
