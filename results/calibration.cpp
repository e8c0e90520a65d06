#include "results/calibration.h"

#include "storage/samplereader.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace results {

static const QByteArray kPointPrefix = QByteArrayLiteral("\xe6\xa3\x80\xe7\x82\xb9"); // 检点

QStringList sampleHeaders(const ChannelLayout &layout)
{
    QStringList headers{QStringLiteral("序号"), QStringLiteral("时间"), QStringLiteral("校准点")};
    // Each channel with its unit, as the live table shows it: "1-103(%RH)".
    for (int i = 0; i < layout.names.size(); ++i)
        headers << layout.names[i] + (layout.kinds.value(i) == Kind::Humidity
                                          ? QStringLiteral("(%RH)")
                                          : QStringLiteral("(℃)"));
    return headers;
}

QString timeCell(const QByteArray &coltime)
{
    return QString::fromUtf8(coltime).mid(5) + QStringLiteral("   ");
}

int pointNumberOf(const QByteArray &jdnum)
{
    if (!jdnum.startsWith(kPointPrefix))
        return 0;
    bool ok = false;
    const int n = jdnum.mid(kPointPrefix.size()).trimmed().toInt(&ok);
    return ok && n > 0 ? n : 0;
}

static QString listItem(const QString &list, int point)
{
    if (point < 1)
        return QString();
    const QStringList items = storage::splitList(list);
    return point <= items.size() ? items[point - 1] : QString();
}

QString setPointT(const storage::RunHeader &header, int point)
{
    return listItem(header.temset, point);
}

QString setPointH(const storage::RunHeader &header, int point)
{
    return listItem(header.humset, point);
}

int pointCount(const storage::RunHeader &header)
{
    return qMax(0, header.pointnum.trimmed().toInt());
}

QString pointCell(const storage::RunHeader &header, int point)
{
    const QStringList tem = storage::splitList(header.temset);
    const QStringList hum = storage::splitList(header.humset);
    if (point < 1 || point > tem.size() || point > hum.size())
        return QString();
    return tem[point - 1] + QStringLiteral("℃  ") + hum[point - 1] + QStringLiteral("%RH");
}

QByteArray listEntry(const QByteArray &list, int index)
{
    int from = 0;
    for (int i = 0; i < index; ++i) {
        from = list.indexOf(';', from);
        if (from < 0)
            return QByteArray();
        ++from;
    }
    int to = list.indexOf(';', from);
    if (to < 0)
        to = list.size();
    return list.mid(from, to - from);
}

// A corrupt sample count must not make a table of billions of empty rows.
static constexpr int kMaxRows = 50'000'000;

SampleTableText::SampleTableText(const storage::RunHeader &header)
    : m_tem(storage::splitList(header.temset)), m_hum(storage::splitList(header.humset)),
      m_limit(qBound(0, header.samplenum.trimmed().toInt(), kMaxRows)),
      m_columns(ChannelLayout::fromHeader(header).channelCount + 3)
{
}

QString SampleTableText::cell(const QVector<StoredSample> &samples, int row, int column) const
{
    if (row < 0 || row >= m_limit || row >= samples.size() || column < 0 || column >= m_columns)
        return QString();
    const StoredSample &s = samples[row];
    switch (column) {
    case 0:
        return QString::number(row + 1);
    case 1:
        return timeCell(s.coltime);
    case 2: {
        const int k = pointNumberOf(s.jdnum);
        if (k < 1 || k > m_tem.size() || k > m_hum.size())
            return QString();
        return m_tem[k - 1] + QStringLiteral("℃  ") + m_hum[k - 1] + QStringLiteral("%RH");
    }
    default:
        return QString::fromUtf8(listEntry(s.coldata, column - 3));
    }
}

base::Status checkHeader(const storage::RunHeader &h)
{
    auto number = [](const QString &text, int *n) {
        bool ok = false;
        *n = text.trimmed().toInt(&ok);
        return ok;
    };
    const QString damaged = QStringLiteral("校准记录 %1 已损坏：").arg(h.dtbegin);
    int n = 0;
    if (!number(h.pointnum, &n) || n < 1 || n > kMaxPoints)
        return base::Status::failure(
            damaged + QStringLiteral("校准点个数为“%1”，应为 1 到 %2。").arg(h.pointnum).arg(kMaxPoints));
    if (!number(h.channum, &n) || n < 1 || n > kMaxChannels)
        return base::Status::failure(
            damaged +
            QStringLiteral("通道个数为“%1”，应为 1 到 %2。").arg(h.channum).arg(kMaxChannels));
    if (!number(h.samplenum, &n) || n < 0)
        return base::Status::failure(damaged +
                                        QStringLiteral("样本个数为“%1”。").arg(h.samplenum));
    // The channel list and the kinds say what each value is: a kind record
    // that cannot be read would make temperatures humidity (or drop them).
    if (h.chanlist.split(QLatin1Char(';'), Qt::SkipEmptyParts).isEmpty())
        return base::Status::failure(damaged + QStringLiteral("通道列表为空。"));
    const QList<QPair<QString, QString>> kinds{{h.kindsA, h.typesA}, {h.kindsB, h.typesB}};
    for (int c = 0; c < kinds.size(); ++c) {
        const QString &counts = kinds[c].first;
        const QString &types = kinds[c].second;
        const QStringList parts = counts.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        int sum = 0;
        bool readable = counts.trimmed().isEmpty() || parts.size() == 3;
        for (const QString &part : parts) {
            int k = 0;
            readable = readable && number(part, &k) && k >= 0;
            sum += k;
        }
        if (!readable)
            return base::Status::failure(
                damaged + QStringLiteral("采集器%1的通道分类为“%2”。").arg(c + 1).arg(counts));
        for (const QChar t : types)
            if (t != QLatin1Char('0') && t != QLatin1Char('1'))
                return base::Status::failure(
                    damaged + QStringLiteral("采集器%1的通道类型为“%2”。").arg(c + 1).arg(types));
        if (sum > 0 && types.isEmpty())
            return base::Status::failure(
                damaged + QStringLiteral("采集器%1有 %2 个通道，却没有通道类型。").arg(c + 1).arg(sum));
    }
    return {};
}

