#pragma once

// A processed calibration as the query page, the exports and orven-report
// see it: its header, its channel layout and its samples, held compactly as
// the UTF-8 texts stored (one set of texts per sample, never one object per
// value).

#include "results/statistics.h"
#include "storage/records.h"
#include "storage/result.h"

#include <QByteArray>
#include <QVector>
#include <atomic>
#include <functional>

namespace storage {
class SampleReader;
}

namespace results {

struct StoredSample
{
    QByteArray jdnum;   // "检点" + point number
    QByteArray coltime; // "yyyy-MM-dd HH:mm:ss"
    QByteArray coldata; // values, list text
};

struct Calibration
{
    storage::RunHeader header;
    ChannelLayout layout;
    QVector<StoredSample> samples; // oldest first
};

// ---- texts of the sample table ----
// "序号", "时间", "校准点", then "1-"/"2-" + channel number.
QStringList sampleHeaders(const ChannelLayout &layout);
// "05-01 10:02:00   ": the time without its year, then three blanks.
QString timeCell(const QByteArray &coltime);
// The number after "检点", 0 when there is none.
int pointNumberOf(const QByteArray &jdnum);
// "20℃  50%RH" for a sample of that point; empty when the point is not in
// the set-point lists.
QString pointCell(const storage::RunHeader &header, int point);
// Entry `index` of a list text; empty when there are fewer entries.
QByteArray listEntry(const QByteArray &list, int index);

// The sample table as the query page shows it: a text per cell, worked out
// when it is asked for.
class SampleTableText
{
public:
    explicit SampleTableText(const storage::RunHeader &header);
    // Rows: the header's sample count (samples beyond it are not shown, rows
    // without a sample stay empty).
    int rows() const { return m_limit; }
    int columns() const { return m_columns; }
    // Empty for a row without a sample.
    QString cell(const QVector<StoredSample> &samples, int row, int column) const;

private:
    QStringList m_tem, m_hum;
    int m_limit = 0;
    int m_columns = 0;
};

// Set points of point p (1-based) as stored; empty when the list is shorter.
QString setPointT(const storage::RunHeader &header, int point);
QString setPointH(const storage::RunHeader &header, int point);
int pointCount(const storage::RunHeader &header);

// Whether a header's numbers are ones a calibration can hold: 1 to 10
// points, 1 to 128 channels, a sample count that is not negative. A damaged
// header is refused with the reason before anything is sized by it.
base::Status checkHeader(const storage::RunHeader &header);
constexpr int kMaxPoints = 10;
constexpr int kMaxChannels = 128;

// ---- loading ----
struct LoadControl
{
    const std::atomic<bool> *cancel = nullptr;
    // Called now and then with samples read so far and the window's total.
    std::function<void(qint64 done, qint64 total)> progress;
    // Called with every batch of samples as it is read (the page shows them
    // while the rest arrive).
    std::function<void(const QVector<StoredSample> &batch)> batch;
    int batchSize = 4096;
};

// Reads the samples of `header`'s time window into `out`. The reader must be
// open. Cancelled loads return ok with `cancelled` set.
struct LoadOutcome
{
    base::Status status;
    bool cancelled = false;
};
LoadOutcome loadSamples(storage::SampleReader &reader, Calibration &out,
                        const LoadControl &control = LoadControl());

// Opens the database read-only, finds the header and loads its samples.
// `found` is false (and status ok) when no header has that key.
struct Loaded
{
    base::Status status;
    bool found = false;
    bool cancelled = false;
    Calibration calibration;
};
Loaded loadCalibration(const QString &databasePath, const QString &key,
                       const LoadControl &control = LoadControl());

// ---- results ----
// One result per point 1..N, the samples of a point taken newest first as the
// documents read them.
QVector<PointResult> computeResults(const Calibration &calibration,
                                    const std::atomic<bool> *cancel = nullptr);
// The same results read straight from the database, without holding the
// samples (orven-report, exports that need only the figures).
struct Computed
{
    base::Status status;
    bool cancelled = false;
    QVector<PointResult> points;
};
Computed computeFromReader(storage::SampleReader &reader, const storage::RunHeader &header,
                           const std::atomic<bool> *cancel = nullptr);
// Indices of the samples of point p, oldest first (exact "检点" + p match).
QVector<QVector<int>> samplesByPoint(const Calibration &calibration);

} // namespace results

Q_DECLARE_TYPEINFO(results::StoredSample, Q_MOVABLE_TYPE);
