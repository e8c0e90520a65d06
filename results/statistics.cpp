#include "results/statistics.h"

#include <QVarLengthArray>
#include <charconv>
#include <cmath>
#include <cstring>

namespace results {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

// The common case, a short decimal such as "-23.057": the integer of its
// digits is exact in both types, and one division by an exact power of ten
// rounds correctly, so the results equal a full decimal parse.
static bool parseShort(const char *p, const char *end, Value *v)
{
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    qint32 mantissa = 0;
    int digits = 0, decimals = 0;
    bool point = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + (c - '0');
            if (++digits > 7)
                return false;
            decimals += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0 || decimals > 3)
        return false;
    static const float kFloatScale[] = {1.0f, 10.0f, 100.0f, 1000.0f};
    static const double kDoubleScale[] = {1.0, 10.0, 100.0, 1000.0};
    const qint32 m = negative ? -mantissa : mantissa;
    static const qint64 kToMilli[] = {1000, 100, 10, 1};
    v->f = float(m) / kFloatScale[decimals];
    v->d = double(m) / kDoubleScale[decimals];
    v->ok = true;
    v->exact3 = std::fabs(v->f) < 8192.0f;
    v->milliValid = true;
    v->milli = qint64(m) * kToMilli[decimals];
    return true;
}

// The fields of a sample as the run stores them ("25.250;-3.100;…": a
// sign, up to four digits, a point and three decimals) in thousandths, up
// to `count` of them: how many there were, or -1 when one has another form
// (those take the full parse).
static int readThousandths(const char *p, const char *end, qint32 *out, int count)
{
    auto digit = [](char c) { return unsigned(c) - unsigned('0'); };
    int j = 0;
    while (j < count) {
        const bool negative = p < end && *p == '-';
        p += negative;
        qint32 whole = 0;
        const char *first = p;
        while (p < end && digit(*p) < 10) {
            whole = whole * 10 + qint32(digit(*p));
            if (++p - first > 4)
                return -1;
        }
        if (p == first)
            return -1;
        qint32 m = whole * 1000;
        if (p < end && *p == '.') {
            if (end - p < 4 || digit(p[1]) >= 10 || digit(p[2]) >= 10 || digit(p[3]) >= 10)
                return -1;
            m += qint32(digit(p[1]) * 100 + digit(p[2]) * 10 + digit(p[3]));
            p += 4;
        }
        if ((p < end && *p != ';') || m >= 8192000)
            return -1;
        out[j++] = negative ? -m : m;
        if (p == end)
            break;
        ++p; // the separator
    }
    return j;
}

// Exact for |m| < 2^24: the float a text of m thousandths parses to.
static inline float floatOfMilli(qint32 m)
{
    return float(m) / 1000.0f;
}

// The largest m with floatOfMilli(m) <= f, within the short range.
static qint32 milliAtMost(float f)
{
    if (!(f > -8192.0f))
        return PointAccumulator::kBelowAll;
    if (f >= 8192.0f)
        return PointAccumulator::kAboveAll;
    qint32 m = qint32(std::floor(double(f) * 1000.0));
    while (floatOfMilli(m + 1) <= f)
        ++m;
    while (floatOfMilli(m) > f)
        --m;
    return m;
}

// The smallest m with floatOfMilli(m) >= f, within the short range.
static qint32 milliAtLeast(float f)
{
    if (!(f < 8192.0f))
        return PointAccumulator::kAboveAll;
    if (f <= -8192.0f)
        return PointAccumulator::kBelowAll;
    qint32 m = qint32(std::ceil(double(f) * 1000.0));
    while (floatOfMilli(m - 1) >= f)
        --m;
    while (floatOfMilli(m) < f)
        ++m;
    return m;
}

