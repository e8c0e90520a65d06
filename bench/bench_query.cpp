// The query page and the results on large calibrations:
//  1. opening a calibration of 100,000 samples x 64 channels on the page:
//     time until rows show, until all are loaded, resident memory growth and
//     the longest event-loop stall meanwhile;
//  2. results of 10 points x 10,000 samples x 64 channels from the database,
//     next to a plain read of the same rows;
//  3. (--big) the time-window query of one calibration in a data table of
//     10 million rows.

#include "bench/benchkit.h"
#include "pages/reports/form6.h"
#include "pages/reports/sampletablemodel.h"
#include "results/calibration.h"
#include "results/evaluation.h"
#include "storage/samplereader.h"
#include "storage/statements.h"
#include "tests/testkit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <cstdio>

using namespace benchkit;

static int openOnPage()
{
    testkit::TempDatabase db;
    const int samples = sized(100000, 5000), channels = 64;
    if (!fillCalibration(db.path(), "2024-05-01 00:00:00", samples, channels, samples / 10, true)) {
        std::fprintf(stderr, "bench_query: cannot fill the database\n");
        return 1;
    }
    Form6 page;
    page.resize(1125, 590);
    page.show();
    QCoreApplication::processEvents();
    const qint64 before = residentBytes();
    StallProbe probe;
    QElapsedTimer clock;
    bool done = false;
    QObject::connect(&page, &Form6::loaded, [&] { done = true; });
    probe.start();
    clock.start();
    QMetaObject::invokeMethod(&page, "on_tbnum_cellClicked", Q_ARG(int, 0), Q_ARG(int, 1));
    testkit::waitUntil([&] { return page.sampleModel()->rowCount() > 0; }, 60000);
    const qint64 firstRows = clock.elapsed();
    testkit::waitUntil([&] { return done; }, 120000);
    const qint64 all = clock.elapsed();
    QCoreApplication::processEvents();
    probe.stop();
    const qint64 after = residentBytes();
    if (!done || page.sampleModel()->rowCount() != samples) {
        std::fprintf(stderr, "bench_query: load did not finish\n");
        return 1;
    }
    std::printf("bench_query: open %d x %d: first rows shown after %lld ms (target < 1000 ms), "
                "all rows and results after %lld ms\n",
                samples, channels, static_cast<long long>(firstRows), static_cast<long long>(all));
    std::printf("bench_query: resident memory growth %.1f MB (target < 300 MB)\n",
                (after - before) / 1048576.0);
    std::printf("bench_query: longest event-loop stall while loading %lld ms (target < 50 ms)\n",
                static_cast<long long>(probe.worstMs()));
    return 0;
}

static int resultsFromDatabase()
{
    testkit::TempDatabase db;
    const int samples = sized(100000, 5000), channels = 64;
    const QString begin = QStringLiteral("2024-05-01 00:00:00");
    if (!fillCalibration(db.path(), begin, samples, channels, samples / 10, true))
        return 1;
    const QString end = QDateTime::fromString(begin, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                            .addSecs(samples - 1)
                            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // Warm the page cache once so both figures read from memory.
    {
        storage::SampleReader r;
        r.open(db.path());
        r.forEachInWindow(
            begin, end, [](storage::TextRef, storage::TextRef, storage::TextRef) { return true; });
    }
    qint64 plainBest = -1, resultsBest = -1;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        storage::SampleReader reader;
        reader.open(db.path());
        // A plain read looks at every value once: it counts the entries.
        qint64 bytes = 0;
        reader.header(begin);
        reader.forEachInWindow(begin, end,
                               [&](storage::TextRef, storage::TextRef, storage::TextRef d) {
                                   for (int i = 0; i < d.size; ++i)
                                       bytes += d.data[i] == ';';
                                   return true;
                               });
        const qint64 plain = clock.nsecsElapsed();
        clock.restart();
        storage::SampleReader second;
        second.open(db.path());
        const base::Result<storage::FoundHeader> h = second.header(begin);
        const results::Computed c = results::computeFromReader(second, h.value.header);
        const QVector<results::PointResult> &r = c.points;
        const qint64 full = clock.nsecsElapsed();
        if (round == 0) {
            // The page's way: samples held in memory, then the figures.
            QElapsedTimer held;
            held.start();
            const results::Loaded loaded = results::loadCalibration(db.path(), begin);
            const qint64 loadNs = held.nsecsElapsed();
            const QVector<results::PointResult> recorded =
                results::computeResults(loaded.calibration);
            const qint64 figuresNs = held.nsecsElapsed() - loadNs;
            std::printf("bench_query: (samples held in memory: load %.0f ms, figures %.0f ms)\n",
                        loadNs / 1e6, figuresNs / 1e6);
            // Every evaluation method over the same samples, with budgets.
            results::StandardData standard;
            standard.uncertaintyT = standard.uncertaintyH = QStringLiteral("0.1");
            standard.kT = standard.kH = QStringLiteral("2");
            standard.resolutionT = standard.resolutionH = QStringLiteral("0.01");
            results::EvaluationSettings settings;
            settings.windowMinutes = 30;
            QElapsedTimer all;
            all.start();
            const QVector<results::Evaluation> methods =
                results::evaluateAll(loaded.calibration, recorded, standard, settings);
            const qint64 allNs = all.nsecsElapsed();
            if (methods.size() != 5 || methods[1].points.size() != 10) {
                std::fprintf(stderr, "bench_query: wrong evaluation\n");
                return 1;
            }
            std::printf(
                "bench_query: all five evaluation methods with budgets: %.0f ms, %.2f x the "
                "figures (target < 2)\n",
                allNs / 1e6, double(allNs) / double(figuresNs));
        }
        if (r.size() != 10 || r[0].samples != samples / 10 || bytes == 0) {
            std::fprintf(stderr, "bench_query: wrong results\n");
            return 1;
        }
        plainBest = plainBest < 0 ? plain : qMin(plainBest, plain);
        resultsBest = resultsBest < 0 ? full : qMin(resultsBest, full);
    }
    std::printf("bench_query: results of 10 points x %d samples x 64 channels: %.0f ms; plain "
                "read of the same rows %.0f ms; ratio %.2f (targets: < 400 ms, ratio < 2)\n",
                samples / 10, resultsBest / 1e6, plainBest / 1e6,
                double(resultsBest) / double(plainBest));
    return 0;
}

