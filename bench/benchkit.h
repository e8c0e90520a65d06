#pragma once

// Shared by the benchmarks: fast bulk filling of a database with the C API,
// resident memory, and an event-loop stall probe.

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <functional>

namespace benchkit {

// Appends `samples` data rows of `channels` values, one second apart from
// `begin`, `perPoint` samples per calibration point; then a header covering
// them when `header` is set. Returns false on any SQLite error.
bool fillCalibration(const QString &dbPath, const QString &begin, int samples, int channels,
                     int perPoint, bool header);
// Keeps the current equipment, collector and laboratory records with the
// calibration that begins at `dtbegin`, as processing keeps them; false when
// they could not be stored.
bool keepRecords(const QString &dtbegin);

// The quick form (--quick on the command line, or ORVEN_BENCH_QUICK=1): the
// same measurements on less data, for CI to see that every benchmark still
// measures. A benchmark fails when it cannot measure, never on its timing.
bool quick();
inline int sized(int full, int small)
{
    return quick() ? small : full;
}

// Resident set size of this process, bytes.
qint64 residentBytes();
// The highest resident set size since the start or the last reset (Linux).
qint64 peakResidentBytes();
void resetPeakResident();

// Measures the longest gap between timer ticks (every `periodMs`) on the
// current thread.
class StallProbe
{
public:
    explicit StallProbe(int periodMs = 1);
    void start();
    void stop() { m_timer.stop(); }
    qint64 worstMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0, m_worst = 0;
    int m_periodMs = 1;
};

} // namespace benchkit
