// Longest event-loop stall while a 64-channel M702 reading (261 bytes)
// streams in at 9600 baud, measured with a 1 ms probe timer.

#include "link/commands.h"
#include "link/serialline.h"
#include "sim/collectorsim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    sim::Options opt;
    opt.baud = 9600;
    sim::CollectorSim collector(opt);
    QString error;
    if (!collector.start(&error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    rtu::SerialLine line;
    if (!line.open(collector.portPath(), &error)) {
        std::fprintf(stderr, "open: %s\n", qPrintable(error));
        return 1;
    }
    QList<int> all;
    for (int ch = 101; ch <= 164; ++ch)
        all << ch;
    line.sendHex(rtu::maskWrite(all).text);
    rtu::pauseWithEvents(200);

    const int rounds = 10;
    qint64 worst = 0;
    double totalMs = 0;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer probe;
        probe.start();
        qint64 last = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = probe.elapsed();
            worst = qMax(worst, now - last);
            last = now;
        });
        tick.start(1);
        QElapsedTimer reply;
        reply.start();
        line.sendHex(rtu::frame::measureM702);
        while (!rtu::readReplyComplete(line.rxHex()) && reply.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        totalMs += reply.elapsed();
        if (line.rxHex().size() != 522) {
            std::fprintf(stderr, "incomplete reply: %d hex characters\n", int(line.rxHex().size()));
            return 1;
        }
    }
    std::printf("bench_serial_stall: %d replies of 261 bytes at 9600 baud, mean %.0f ms each\n",
                rounds, totalMs / rounds);
    std::printf("bench_serial_stall: longest event-loop stall %lld ms (target < 20 ms)\n",
                static_cast<long long>(worst));
    return worst < 20 ? 0 : 2;
}