Value parseValue(const char *begin, const char *end)
{
    Value v;
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    if (begin < end && *begin == '+')
        ++begin;
    if (begin == end)
        return v;
    if (parseShort(begin, end, &v))
        return v;
    const auto rf = std::from_chars(begin, end, v.f);
    if (rf.ec != std::errc() || rf.ptr != end || !std::isfinite(v.f))
        return v;
    const auto rd = std::from_chars(begin, end, v.d);
    if (rd.ec != std::errc() || rd.ptr != end)
        return v;
    v.ok = true;
    // Three decimals or fewer, no exponent, and small enough that the float
    // is within half a unit of the third decimal of the text.
    int decimals = 0;
    bool point = false, plain = true;
    for (const char *p = begin; p < end; ++p) {
        if (*p == '.')
            point = true;
        else if (*p >= '0' && *p <= '9')
            decimals += point ? 1 : 0;
        else if (*p != '-')
            plain = false;
    }
    v.exact3 = plain && decimals <= 3 && std::fabs(v.f) < 8192.0f;
    return v;
}

void readValues(const char *data, int size, double *out, int count)
{
    const char *end = data + size;
    QVarLengthArray<qint32, 128> milli(qMax(1, count));
    const int n = readThousandths(data, end, milli.data(), count);
    if (n >= 0) {
        for (int j = 0; j < n; ++j)
            out[j] = double(milli[j]) / 1000.0;
        for (int j = n; j < count; ++j)
            out[j] = NAN;
        return;
    }
    const char *p = data;
    int j = 0;
    for (; j < count && p <= end; ++j) {
        const char *stop = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
        if (!stop)
            stop = end;
        const Value v = parseValue(p, stop);
        out[j] = v.ok ? v.d : NAN;
        p = stop + 1;
    }
    for (; j < count; ++j)
        out[j] = NAN;
}

Value parseValue(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return parseValue(bytes.constData(), bytes.constData() + bytes.size());
}

Value valueOf(float reading)
{
    const double x = double(reading) * 1000.0; // exact: 24 + 10 bits
    const double whole = std::floor(x);
    if (!std::isfinite(x) || x - whole == 0.5 || std::fabs(x) >= 1e7)
        return parseValue(figure(reading)); // a tie or a long number: as the text has it
    const qint32 m = qint32(std::llround(x));
    Value v;
    v.ok = true;
    v.f = float(m) / 1000.0f;
    v.d = double(m) / 1000.0;
    v.exact3 = std::fabs(v.f) < 8192.0f;
    v.milliValid = true;
    v.milli = m;
    return v;
}

QString Figure::text() const
{
    return ok ? QString::number(value, 'f', 3) : QString();
}

QString figure(float v)
{
    return QString::number(double(v), 'f', 3);
}

float round3(float v)
{
    return figure(v).toFloat();
}

QString listMaxText(const QStringList &entries)
{
    float current = -99999.0f;
    for (const QString &e : entries) {
        const Value v = parseValue(e);
        if (v.ok && v.f > current)
            current = v.f;
    }
    return figure(current);
}

QString listMinText(const QStringList &entries)
{
    float current = 99999.0f;
    for (const QString &e : entries) {
        const Value v = parseValue(e);
        if (v.ok && v.f < current)
            current = v.f;
    }
    return figure(current);
}

static double populationStdDev(const QVector<double> &x)
{
    double sum = 0;
    for (double v : x)
        sum += v;
    const double m = sum / x.size();
    double squares = 0;
    for (double v : x)
        squares += (v - m) * (v - m);
    return std::sqrt(squares / x.size());
}

QString listStdDevText(const QStringList &entries)
{
    QVector<double> x;
    for (const QString &e : entries) {
        const Value v = parseValue(e);
        if (v.ok)
            x << v.d;
    }
    if (x.isEmpty())
        return QStringLiteral("nan");
    return QString::number(populationStdDev(x), 'f', 3);
}

bool typeWantsTemperature(const QString &equipType)
{
    return equipType == QStringLiteral("温度") || equipType == QStringLiteral("温湿度");
}

bool typeWantsHumidity(const QString &equipType)
{
    return equipType == QStringLiteral("湿度") || equipType == QStringLiteral("温湿度");
}

