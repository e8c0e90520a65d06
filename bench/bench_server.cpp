// The laboratory's server (a local PostgreSQL cluster of the benchmark's
// own): two stations storing 128-channel samples at once, the time each
// store takes on the station's GUI thread (reply -> stored, and the
// longest stall it causes); opening a calibration of 100,000 samples; the
// query page's list with 10,000 calibrations.

#include "results/calibration.h"
#include "storage/database.h"
#include "storage/server.h"
#include "storage/spool.h"
#include "storage/statements.h"
#include "tests/testkit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

QString cluster(const QString &command, const QString &dir)
{
    QProcess p;
    p.start(QStringLiteral("bash"),
            {QStringLiteral(ORVEN_SOURCE_DIR "/scripts/pg-cluster.sh"), command, dir});
    p.waitForFinished(60000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

QString values(int channels, int i)
{
    QString out;
    for (int c = 0; c < channels; ++c)
        out += QString::number(20 + 0.001 * ((i + c) % 1000), 'f', 3) + QLatin1Char(';');
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString dir =
        QStringLiteral("/tmp/orven-pg-own-bench-%1").arg(QCoreApplication::applicationPid());
    const QString url = cluster(QStringLiteral("restart"), dir);
    if (url.isEmpty()) {
        std::fprintf(stderr, "bench_server: no PostgreSQL cluster (scripts/pg-cluster.sh)\n");
        return 1;
    }
    struct Stop
    {
        QString dir;
        ~Stop() { cluster(QStringLiteral("stop"), dir); }
    } stop{dir};
    qputenv("ORVEN_STATION", "A");
    if (const base::Status st = storage::openDatabase(url); !st) {
        std::fprintf(stderr, "bench_server: %s\n", qPrintable(st.error));
        return 1;
    }

    // Two stations storing at once: B on a thread of its own, every 20 ms
    // (50 times the pace of a 1 s interval), A on this thread likewise.
    QString names;
    for (int c = 0; c < 128; ++c)
        names += QString::number(101 + c % 64) + QLatin1Char(';');
    std::atomic<bool> done{false};
    std::thread stationB([&] {
        {
            const base::Status st = storage::openServerConnection(QStringLiteral("station-b"), url,
                                                                  false, QStringLiteral("B"));
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("station-b"));
            QSqlQuery q(db);
            q.exec(QStringLiteral("set default_transaction_read_only = off"));
            for (int i = 0; st && !done; ++i) {
                q.prepare(QStringLiteral("insert into orven.data (equipname,jdnum,coltime,colname,"
                                         "coldata,station,run) values (?,?,?,?,?,'B','b')"));
                q.addBindValue(QStringLiteral("E"));
                q.addBindValue(QStringLiteral("检点1"));
                q.addBindValue(
                    QStringLiteral("2024-05-01 10:00:%1").arg(i % 60, 2, 10, QLatin1Char('0')));
                q.addBindValue(names);
                q.addBindValue(values(128, i));
                q.exec();
                QThread::msleep(20);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("station-b"));
    });
    QVector<double> store;
    for (int i = 0; i < 500; ++i) {
        QElapsedTimer t;
        t.start();
        const base::Status st = storage::insertSample({QStringLiteral("E"), QStringLiteral("检点1"),
                                                       QStringLiteral("2024-05-01 10:%1:%2")
                                                           .arg(i / 60, 2, 10, QLatin1Char('0'))
                                                           .arg(i % 60, 2, 10, QLatin1Char('0')),
                                                       names, values(128, i)});
        store << t.nsecsElapsed() / 1e6;
        if (!st) {
            std::fprintf(stderr, "bench_server: %s\n", qPrintable(st.error));
            break;
        }
        QThread::msleep(20);
    }
    // From the window's hand to the server (the spool's thread sends it).
    QVector<double> arrive;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        storage::insertSample(
            {QStringLiteral("E"), QStringLiteral("检点1"),
             QStringLiteral("2024-05-01 11:00:%1").arg(i, 2, 10, QLatin1Char('0')), names,
             values(128, i)});
        while (storage::spoolState().waiting > 0 && t.elapsed() < 5000)
            QThread::usleep(200);
        arrive << t.nsecsElapsed() / 1e6;
        QThread::msleep(20);
    }
    done = true;
    stationB.join();
    std::printf("bench_server: two stations, 2 x 64 channels each: store on the GUI thread %.2f ms "
                "median (target < 10 ms), %.2f ms longest (target < 20 ms) of %d; on the server "
                "%.2f ms median, %.2f ms longest after it was handed over\n",
                median(store), *std::max_element(store.begin(), store.end()), int(store.size()),
                median(arrive), *std::max_element(arrive.begin(), arrive.end()));

    // A calibration of 100,000 samples of 16 channels, and 10,000 more in the list.
    QString sixteen = values(16, 0), chan;
    for (int c = 0; c < 16; ++c)
        chan += QString::number(101 + c) + QLatin1Char(';');
    testkit::sql(
        QStringLiteral(
            "insert into orven.data (equipname,jdnum,coltime,colname,coldata,station,run) "
            "select 'Chamber', '检点' || (1 + g / 10000), to_char(timestamp '2025-01-01' + g * "
            "interval '1 second', 'YYYY-MM-DD HH24:MI:SS'), '%1', '%2', 'A', 'big' "
            "from generate_series(0, 99999) g")
            .arg(chan, sixteen));
    testkit::sql(
        QStringLiteral(
            "insert into orven.datamark values ('1','2025-01-01 00:00:00','2025-01-02 "
            "03:46:39','10',"
            "'21;22;23;24;25;26;27;28;29;30;','51;52;53;54;55;56;57;58;59;60;','16;0;0;','',"
            "'ORV7020001','Chamber','16','100000','%1','23','55','温度','0000000000000000','','A','"
            "big')")
            .arg(chan));
    testkit::sql(QStringLiteral(
        "insert into orven.datamark (num, dtbegin, dtend, pointnum, station, run) "
        "select g::text, to_char(timestamp '2010-01-01' + g * interval '1 hour', "
        "'YYYY-MM-DD HH24:MI:SS'), to_char(timestamp '2010-01-01' + g * interval '1 hour', "
        "'YYYY-MM-DD HH24:MI:SS'), '1', 'C', 'r' || g from generate_series(1, 10000) g"));
    testkit::sql(QStringLiteral("analyze"));
    QVector<double> open, list;
    int loaded = 0;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const results::Loaded l =
            results::loadCalibration(url, QStringLiteral("2025-01-01 00:00:00"));
        open << t.elapsed();
        loaded = l.calibration.samples.size();
    }
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        const base::Result<QList<storage::RunHeader>> h = storage::listHeaders();
        list << t.nsecsElapsed() / 1e6;
        if (h.value.size() < 10000)
            std::fprintf(stderr, "bench_server: list has %d\n", int(h.value.size()));
    }
    std::printf("bench_server: opening a calibration of %d samples: %.0f ms median of 3 "
                "(target < 1000 ms); the list of 10,001 calibrations: %.1f ms median of 5 "
                "(target < 200 ms)\n",
                loaded, median(open), median(list));

    // The server was away for an hour: 3,600 samples of 128 channels wait
    // on disk and are sent a part at a time between ticks.
    QVector<double> keep;
    for (int i = 0; i < 3600; ++i) {
        QElapsedTimer t;
        t.start();
        storage::spoolSample({QStringLiteral("E"), QStringLiteral("检点2"),
                              QStringLiteral("2024-06-01 %1:%2:%3")
                                  .arg(i / 3600, 2, 10, QLatin1Char('0'))
                                  .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                  .arg(i % 60, 2, 10, QLatin1Char('0')),
                              names, values(128, i)},
                             QString());
        keep << t.nsecsElapsed() / 1e6;
    }
    // Sent by the spool's thread while this thread keeps a 10 ms timer.
    QElapsedTimer sending, gap;
    sending.start();
    gap.start();
    double worst = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worst = std::max(worst, gap.nsecsElapsed() / 1e6);
        gap.restart();
    });
    tick.start(10);
    storage::sendSpoolSoon();
    while (storage::spoolState().waiting > 0 && sending.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    tick.stop();
    std::printf("bench_server: server away for an hour: a sample kept on disk %.2f ms median; "
                "3600 x 128 channels sent by the spool's thread in %.2f s, the window's 10 ms "
                "timer late by at most %.1f ms meanwhile\n",
                median(keep), sending.elapsed() / 1000.0, worst - 10);
    storage::closeDatabase();
    return 0;
}