static int windowInBigTable(int rows)
{
    testkit::TempDatabase db;
    // Calibrations of 1,000 two-channel samples one after another.
    const int per = 1000;
    QElapsedTimer fill;
    fill.start();
    QDateTime t = QDateTime::fromString(QStringLiteral("2020-01-01 00:00:00"),
                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QString middle;
    for (int made = 0; made < rows; made += per) {
        const QString begin = t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (made == rows / 2 / per * per)
            middle = begin;
        if (!fillCalibration(db.path(), begin, per, 2, per, false))
            return 1;
        t = t.addSecs(per);
    }
    std::printf("bench_query: filled %d rows in %.0f s\n", rows, fill.elapsed() / 1000.0);
    const QString end = QDateTime::fromString(middle, QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                            .addSecs(per - 1)
                            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    qint64 best = -1;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer clock;
        clock.start();
        storage::SampleReader reader;
        reader.open(db.path());
        int n = 0;
        reader.forEachInWindow(
            middle, end,
            [&](storage::TextRef, storage::TextRef, storage::TextRef) { return ++n > 0; });
        const qint64 ns = clock.nsecsElapsed();
        if (n != per)
            return 1;
        best = best < 0 ? ns : qMin(best, ns);
    }
    std::printf("bench_query: window of %d samples in a table of %d rows: %.2f ms (target < 50 "
                "ms)\n",
                per, rows, best / 1e6);
    return 0;
}

// What the audit trail costs with a laboratory's years of calibrations
// (2,000, each with 20 kB of records kept at processing): a change of a
// small table, a deletion (the calibration tables digested again), and the
// whole check (every table digested) as a start makes it.
static double middle(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.value(values.size() / 2);
}

static int trailCost()
{
    testkit::TempDatabase db;
    const int calibrations = sized(2000, 200);
    const QString fill =
        QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < "
                       "%1) insert into %2 select %3 from n");
    const QString key = QStringLiteral("printf('2024-01-01 %05d', i)");
    if (!testkit::sql(fill.arg(calibrations)
                          .arg(QStringLiteral("datamark (dtbegin, dtend, "
                                              "pointnum)"),
                               key + QStringLiteral(", ") + key + QStringLiteral(", '1'"))) ||
        !testkit::sql(fill.arg(calibrations)
                          .arg(QStringLiteral("snapshot"),
                               key + QStringLiteral(", '', hex(randomblob(10000))"))) ||
        !storage::saveCompany(storage::Company::fromRow({QStringLiteral("某计量院")})).ok) {
        std::fprintf(stderr, "bench_query: cannot fill the trail's tables\n");
        return 1;
    }
    QElapsedTimer clock;
    QList<double> small, deletion, check;
    for (int i = 0; i < 5; ++i) {
        clock.start();
        const bool saved =
            storage::saveCompany(storage::Company::fromRow({QStringLiteral("某计量院 %1").arg(i)}))
                .ok;
        small << clock.nsecsElapsed() / 1e6;
        clock.start();
        const bool deleted = storage::deleteCalibration(
                                 QStringLiteral("2024-01-01 %1").arg(i + 1, 5, 10, QChar('0')))
                                 .ok;
        deletion << clock.nsecsElapsed() / 1e6;
        clock.start();
        const base::Result<storage::AuditCheck> whole = storage::verifyAudit();
        check << clock.nsecsElapsed() / 1e6;
        if (!saved || !deleted || !whole.ok || !whole.value.whole()) {
            std::fprintf(stderr, "bench_query: the trail failed\n");
            return 1;
        }
    }
    std::printf("bench_query: trail with %d calibrations: a laboratory change %.1f ms, a deletion "
                "%.1f ms, the whole check %.1f ms (medians)\n",
                calibrations, middle(small), middle(deletion), middle(check));
    return 0;
}

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int rc = args.contains(QStringLiteral("--results-only")) ? 0 : openOnPage();
    if (rc == 0)
        rc = resultsFromDatabase();
    if (rc == 0)
        rc = trailCost();
    if (rc == 0 && args.contains(QStringLiteral("--big"))) {
        const int i = args.indexOf(QStringLiteral("--rows"));
        rc = windowInBigTable(i > 0 ? args.value(i + 1).toInt() : 10000000);
    }
    return rc;
}