ChannelLayout ChannelLayout::fromHeader(const storage::RunHeader &header)
{
    ChannelLayout l;
    l.channelCount = qMax(0, header.channum.trimmed().toInt());
    const QList<int> a = storage::roadCounts(header.kindsA);
    const int sumA = a[0] + a[1] + a[2];
    l.twoCollectors = sumA < l.channelCount;
    const QStringList numbers = storage::splitList(header.chanlist);
    for (int j = 0; j < l.channelCount; ++j) {
        const bool second = l.twoCollectors && j >= sumA;
        const int i = second ? j - sumA : j; // position within its collector
        const QString &mask = second ? header.typesB : header.typesA;
        const bool temperature = i < mask.size() && mask.at(i) == QLatin1Char('0');
        l.kinds << (temperature ? Kind::Temperature : Kind::Humidity);
        l.collectors << (second ? 2 : 1);
        l.numbers << numbers.value(j);
        l.names << (second ? QStringLiteral("2-") : QStringLiteral("1-")) + numbers.value(j);
    }
    return l;
}

int ChannelLayout::count(Kind kind) const
{
    int n = 0;
    for (Kind k : kinds)
        n += k == kind;
    return n;
}

PointAccumulator::PointAccumulator(const ChannelLayout &layout, ReadingArena *arena)
    : m_channelCount(layout.channelCount), m_names(layout.names),
      m_countT(layout.count(Kind::Temperature)), m_countH(layout.count(Kind::Humidity)),
      m_ownArena(arena ? nullptr : new ReadingArena), m_t(arena ? arena : m_ownArena.get()),
      m_h(arena ? arena : m_ownArena.get()), m_channels(size_t(layout.channelCount))
{
    for (Kind k : layout.kinds)
        m_isT.push_back(k == Kind::Temperature);
}

void PointAccumulator::add(const QString &coldata)
{
    const QByteArray bytes = coldata.toUtf8();
    add(bytes.constData(), bytes.size());
}

void PointAccumulator::add(const char *coldata, int size)
{
    const char *end = coldata + size;
    {
        // Nearly every sample: short decimals only, read as integers in one
        // pass; anything else goes the full way below.
        QVarLengthArray<qint32, 128> milli(m_channelCount);
        if (const int n = readThousandths(coldata, end, milli.data(), m_channelCount); n >= 0) {
            addThousandths(milli.constData(), n);
            return;
        }
    }
    QVarLengthArray<Value, 128> values(m_channelCount);
    const char *p = coldata;
    int j = 0;
    for (; j < m_channelCount && p <= end; ++j) {
        const char *stop = static_cast<const char *>(memchr(p, ';', size_t(end - p)));
        if (!stop)
            stop = end;
        // The usual "-23.057" takes the short road; anything else the full parse.
        Value &v = values[j];
        if (!parseShort(p, stop, &v))
            v = parseValue(p, stop);
        p = stop + 1;
    }
    addValues(values.constData(), j);
}

void PointAccumulator::add(const QVector<float> &readings)
{
    QVarLengthArray<Value, 128> values(m_channelCount);
    const int n = qMin(m_channelCount, readings.size());
    for (int j = 0; j < n; ++j)
        values[j] = valueOf(readings[j]);
    addValues(values.constData(), n);
}

void PointAccumulator::addValues(const Value *values, int count)
{
    ++m_samples;
    struct Local
    {
        float max = 0, min = 0;
        bool maxExact = true, minExact = true;
        bool any = false;
    } local[2]; // humidity, temperature

    ChannelState *channels = m_channels.data();
    const char *isT = m_isT.data();
    for (int j = 0; j < count; ++j) {
        const Value &v = values[j];
        if (!v.ok)
            continue;
        const int t = isT[j];
        KindState &k = t ? m_t : m_h;
        Local &l = local[t];
        ChannelState &c = channels[j];
        // The point's and the channel's extremes start from -99999 / 99999.
        if (v.f > k.max) {
            k.max = v.f;
            k.maxExact = v.exact3;
        }
        if (v.f < k.min) {
            k.min = v.f;
            k.minExact = v.exact3;
        }
        if (v.f > c.max) {
            c.max = v.f;
            c.maxExact = v.exact3;
            c.maxMilli = milliAtMost(c.max);
        }
        if (v.f < c.min) {
            c.min = v.f;
            c.minExact = v.exact3;
            c.minMilli = milliAtLeast(c.min);
        }
        ++c.readings;
        k.readings.add(v.d, v.milliValid, v.milli);
        if (!l.any || v.f > l.max) {
            l.max = v.f;
            l.maxExact = v.exact3;
        }
        if (!l.any || v.f < l.min) {
            l.min = v.f;
            l.minExact = v.exact3;
        }
        l.any = true;
    }
    // One range per sample over every channel of the kind, whichever
    // collector it belongs to.
    for (int t = 0; t < 2; ++t) {
        KindState &k = t ? m_t : m_h;
        const Local &l = local[t];
        k.readings.endSample();
        if (!l.any)
            continue;
        const float max = l.maxExact ? l.max : round3(l.max);
        const float min = l.minExact ? l.min : round3(l.min);
        k.ranges.push_back(max - min);
    }
}