// The header's channel count against the values of a sample as stored.
static base::Status checkValues(const storage::RunHeader &h, const char *data, int size)
{
    int values = 0;
    for (int i = 0; i < size; ++i)
        values += data[i] == ';';
    if (size > 0 && data[size - 1] != ';')
        ++values;
    const int channels = h.channum.trimmed().toInt();
    if (values >= channels)
        return {};
    return base::Status::failure(
        QStringLiteral("校准记录 %1 已损坏：通道个数为 %2，而样本只有 %3 个数值。")
            .arg(h.dtbegin)
            .arg(channels)
            .arg(values));
}

LoadOutcome loadSamples(storage::SampleReader &reader, Calibration &out, const LoadControl &control)
{
    LoadOutcome outcome;
    const storage::RunHeader &h = out.header;
    if (const base::Status st = checkHeader(h); !st) {
        outcome.status = st;
        return outcome;
    }
    const base::Result<qint64> n = reader.countInWindow(h.dtbegin, h.dtend);
    if (!n) {
        outcome.status = n.status();
        return outcome;
    }
    const qint64 total = n.value;
    out.samples.reserve(out.samples.size() + int(qMin<qint64>(total, 1 << 28)));
    if (control.progress)
        control.progress(0, total);
    QVector<StoredSample> batch;
    QByteArray lastPoint;
    qint64 done = 0;
    base::Status damaged;
    auto flush = [&] {
        if (control.batch && !batch.isEmpty())
            control.batch(batch);
        batch.clear();
        if (control.progress)
            control.progress(done, total);
    };
    outcome.status = reader.forEachInWindow(
        h.dtbegin, h.dtend, [&](storage::TextRef jd, storage::TextRef time, storage::TextRef data) {
            if (control.cancel && control.cancel->load(std::memory_order_relaxed)) {
                outcome.cancelled = true;
                return false;
            }
            if (done == 0) {
                if (const base::Status st = checkValues(h, data.data, data.size); !st) {
                    damaged = st;
                    return false;
                }
            }
            StoredSample s;
            // Samples of one point share one copy of its label.
            if (lastPoint.size() == jd.size && memcmp(lastPoint.constData(), jd.data, jd.size) == 0)
                s.jdnum = lastPoint;
            else
                s.jdnum = lastPoint = jd.bytes();
            s.coltime = time.bytes();
            s.coldata = data.bytes();
            out.samples.append(s);
            ++done;
            if (control.batch || control.progress) {
                batch.append(s);
                if (batch.size() >= control.batchSize)
                    flush();
            }
            return true;
        });
    if (!damaged) {
        outcome.status = damaged;
        out.samples.clear();
        return outcome;
    }
    if (outcome.status && !outcome.cancelled)
        flush();
    return outcome;
}

Loaded loadCalibration(const QString &databasePath, const QString &key, const LoadControl &control)
{
    Loaded loaded;
    storage::SampleReader reader;
    loaded.status = reader.open(databasePath);
    if (!loaded.status)
        return loaded;
    const base::Result<storage::FoundHeader> h = reader.header(key);
    if (!h) {
        loaded.status = h.status();
        return loaded;
    }
    if (!h.value.found)
        return loaded;
    loaded.found = true;
    if (const base::Status st = checkHeader(h.value.header); !st) {
        loaded.status = st;
        return loaded;
    }
    loaded.calibration.header = h.value.header;
    loaded.calibration.layout = ChannelLayout::fromHeader(h.value.header);
    const LoadOutcome o = loadSamples(reader, loaded.calibration, control);
    loaded.status = o.status;
    loaded.cancelled = o.cancelled;
    return loaded;
}

