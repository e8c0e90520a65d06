#pragma once

// Calibration results per point: deviations from the set value, uniformity,
// fluctuation and spread per kind, and every channel's extremes. Plain
// functions over sample texts; nothing here knows about widgets or SQL.
//
// Numbers follow the certificate rules: extremes, ranges, sums and
// deviations are single-precision floats, the spread is a double, every
// figure is printed fixed-point with three decimals. An empty text stands
// for "no value": a point without samples, a kind without channels, a set
// point that is not a number.

#include "results/readings.h"
#include "storage/records.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>
#include <vector>

namespace results {

// Largest / smallest entry as a float, three decimals. Entries that are not
// numbers are left out; with no number at all the start values -99999 and
// 99999 come back.
QString listMaxText(const QStringList &entries);
QString listMinText(const QStringList &entries);
// Population standard deviation of the entries that are numbers, as doubles;
// "nan" when there is none.
QString listStdDevText(const QStringList &entries);

// Parses one value text the way the results read it. `exact3` tells that the
// text has at most three decimals and a magnitude that a float rounds back to
// the same three decimals, so rounding to three decimals changes nothing.
struct Value
{
    bool ok = false;
    float f = 0;
    double d = 0;
    bool exact3 = false;
    bool milliValid = false; // `milli` is the value in thousandths, exactly
    qint64 milli = 0;
};
Value parseValue(const char *begin, const char *end);
Value parseValue(const QString &text);
// The entries of a stored sample ("25.250;-3.100;…") as numbers, the first
// `count` of them; NaN where an entry is missing or not a number.
void readValues(const char *data, int size, double *out, int count);
// The value a reading has once written with three decimals, as parsing
// that text would give it (without making the text but in the rare tie).
Value valueOf(float reading);

// A float as the documents print it, and as a printed figure reads back.
QString figure(float v);
float round3(float v);

enum class Kind : char { Temperature = 'T', Humidity = 'H' };

// How the channels of a calibration are laid out, from its header.
struct ChannelLayout
{
    int channelCount = 0;
    bool twoCollectors = false;
    QVector<Kind> kinds;     // per channel
    QVector<int> collectors; // per channel: 1 or 2
    QStringList numbers;     // channel numbers from the header's channel list
    QStringList names;       // "1-101", "2-103"

    static ChannelLayout fromHeader(const storage::RunHeader &header);
    int count(Kind kind) const;
};

// A figure: a number, or none ("无数据" where a document prints it).
struct Figure
{
    bool ok = false;
    double value = 0; // a float figure's exact value, or a double's
    Figure() = default;
    explicit Figure(double v) : ok(true), value(v) {}
    // Fixed point with three decimals; empty when there is none.
    QString text() const;
};

// The figures of one kind at one point.
struct KindFigures
{
    QString set;        // the set point as stored
    Figure upper;       // max - set
    Figure lower;       // min - set
    Figure uniformity;  // mean of the per-sample ranges
    Figure fluctuation; // half the range of all readings
    Figure spread;      // population standard deviation of all readings
    Figure mean;        // mean of all readings (the live view)
    Figure max, min;    // the extremes (three decimals)
    int channels = 0;   // channels of this kind
    int readings = 0;   // readings that entered
};

struct ChannelExtremes
{
    QString name; // "1-101"
    Figure max, min;
};

struct PointResult
{
    int point = 0; // 1-based
    int samples = 0;
    KindFigures t, h;
    QVector<ChannelExtremes> channels;
};

// Which kinds an equipment type asks for ("温度", "湿度", "温湿度").
bool typeWantsTemperature(const QString &equipType);
bool typeWantsHumidity(const QString &equipType);

// Accumulates the samples of one point, in any number, one coldata text at a
// time (UTF-8 bytes as stored), oldest first. The sums are taken newest
// first, as the documents' per-point query returns the samples, so the
// last bits of every figure do not depend on how the samples arrived.
class PointAccumulator
{
public:
    // Accumulators of one computation may share an arena for their readings.
    explicit PointAccumulator(const ChannelLayout &layout, ReadingArena *arena = nullptr);
    void add(const char *coldata, int size);
    void add(const QString &coldata);
    // A sample's readings as numbers (a run in progress).
    void add(const QVector<float> &values);
    int samples() const { return m_samples; }
    PointResult result(int point, const QString &setT, const QString &setH) const;
    // Bounds in thousandths beyond every short reading (|m| < 8192000).
    static constexpr qint32 kBelowAll = -8192001, kAboveAll = 8192001;

private:
    void addValues(const Value *values, int count);
    // A sample whose readings are all short decimals, in thousandths.
    void addThousandths(const qint32 *values, int count);
    struct KindState
    {
        explicit KindState(ReadingArena *arena) : readings(arena) {}
        float max = -99999.0f, min = 99999.0f;
        bool maxExact = true, minExact = true;
        std::vector<float> ranges; // one per sample that had a reading
        ReadingStore readings;     // every reading, for the spread
    };
    struct ChannelState
    {
        float max = -99999.0f, min = 99999.0f;
        bool maxExact = true, minExact = true;
        int readings = 0;
        // The extremes as bounds in thousandths: a short reading m is above
        // `max` exactly when m > maxMilli, below `min` when m < minMilli.
        qint32 maxMilli = kBelowAll, minMilli = kAboveAll;
    };

    KindFigures figures(const KindState &s, int channels, const QString &set) const;

    int m_channelCount = 0;
    std::vector<char> m_isT; // per channel
    QStringList m_names;
    int m_countT = 0, m_countH = 0;
    int m_samples = 0;
    std::unique_ptr<ReadingArena> m_ownArena;
    KindState m_t, m_h;
    std::vector<ChannelState> m_channels;
};

} // namespace results
