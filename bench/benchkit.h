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
// Resident set size of this process, bytes.
qint64 residentBytes();

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