QVector<QVector<int>> samplesByPoint(const Calibration &calibration)
{
    const int n = pointCount(calibration.header);
    QVector<QVector<int>> byPoint(n);
    QVector<QByteArray> labels;
    for (int p = 1; p <= n; ++p)
        labels << kPointPrefix + QByteArray::number(p);
    QByteArray last;
    int lastPoint = -1;
    for (int i = 0; i < calibration.samples.size(); ++i) {
        const QByteArray &jd = calibration.samples[i].jdnum;
        if (lastPoint < 0 || jd != last) {
            last = jd;
            lastPoint = -1;
            // Exact text as the point's own query would match it.
            const int k = pointNumberOf(jd);
            if (k >= 1 && k <= n && jd == labels[k - 1])
                lastPoint = k - 1;
            if (lastPoint < 0)
                lastPoint = n; // none
        }
        if (lastPoint < n)
            byPoint[lastPoint] << i;
    }
    return byPoint;
}

QVector<PointResult> computeResults(const Calibration &calibration, const std::atomic<bool> *cancel)
{
    const QVector<QVector<int>> byPoint = samplesByPoint(calibration);
    QVector<PointResult> out;
    for (int p = 1; p <= byPoint.size(); ++p) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return out;
        PointAccumulator acc(calibration.layout);
        for (int i : byPoint[p - 1]) {
            const QByteArray &data = calibration.samples[i].coldata;
            acc.add(data.constData(), data.size());
        }
        out << acc.result(p, setPointT(calibration.header, p), setPointH(calibration.header, p));
    }
    return out;
}

} // namespace results

namespace results {

namespace {

// Samples on their way from the reading thread to the one that computes:
// rows of one point each, their texts back to back.
struct Batch
{
    std::vector<int> points; // per row, 0-based
    std::vector<int> ends;   // per row, the end of its text in `bytes`
    QByteArray bytes;
};

// A short queue between the two: the reader waits when the figures fall
// behind, so memory stays at a few batches however long the run.
class BatchQueue
{
public:
    void push(Batch &&b)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_room.wait(lock, [&] { return m_batches.size() < kDepth || m_closed; });
        if (m_closed)
            return;
        m_batches.push_back(std::move(b));
        m_ready.notify_one();
    }
    bool pop(Batch *b)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [&] { return !m_batches.empty() || m_closed; });
        if (m_batches.empty())
            return false;
        *b = std::move(m_batches.front());
        m_batches.pop_front();
        m_room.notify_one();
        return true;
    }
    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_ready.notify_all();
        m_room.notify_all();
    }

private:
    static constexpr size_t kDepth = 4;
    std::mutex m_mutex;
    std::condition_variable m_ready, m_room;
    std::deque<Batch> m_batches;
    bool m_closed = false;
};

} // namespace

Computed computeFromReader(storage::SampleReader &reader, const storage::RunHeader &header,
                           const std::atomic<bool> *cancel)
{
    Computed c;
    c.status = checkHeader(header);
    if (!c.status)
        return c;
    const ChannelLayout layout = ChannelLayout::fromHeader(header);
    const int n = pointCount(header);
    ReadingArena arena;
    std::vector<std::unique_ptr<PointAccumulator>> points;
    QVector<QByteArray> labels;
    for (int p = 1; p <= n; ++p) {
        points.push_back(std::make_unique<PointAccumulator>(layout, &arena));
        labels << kPointPrefix + QByteArray::number(p);
    }
    // This thread reads the database while another turns the texts into
    // figures: the two take about as long, so the whole takes little more
    // than the read alone.
    BatchQueue queue;
    std::thread figures([&] {
        Batch b;
        while (queue.pop(&b)) {
            int begin = 0;
            for (size_t i = 0; i < b.points.size(); ++i) {
                points[size_t(b.points[i])]->add(b.bytes.constData() + begin, b.ends[i] - begin);
                begin = b.ends[i];
            }
        }
    });
    constexpr size_t kRows = 512;
    Batch batch;
    int last = -1;
    bool known = false;
    QByteArray lastLabel;
    base::Status damaged;
    c.status = reader.forEachInWindow(
        header.dtbegin, header.dtend,
        [&](storage::TextRef jd, storage::TextRef, storage::TextRef data) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                c.cancelled = true;
                return false;
            }
            if (!known && !(damaged = checkValues(header, data.data, data.size)))
                return false;
            if (!known || lastLabel.size() != jd.size ||
                memcmp(lastLabel.constData(), jd.data, size_t(jd.size)) != 0) {
                lastLabel = jd.bytes();
                const int k = pointNumberOf(lastLabel);
                last = k >= 1 && k <= n && lastLabel == labels[k - 1] ? k - 1 : -1;
                known = true;
            }
            if (last >= 0) {
                batch.points.push_back(last);
                batch.bytes.append(data.data, data.size);
                batch.ends.push_back(batch.bytes.size());
                if (batch.points.size() >= kRows) {
                    queue.push(std::move(batch));
                    batch = Batch();
                }
            }
            return true;
        });
    if (!batch.points.empty() && c.status && !c.cancelled && damaged)
        queue.push(std::move(batch));
    queue.close();
    figures.join();
    if (!damaged)
        c.status = damaged;
    if (!c.status || c.cancelled)
        return c;
    for (int p = 1; p <= n; ++p)
        c.points << points[size_t(p - 1)]->result(p, setPointT(header, p), setPointH(header, p));
    return c;
}

} // namespace results