void PointAccumulator::addThousandths(const qint32 *values, int count)
{
    ++m_samples;
    qint32 max[2] = {0, 0}, min[2] = {0, 0}; // humidity, temperature
    bool any[2] = {false, false};
    ChannelState *channels = m_channels.data();
    const char *isT = m_isT.data();
    for (int j = 0; j < count; ++j) {
        const qint32 m = values[j];
        const int t = isT[j];
        ChannelState &c = channels[j];
        if (m > c.maxMilli) {
            c.maxMilli = m;
            c.max = floatOfMilli(m);
            c.maxExact = true;
        }
        if (m < c.minMilli) {
            c.minMilli = m;
            c.min = floatOfMilli(m);
            c.minExact = true;
        }
        ++c.readings;
        (t ? m_t : m_h).readings.addThousandths(m);
        if (!any[t] || m > max[t])
            max[t] = m;
        if (!any[t] || m < min[t])
            min[t] = m;
        any[t] = true;
    }
    for (int t = 0; t < 2; ++t) {
        KindState &k = t ? m_t : m_h;
        k.readings.endSample();
        if (!any[t])
            continue;
        // The first reading that reaches an extreme keeps it, as one by one.
        const float fmax = floatOfMilli(max[t]), fmin = floatOfMilli(min[t]);
        if (fmax > k.max) {
            k.max = fmax;
            k.maxExact = true;
        }
        if (fmin < k.min) {
            k.min = fmin;
            k.minExact = true;
        }
        k.ranges.push_back(fmax - fmin);
    }
}

KindFigures PointAccumulator::figures(const KindState &s, int channels, const QString &set) const
{
    KindFigures f;
    f.set = set;
    f.channels = channels;
    f.readings = int(s.readings.size());
    if (channels == 0 || s.readings.size() == 0)
        return f;
    const float max = s.maxExact ? s.max : round3(s.max);
    const float min = s.minExact ? s.min : round3(s.min);
    const QString setText = set.trimmed();
    bool setOk = false;
    const float setValue = setText.toFloat(&setOk);
    if (setOk && std::isfinite(setValue)) {
        f.upper = Figure(max - setValue);
        f.lower = Figure(min - setValue);
    }
    if (!s.ranges.empty()) {
        float sum = 0;
        for (size_t i = s.ranges.size(); i-- > 0;)
            sum += s.ranges[i];
        f.uniformity = Figure(sum / float(s.ranges.size()));
    }
    f.fluctuation = Figure((max - min) * 0.5f);
    const double n = double(s.readings.size());
    double sum = 0;
    s.readings.newestFirst([&](double x) { sum += x; });
    const double m = sum / n;
    double squares = 0;
    s.readings.newestFirst([&](double x) { squares += (x - m) * (x - m); });
    f.spread = Figure(std::sqrt(squares / n));
    f.mean = Figure(m);
    f.max = Figure(max);
    f.min = Figure(min);
    return f;
}

PointResult PointAccumulator::result(int point, const QString &setT, const QString &setH) const
{
    PointResult r;
    r.point = point;
    r.samples = m_samples;
    r.t = figures(m_t, m_countT, setT);
    r.h = figures(m_h, m_countH, setH);
    for (int j = 0; j < m_channelCount; ++j) {
        const ChannelState &c = m_channels[size_t(j)];
        ChannelExtremes e;
        e.name = m_names.value(j);
        if (c.readings > 0) {
            e.max = Figure(c.maxExact ? c.max : round3(c.max));
            e.min = Figure(c.minExact ? c.min : round3(c.min));
        }
        r.channels << e;
    }
    return r;
}

} // namespace results
