#include "results/evaluation.h"

#include "results/rounding.h"
#include "storage/records.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVarLengthArray>
#include <limits>

namespace results {

// ---- methods ----

QList<Method> allMethods()
{
    return {Method::Recorded, Method::Jjf1101, Method::Gbt5170, Method::Iec60068, Method::Dkd57};
}

QString methodName(Method method)
{
    switch (method) {
    case Method::Recorded:
        return QStringLiteral("按原记录");
    case Method::Jjf1101:
        return QStringLiteral("JJF 1101-2019");
    case Method::Gbt5170:
        return QStringLiteral("GB/T 5170.2");
    case Method::Iec60068:
        return QStringLiteral("IEC 60068-3-5");
    case Method::Dkd57:
        return QStringLiteral("DKD-R 5-7");
    }
    return QString();
}

QString methodKey(Method method)
{
    switch (method) {
    case Method::Recorded:
        return QStringLiteral("recorded");
    case Method::Jjf1101:
        return QStringLiteral("jjf1101");
    case Method::Gbt5170:
        return QStringLiteral("gbt5170");
    case Method::Iec60068:
        return QStringLiteral("iec60068");
    case Method::Dkd57:
        return QStringLiteral("dkd");
    }
    return QString();
}

bool methodFromText(const QString &text, Method *method)
{
    const QString t = text.trimmed();
    for (Method m : allMethods()) {
        if (t.compare(methodName(m), Qt::CaseInsensitive) == 0 ||
            t.compare(methodKey(m), Qt::CaseInsensitive) == 0) {
            *method = m;
            return true;
        }
    }
    if (t.compare(QLatin1String("as recorded"), Qt::CaseInsensitive) == 0) {
        *method = Method::Recorded;
        return true;
    }
    return false;
}

// ---- budgets ----

bool Budget::known() const
{
    for (const Component &c : components)
        if (!c.known)
            return false;
    return true;
}

double Budget::combined() const
{
    if (!known())
        return NAN;
    double squares = 0;
    for (const Component &c : components) {
        const double x = c.contribution();
        squares += x * x;
    }
    return std::sqrt(squares);
}

double Budget::expanded() const
{
    return k * combined();
}

double Budget::effectiveDof() const
{
    const double uc = combined();
    if (!std::isfinite(uc) || uc <= 0)
        return INFINITY;
    double sum = 0;
    for (const Component &c : components)
        if (std::isfinite(c.dof) && c.dof > 0)
            sum += std::pow(c.contribution(), 4) / c.dof;
    return sum > 0 ? std::pow(uc, 4) / sum : INFINITY;
}

double coverageFactor(double effectiveDof)
{
    // Two-sided Student's t for 95 %, ν = 1 … 29.
    static const double t95[] = {12.71, 4.30, 3.18, 2.78, 2.57, 2.45, 2.36, 2.31, 2.26, 2.23,
                                 2.20,  2.18, 2.16, 2.14, 2.13, 2.12, 2.11, 2.10, 2.09, 2.09,
                                 2.08,  2.07, 2.07, 2.06, 2.06, 2.06, 2.05, 2.05, 2.05};
    if (!(effectiveDof < 30))
        return 2;
    const int nu = qBound(1, int(std::floor(effectiveDof)), 29);
    return t95[nu - 1];
}

CertificateFigure roundForCertificate(double value, double expanded)
{
    CertificateFigure out;
    if (!std::isfinite(expanded) || expanded <= 0) {
        if (std::isfinite(value))
            out.value = roundDecimal(value, 3);
        return out;
    }
    // Two significant digits of U at any size; the figure to the same place.
    const int decimals = uncertaintyPlace(expanded);
    out.uncertainty = roundDecimal(expanded, decimals);
    if (std::isfinite(value))
        out.value = roundDecimal(value, decimals);
    return out;
}

QString oneLocationText()
{
    return QStringLiteral("至少需要两个测量位置");
}

// ---- the standard and the operator's inputs ----

StandardData StandardData::fromCollector(const storage::Collector &c,
                                         const storage::CollectorExtra &extra,
                                         const storage::EquipmentExtra &equipment)
{
    StandardData s;
    s.stabilityT = extra.stabilityT;
    s.stabilityH = extra.stabilityH;
    s.settingT = equipment.settingT;
    s.settingH = equipment.settingH;
    s.uncertaintyT = c.temnosure;
    s.kT = c.humnosure;
    s.uncertaintyH = c.temnosurek;
    s.kH = c.humnosurek;
    s.resolutionT = c.cltem;
    s.resolutionH = c.clhum;
    return s;
}

StandardData StandardData::fromCollectors(const QList<storage::Collector> &collectors,
                                          const ChannelLayout &layout,
                                          const QList<storage::CollectorExtra> &extras,
                                          const storage::EquipmentExtra &equipment)
{
    // Does collector i (1-based) measure this kind? Without a layout every
    // collector counts.
    auto measures = [&](int i, Kind kind) {
        if (layout.kinds.isEmpty())
            return true;
        for (int c = 0; c < layout.kinds.size(); ++c)
            if (layout.kinds[c] == kind && layout.collectors.value(c, 1) == i)
                return true;
        return false;
    };
    if (collectors.size() <= 1)
        return fromCollector(collectors.value(0), extras.value(0), equipment);
    auto number = [](const QString &t, bool *ok) { return t.trimmed().toDouble(ok); };
    StandardData out;
    for (bool humidity : {false, true}) {
        const Kind kind = humidity ? Kind::Humidity : Kind::Temperature;
        QString &u = humidity ? out.uncertaintyH : out.uncertaintyT;
        QString &k = humidity ? out.kH : out.kT;
        QString &r = humidity ? out.resolutionH : out.resolutionT;
        bool first = true, uKnown = true, rKnown = true;
        double worstU = 0, worstR = 0;
        for (int i = 0; i < collectors.size(); ++i) {
            if (!measures(i + 1, kind))
                continue;
            const StandardData s = fromCollector(collectors[i]);
            const QString &su = humidity ? s.uncertaintyH : s.uncertaintyT;
            const QString &sk = humidity ? s.kH : s.kT;
            const QString &sr = humidity ? s.resolutionH : s.resolutionT;
            bool ok1 = false, ok2 = false, ok3 = false;
            const double b = number(su, &ok1) / number(sk, &ok2);
            const double rb = number(sr, &ok3);
            if (first) {
                u = su;
                k = sk;
                r = sr;
            }
            // One without its input makes the figure unknown.
            uKnown = uKnown && ok1 && ok2;
            rKnown = rKnown && ok3;
            if (uKnown && (first || b > worstU)) {
                worstU = b;
                u = su;
                k = sk;
            }
            if (rKnown && (first || rb > worstR)) {
                worstR = rb;
                r = sr;
            }
            first = false;
        }
        if (!uKnown)
            u.clear();
        if (!rKnown)
            r.clear();
    }
    // The stability: the largest, unknown when any collector lacks it.
    for (bool humidity : {false, true}) {
        const Kind kind = humidity ? Kind::Humidity : Kind::Temperature;
        QString &st = humidity ? out.stabilityH : out.stabilityT;
        bool known = true, first = true;
        double worst = 0;
        for (int i = 0; i < collectors.size(); ++i) {
            if (!measures(i + 1, kind))
                continue;
            const QString text =
                humidity ? extras.value(i).stabilityH : extras.value(i).stabilityT;
            bool ok = false;
            const double v = number(text, &ok);
            known = known && ok;
            if (ok && (first || v > worst)) {
                worst = v;
                st = text;
            }
            first = false;
        }
        if (!known)
            st.clear();
    }
    out.settingT = equipment.settingT;
    out.settingH = equipment.settingH;
    for (int i = 0; i < collectors.size(); ++i)
        out.perCollector << fromCollector(collectors[i], extras.value(i), equipment);
    return out;
}

qint64 PointEvaluation::durationSeconds() const
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime a = QDateTime::fromString(QString::fromLatin1(first), format);
    const QDateTime b = QDateTime::fromString(QString::fromLatin1(last), format);
    return samples > 1 && a.isValid() && b.isValid() ? qMax<qint64>(0, a.secsTo(b)) : 0;
}

double PointEvaluation::intervalSeconds() const
{
    return samples > 1 ? double(durationSeconds()) / (samples - 1) : NAN;
}

bool ExtraInputs::operator==(const ExtraInputs &o) const
{
    // Unknown equals unknown.
    auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    return same(drift, o.drift) && same(selfHeating, o.selfHeating) &&
           same(radiation, o.radiation) && same(load, o.load) &&
           same(displayResolution, o.displayResolution) && same(indication, o.indication);
}

bool EvaluationSettings::operator==(const EvaluationSettings &o) const
{
    return method == o.method && centreT == o.centreT && centreH == o.centreH &&
           windowMinutes == o.windowMinutes && indicatedT == o.indicatedT &&
           indicatedH == o.indicatedH && inputsT == o.inputsT && inputsH == o.inputsH;
}

// Only what was entered is written; a value not written is unknown.
static QJsonObject inputsJson(const ExtraInputs &in)
{
    QJsonObject o;
    for (const auto &[name, v] : {std::pair<const char *, double>{"drift", in.drift},
                                  {"selfHeating", in.selfHeating},
                                  {"radiation", in.radiation},
                                  {"load", in.load},
                                  {"displayResolution", in.displayResolution},
                                  {"indication", in.indication}})
        if (std::isfinite(v))
            o.insert(QLatin1String(name), v);
    return o;
}

// `zeroUnknown`: settings stored before inputs could be unknown wrote 0 for
// every input nobody entered; only what differs from 0 was given there.
static ExtraInputs inputsFrom(const QJsonObject &o, bool zeroUnknown)
{
    ExtraInputs in;
    auto take = [&](const char *name) {
        const QJsonValue j = o.value(QLatin1String(name));
        const double v = j.isDouble() ? j.toDouble() : NAN;
        return std::isfinite(v) && v >= 0 && !(zeroUnknown && v == 0) ? v : NAN;
    };
    in.drift = take("drift");
    in.selfHeating = take("selfHeating");
    in.radiation = take("radiation");
    in.load = take("load");
    in.displayResolution = take("displayResolution");
    in.indication = take("indication");
    return in;
}

static QJsonObject pointsJson(const QMap<int, double> &values)
{
    QJsonObject o;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        o.insert(QString::number(it.key()), it.value());
    return o;
}

static QMap<int, double> pointsFrom(const QJsonObject &o)
{
    QMap<int, double> values;
    for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
        bool ok = false;
        const int point = it.key().toInt(&ok);
        const double v = it.value().toDouble(NAN);
        if (ok && point >= 1 && point <= 10 && std::isfinite(v))
            values.insert(point, v);
    }
    return values;
}

QString EvaluationSettings::toJson() const
{
    const QJsonObject o{{QStringLiteral("method"), methodKey(method)},
                        {QStringLiteral("centreT"), centreT},
                        {QStringLiteral("centreH"), centreH},
                        {QStringLiteral("windowMinutes"), windowMinutes},
                        {QStringLiteral("indicatedT"), pointsJson(indicatedT)},
                        {QStringLiteral("indicatedH"), pointsJson(indicatedH)},
                        {QStringLiteral("givenT"), inputsJson(inputsT)},
                        {QStringLiteral("givenH"), inputsJson(inputsH)}};
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

EvaluationSettings EvaluationSettings::fromJson(const QString &json)
{
    EvaluationSettings s;
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8()).object();
    if (o.isEmpty())
        return s;
    Method m;
    if (methodFromText(o.value(QStringLiteral("method")).toString(), &m))
        s.method = m;
    s.centreT = o.value(QStringLiteral("centreT")).toString();
    s.centreH = o.value(QStringLiteral("centreH")).toString();
    s.windowMinutes = qMax(0, o.value(QStringLiteral("windowMinutes")).toInt(0));
    s.indicatedT = pointsFrom(o.value(QStringLiteral("indicatedT")).toObject());
    s.indicatedH = pointsFrom(o.value(QStringLiteral("indicatedH")).toObject());
    const bool given = o.contains(QStringLiteral("givenT"));
    s.inputsT = inputsFrom(o.value(given ? QStringLiteral("givenT") : QStringLiteral("inputsT"))
                               .toObject(),
                           !given);
    s.inputsH = inputsFrom(o.value(given ? QStringLiteral("givenH") : QStringLiteral("inputsH"))
                               .toObject(),
                           !given);
    return s;
}

QStringList channelsOfKind(const ChannelLayout &layout, Kind kind)
{
    QStringList names;
    for (int j = 0; j < layout.channelCount; ++j)
        if (layout.kinds.value(j) == kind)
            names << layout.names.value(j);
    return names;
}

// ---- the readings of each point ----

namespace {

struct ChannelStats
{
    int n = 0;
    double sum = 0, mean = 0, m2 = 0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();

    void add(double x)
    {
        ++n;
        sum += x;
        const double d = x - mean;
        mean += d / n;
        m2 += d * (x - mean);
        min = qMin(min, x);
        max = qMax(max, x);
    }
    double average() const { return n ? sum / n : NAN; }
    double sd() const { return n > 1 ? std::sqrt(m2 / (n - 1)) : NAN; }
    double range() const { return n ? max - min : NAN; }
};

struct KindStats
{
    QVector<int> channels;      // indices into the layout
    QVector<ChannelStats> each; // parallel to `channels`
    int scans = 0;
    double rangeSum = 0;
};

struct PointStats
{
    int samples = 0;
    QByteArray first, last;
    KindStats t, h;
};

// The first sample time a window of `minutes` keeps, given the last.
QByteArray windowStart(const QByteArray &last, int minutes)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime t = QDateTime::fromString(QString::fromLatin1(last), format);
    if (!t.isValid())
        return QByteArray();
    return t.addSecs(-60 * qint64(minutes)).toString(format).toLatin1();
}

QVector<PointStats> pointStats(const Calibration &c, int windowMinutes,
                               const std::atomic<bool> *cancel)
{
    const QVector<QVector<int>> byPoint = samplesByPoint(c);
    const ChannelLayout &layout = c.layout;
    const int C = layout.channelCount;
    QVector<PointStats> out(byPoint.size());
    for (PointStats &ps : out) {
        for (int j = 0; j < C; ++j) {
            KindStats &k = layout.kinds.value(j) == Kind::Temperature ? ps.t : ps.h;
            k.channels << j;
        }
        ps.t.each.resize(ps.t.channels.size());
        ps.h.each.resize(ps.h.channels.size());
    }
    QVarLengthArray<double, 128> values(qMax(1, C));
    for (int p = 0; p < byPoint.size(); ++p) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return out;
        const QVector<int> &indices = byPoint[p];
        QByteArray from;
        if (windowMinutes > 0 && !indices.isEmpty())
            from = windowStart(c.samples[indices.last()].coltime, windowMinutes);
        PointStats &ps = out[p];
        for (int i : indices) {
            const StoredSample &s = c.samples[i];
            if (!from.isEmpty() && s.coltime < from)
                continue;
            ++ps.samples;
            if (ps.first.isEmpty())
                ps.first = s.coltime;
            ps.last = s.coltime;
            readValues(s.coldata.constData(), s.coldata.size(), values.data(), C);
            for (KindStats *k : {&ps.t, &ps.h}) {
                double lo = INFINITY, hi = -INFINITY;
                for (int x = 0; x < k->channels.size(); ++x) {
                    const double v = values[k->channels[x]];
                    if (std::isnan(v))
                        continue;
                    k->each[x].add(v);
                    lo = qMin(lo, v);
                    hi = qMax(hi, v);
                }
                if (lo <= hi) {
                    ++k->scans;
                    k->rangeSum += hi - lo;
                }
            }
        }
    }
    return out;
}

// ---- the components ----

bool numberOf(const QString &text, double *out)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

Component calibrationTerm(const StandardData &s, Kind kind, double coefficient)
{
    const bool t = kind == Kind::Temperature;
    const QString uText = t ? s.uncertaintyT : s.uncertaintyH;
    const QString kText = t ? s.kT : s.kH;
    Component c;
    c.name = QStringLiteral("标准器校准");
    c.distribution = Distribution::Normal;
    c.coefficient = coefficient;
    double u = 0, k = 0;
    c.known = numberOf(uText, &u) && numberOf(kText, &k) && u >= 0 && k > 0;
    if (c.known) {
        c.value = u;
        c.divisor = k;
        c.note = QStringLiteral("证书 U=%1, k=%2").arg(uText.trimmed(), kText.trimmed());
    } else {
        c.note = QStringLiteral("采集器记录中没有%1的扩展不确定度或 k")
                     .arg(t ? QStringLiteral("温度") : QStringLiteral("湿度"));
    }
    return c;
}

Component resolutionTerm(double r, bool known, const QString &name, const QString &note,
                         double coefficient)
{
    Component c;
    c.name = name;
    c.note = note;
    c.known = known && std::isfinite(r) && r >= 0;
    c.value = c.known ? r : 0;
    c.distribution = Distribution::Rectangular;
    c.divisor = 2 * std::sqrt(3.0); // half-width r/2
    c.coefficient = coefficient;
    return c;
}

Component standardResolution(const StandardData &s, Kind kind, double coefficient)
{
    const QString text = kind == Kind::Temperature ? s.resolutionT : s.resolutionH;
    double r = 0;
    const bool known = numberOf(text, &r);
    return resolutionTerm(r, known, QStringLiteral("标准器分辨力"),
                          known ? QStringLiteral("分辨力 %1，半宽取其一半").arg(text.trimmed())
                                : QStringLiteral("采集器记录中没有分辨力"),
                          coefficient);
}

// `single`: the figure is one reading (an extreme), whose repeatability is
// s itself; otherwise a mean of n readings, s/√n.
Component repeatability(const ChannelStats &st, const QString &channel, double coefficient,
                        bool single = false)
{
    Component c;
    c.name = QStringLiteral("测量重复性");
    c.note = single ? QStringLiteral("通道 %1 的单次读数，s 由 n=%2 个读数得出").arg(channel).arg(st.n)
                    : QStringLiteral("通道 %1 的平均值，n=%2").arg(channel).arg(st.n);
    c.known = st.n > 1;
    c.value = c.known ? st.sd() : 0;
    c.distribution = Distribution::Normal;
    c.divisor = single || st.n <= 0 ? 1 : std::sqrt(double(st.n));
    c.dof = st.n > 1 ? st.n - 1 : INFINITY;
    c.coefficient = coefficient;
    if (!c.known)
        c.note = QStringLiteral("通道 %1 的读数少于两个").arg(channel);
    return c;
}

Component halfWidth(const QString &name, double a, const QString &note)
{
    Component c;
    c.name = name;
    c.note = note;
    c.known = std::isfinite(a);
    c.value = c.known ? std::fabs(a) : 0;
    c.distribution = Distribution::Rectangular;
    c.divisor = std::sqrt(3.0);
    return c;
}

// What a figure built from readings of the standard takes: its calibration
// and resolution `factor` times (√2 for a difference of two readings, half
// that for half a difference), and the repeatability of one channel.
Budget readingBudget(const StandardData &s, Kind kind, double factor, const ChannelStats &st,
                     const QString &channel, double repeatabilityFactor, bool single = false)
{
    Budget b;
    b.components << calibrationTerm(s, kind, factor) << standardResolution(s, kind, factor)
                 << repeatability(st, channel, repeatabilityFactor, single);
    return b;
}

// The standard's stability between its calibrations, for a figure that is
// a value, not a difference of simultaneous readings.
Component stabilityTerm(const StandardData &s, Kind kind)
{
    const QString text = kind == Kind::Temperature ? s.stabilityT : s.stabilityH;
    double a = NAN;
    const bool known = numberOf(text, &a) && a >= 0;
    return halfWidth(QStringLiteral("标准器稳定性"), known ? a : NAN,
                     known ? QStringLiteral("半宽 %1，采集器记录").arg(text.trimmed())
                           : QStringLiteral("采集器记录中没有稳定性（可忽略时填 0）"));
}

// The chamber's set-value resolution, for a deviation from the set value.
Component settingTerm(const StandardData &s, Kind kind)
{
    const QString text = kind == Kind::Temperature ? s.settingT : s.settingH;
    double r = NAN;
    const bool known = numberOf(text, &r);
    return resolutionTerm(r, known, QStringLiteral("设定值分辨力"),
                          known ? QStringLiteral("设备设定值的分辨力 %1，半宽取其一半").arg(text.trimmed())
                                : QStringLiteral("设备记录中没有设定值分辨力（可忽略时填 0）"),
                          1);
}

EvaluatedFigure makeFigure(const QString &id, const QString &name, double value, Budget budget,
                           bool plusMinus = false)
{
    EvaluatedFigure f;
    f.id = id;
    f.name = name;
    f.plusMinus = plusMinus;
    if (std::isfinite(value))
        f.figure = Figure(value);
    f.budget = std::move(budget);
    // Few scans behind a dominant Type A component: k from ν_eff.
    if (f.budget.known())
        f.budget.k = coverageFactor(f.budget.effectiveDof());
    if (!f.figure.ok) {
        f.why = QStringLiteral("无数据");
    } else if (!f.budget.known()) {
        QStringList missing;
        for (const Component &c : f.budget.components)
            if (!c.known)
                missing << c.name;
        f.why = QStringLiteral("未知：") + missing.join(QStringLiteral("、"));
    }
    return f;
}

// The kind's figures under a method, from its statistics.
struct KindContext
{
    Kind kind;
    const KindStats *stats;
    const ChannelLayout *layout;
    const StandardData *standard;
    double set = NAN; // NaN: not a number
    int centre = 0;   // index into stats->channels
    double indicated = NAN;
    ExtraInputs extra;

    QString name(int x) const { return layout->names.value(stats->channels.value(x)); }
    // The standard of channel x's own collector (the run's worst when the
    // collector's record is not there).
    const StandardData &own(int x) const
    {
        if (standard->perCollector.isEmpty() || x < 0 || x >= stats->channels.size())
            return *standard;
        const int c = layout->collectors.value(stats->channels[x], 1) - 1;
        return c >= 0 && c < standard->perCollector.size() ? standard->perCollector[c] : *standard;
    }
    const ChannelStats &at(int x) const { return stats->each[x]; }
    bool any() const { return stats->scans > 0; }
    // The channel with the largest (or smallest) reading, the first of equals.
    int extreme(bool largest) const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x) {
            const ChannelStats &c = stats->each[x];
            if (c.n == 0)
                continue;
            if (best < 0 || (largest ? c.max > at(best).max : c.min < at(best).min))
                best = x;
        }
        return qMax(best, 0);
    }
    // The channel with the largest range, or largest / smallest mean.
    int widest() const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x)
            if (at(x).n > 0 && (best < 0 || at(x).range() > at(best).range()))
                best = x;
        return qMax(best, 0);
    }
    int byMean(bool largest) const
    {
        int best = -1;
        for (int x = 0; x < stats->each.size(); ++x)
            if (at(x).n > 0 && (best < 0 || (largest ? at(x).average() > at(best).average()
                                                     : at(x).average() < at(best).average())))
                best = x;
        return qMax(best, 0);
    }
};

const double kSqrt2 = std::sqrt(2.0);

// A deviation from the set value of one extreme reading of channel x: its
// own standard with its stability, the set value's resolution, s.
Budget deviationBudget(const KindContext &k, int x)
{
    Budget b = readingBudget(k.own(x), k.kind, 1, k.at(x), k.name(x), 1, true);
    b.components << stabilityTerm(k.own(x), k.kind) << settingTerm(k.own(x), k.kind);
    return b;
}

QVector<EvaluatedFigure> deviationFigures(const KindContext &k)
{
    QVector<EvaluatedFigure> out;
    for (bool upper : {true, false}) {
        const int x = k.extreme(upper);
        const double extreme = k.any() ? (upper ? k.at(x).max : k.at(x).min) : NAN;
        out << makeFigure(upper ? QStringLiteral("upper") : QStringLiteral("lower"),
                          upper ? QStringLiteral("上偏差") : QStringLiteral("下偏差"),
                          extreme - k.set,
                          deviationBudget(k, x));
        if (k.any() && std::isnan(k.set))
            out.last().why = QStringLiteral("设定值不是数字");
    }
    return out;
}

EvaluatedFigure uniformityFigure(const KindContext &k)
{
    // A spread over locations needs two of them at least: one location's
    // "0.0" is no uniformity.
    int located = 0;
    for (int x = 0; x < k.stats->each.size(); ++x)
        located += k.at(x).n > 0 ? 1 : 0;
    EvaluatedFigure f = makeFigure(
        QStringLiteral("uniformity"), QStringLiteral("均匀度"),
        k.any() && located >= 2 ? k.stats->rangeSum / k.stats->scans : NAN,
        readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    if (k.any() && located < 2)
        f.why = oneLocationText();
    return f;
}

QVector<EvaluatedFigure> jjfFigures(const KindContext &k, bool gbt)
{
    QVector<EvaluatedFigure> out = deviationFigures(k);
    out << uniformityFigure(k);
    const int x = gbt ? k.widest() : k.centre;
    out << makeFigure(QStringLiteral("fluctuation"), QStringLiteral("波动度(±)"),
                      k.any() ? k.at(x).range() / 2 : NAN,
                      readingBudget(k.own(x), k.kind, kSqrt2 / 2, k.at(x), k.name(x), 0.5),
                      true);
    return out;
}

QVector<EvaluatedFigure> iecFigures(const KindContext &k)
{
    QVector<EvaluatedFigure> out;
    const int wide = k.widest();
    out << makeFigure(QStringLiteral("fluctuation"), QStringLiteral("波动度"),
                      k.any() ? k.at(wide).range() : NAN,
                      readingBudget(k.own(wide), k.kind, kSqrt2, k.at(wide), k.name(wide), 1));
    const int hi = k.byMean(true), lo = k.byMean(false);
    out << makeFigure(
        QStringLiteral("gradient"), QStringLiteral("梯度"),
        k.any() ? k.at(hi).average() - k.at(lo).average() : NAN,
        readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    double sum = 0;
    int n = 0;
    for (const ChannelStats &c : k.stats->each)
        if (c.n > 0) {
            sum += c.average();
            ++n;
        }
    const double achieved = n ? sum / n : NAN;
    Budget b = readingBudget(*k.standard, k.kind, 1, k.at(k.centre), k.name(k.centre), 1);
    b.components << stabilityTerm(*k.standard, k.kind);
    out << makeFigure(QStringLiteral("achieved"), QStringLiteral("实现值"), achieved, b);
    b.components << settingTerm(*k.standard, k.kind);
    out << makeFigure(QStringLiteral("deviation"), QStringLiteral("实现值偏差"), achieved - k.set,
                      b);
    if (k.any() && std::isnan(k.set))
        out.last().why = QStringLiteral("设定值不是数字");
    return out;
}

QVector<EvaluatedFigure> dkdFigures(const KindContext &k)
{
    const ChannelStats &o = k.at(k.centre);
    double inhomogeneity = NAN;
    if (k.any()) {
        inhomogeneity = 0;
        for (const ChannelStats &c : k.stats->each)
            if (c.n > 0)
                inhomogeneity = qMax(inhomogeneity, std::fabs(c.average() - o.average()));
    }
    const double instability = o.n > 0 ? qMax(o.max - o.average(), o.average() - o.min) : NAN;
    DkdCorrectionInputs in;
    in.referenceMean = o.average();
    in.referenceSd = o.sd();
    in.referenceCount = o.n;
    in.indicated = k.indicated;
    double u = 0, kk = 0, r = 0;
    const bool t = k.kind == Kind::Temperature;
    const StandardData &centre = k.own(k.centre);
    if (numberOf(t ? centre.uncertaintyT : centre.uncertaintyH, &u) &&
        numberOf(t ? centre.kT : centre.kH, &kk)) {
        in.standardU = u;
        in.standardK = kk;
    }
    if (numberOf(t ? centre.resolutionT : centre.resolutionH, &r))
        in.standardResolution = r;
    in.inhomogeneity = inhomogeneity;
    in.instability = instability;
    in.extra = k.extra;
    // The standard's drift, when not entered here, is its recorded stability.
    double stability = NAN;
    if (std::isnan(in.extra.drift) &&
        numberOf(t ? centre.stabilityT : centre.stabilityH, &stability) && stability >= 0)
        in.extra.drift = stability;
    EvaluatedFigure correction = dkdCorrection(in);
    if (!k.any()) {
        correction.figure = Figure();
        correction.why = QStringLiteral("无数据");
    }
    correction.budget.components[0].note =
        QStringLiteral("参考位置（通道 %1）的平均值，n=%2").arg(k.name(k.centre)).arg(o.n);
    QVector<EvaluatedFigure> out{correction};
    out << makeFigure(QStringLiteral("inhomogeneity"), QStringLiteral("不均匀性"), inhomogeneity,
                      readingBudget(*k.standard, k.kind, kSqrt2, o, k.name(k.centre), 1));
    out << makeFigure(QStringLiteral("instability"), QStringLiteral("不稳定性"), instability,
                      readingBudget(k.own(k.centre), k.kind, kSqrt2, o, k.name(k.centre), 1));
    return out;
}

QVector<EvaluatedFigure> recordedFigures(const KindContext &k, const KindFigures &f)
{
    QVector<EvaluatedFigure> out;
    const int up = k.extreme(true), down = k.extreme(false);
    auto from = [&](const QString &id, const QString &name, const Figure &figure, Budget b,
                    bool pm = false) {
        EvaluatedFigure e = makeFigure(id, name, figure.ok ? figure.value : NAN, std::move(b), pm);
        out << e;
    };
    from(QStringLiteral("upper"), QStringLiteral("上偏差"), f.upper,
         readingBudget(k.own(up), k.kind, 1, k.at(up), k.name(up), 1, true));
    from(QStringLiteral("lower"), QStringLiteral("下偏差"), f.lower,
         readingBudget(k.own(down), k.kind, 1, k.at(down), k.name(down), 1, true));
    from(QStringLiteral("uniformity"), QStringLiteral("均匀度"), f.uniformity,
         readingBudget(*k.standard, k.kind, kSqrt2, k.at(k.centre), k.name(k.centre), 1));
    from(QStringLiteral("fluctuation"), QStringLiteral("波动度(±)"), f.fluctuation,
         readingBudget(k.own(k.centre), k.kind, kSqrt2 / 2, k.at(k.centre), k.name(k.centre),
                       0.5),
         true);
    EvaluatedFigure spread = makeFigure(QStringLiteral("spread"), QStringLiteral("不确定度(k=2)"),
                                        f.spread.ok ? f.spread.value : NAN, Budget());
    spread.hasBudget = false;
    if (spread.figure.ok)
        spread.why = QStringLiteral("记录中按此值打印，不另作评定");
    out << spread;
    return out;
}

int centreIndex(const KindStats &k, const ChannelLayout &layout, const QString &name)
{
    for (int x = 0; x < k.channels.size(); ++x)
        if (layout.names.value(k.channels[x]) == name)
            return x;
    return 0;
}

QVector<Evaluation> evaluateMethods(const Calibration &c, const QVector<PointResult> &recorded,
                                    const StandardData &standard, const EvaluationSettings &s,
                                    const QList<Method> &methods, const std::atomic<bool> *cancel)
{
    bool needWindow = false, needWhole = false;
    for (Method m : methods) {
        const bool whole = m == Method::Recorded || s.windowMinutes <= 0;
        needWhole = needWhole || whole;
        needWindow = needWindow || !whole;
    }
    const QVector<PointStats> wholeStats =
        needWhole ? pointStats(c, 0, cancel) : QVector<PointStats>();
    const QVector<PointStats> windowStats =
        needWindow ? pointStats(c, s.windowMinutes, cancel) : QVector<PointStats>();
    QVector<Evaluation> out;
    const bool stopped = cancel && cancel->load(std::memory_order_relaxed);
    for (Method m : methods) {
        Evaluation e;
        e.method = m;
        e.cancelled = stopped;
        const bool whole = m == Method::Recorded || s.windowMinutes <= 0;
        e.windowMinutes = whole ? 0 : s.windowMinutes;
        const QVector<PointStats> &stats = whole ? wholeStats : windowStats;
        for (int p = 1; p <= stats.size() && !stopped; ++p) {
            const PointStats &ps = stats[p - 1];
            PointEvaluation pe;
            pe.point = p;
            pe.samples = ps.samples;
            pe.first = ps.first;
            pe.last = ps.last;
            for (Kind kind : {Kind::Temperature, Kind::Humidity}) {
                const bool t = kind == Kind::Temperature;
                KindEvaluation &ke = t ? pe.t : pe.h;
                KindContext k;
                k.kind = kind;
                k.stats = t ? &ps.t : &ps.h;
                k.layout = &c.layout;
                k.standard = &standard;
                ke.kind = kind;
                ke.set = t ? setPointT(c.header, p) : setPointH(c.header, p);
                double set = NAN;
                if (numberOf(ke.set, &set))
                    k.set = set;
                k.centre = centreIndex(*k.stats, c.layout, t ? s.centreT : s.centreH);
                k.indicated = (t ? s.indicatedT : s.indicatedH).value(p, NAN);
                k.extra = t ? s.inputsT : s.inputsH;
                ke.channels = k.stats->channels.size();
                ke.scans = k.stats->scans;
                ke.centre = ke.channels ? k.name(k.centre) : QString();
                ke.indicated = k.indicated;
                if (ke.channels == 0)
                    continue; // no channel of this kind: no figures
                switch (m) {
                case Method::Recorded: {
                    const PointResult r = recorded.value(p - 1);
                    ke.figures = recordedFigures(k, t ? r.t : r.h);
                    break;
                }
                case Method::Jjf1101:
                    ke.figures = jjfFigures(k, false);
                    break;
                case Method::Gbt5170:
                    ke.figures = jjfFigures(k, true);
                    break;
                case Method::Iec60068:
                    ke.figures = iecFigures(k);
                    break;
                case Method::Dkd57:
                    ke.figures = dkdFigures(k);
                    break;
                }
            }
            e.points << pe;
        }
        out << e;
    }
    return out;
}

} // namespace

EvaluatedFigure dkdCorrection(const DkdCorrectionInputs &in)
{
    // An input nobody entered is unknown, never 0: the figure then has no U.
    auto given = [](double v) {
        return std::isfinite(v) ? QStringLiteral("半宽，操作者给出")
                                : QStringLiteral("未给出（可忽略时输入 0）");
    };
    Budget b;
    Component reference;
    reference.name = QStringLiteral("参考位置读数");
    reference.note = QStringLiteral("参考位置的平均值，n=%1").arg(in.referenceCount);
    reference.known = std::isfinite(in.referenceSd) && in.referenceCount > 0;
    reference.value = reference.known ? in.referenceSd : 0;
    reference.divisor = in.referenceCount > 0 ? std::sqrt(double(in.referenceCount)) : 1;
    reference.dof = in.referenceCount > 1 ? in.referenceCount - 1 : INFINITY;
    b.components << reference;

    Component calibration;
    calibration.name = QStringLiteral("标准器校准");
    calibration.known = std::isfinite(in.standardU) && std::isfinite(in.standardK) &&
                        in.standardU >= 0 && in.standardK > 0;
    calibration.value = calibration.known ? in.standardU : 0;
    calibration.divisor = calibration.known ? in.standardK : 1;
    calibration.note = calibration.known
                           ? QStringLiteral("证书 U=%1, k=%2").arg(in.standardU).arg(in.standardK)
                           : QStringLiteral("采集器记录中没有扩展不确定度或 k");
    b.components << calibration;
    b.components << halfWidth(QStringLiteral("标准器漂移"), in.extra.drift,
                              given(in.extra.drift));
    b.components << resolutionTerm(in.standardResolution, std::isfinite(in.standardResolution),
                                   QStringLiteral("标准器分辨力"),
                                   QStringLiteral("分辨力，半宽取其一半"), 1);
    b.components << halfWidth(QStringLiteral("自热"), in.extra.selfHeating,
                              given(in.extra.selfHeating));
    Component indication;
    indication.name = QStringLiteral("示值");
    indication.known = std::isfinite(in.indicated) && std::isfinite(in.extra.indication);
    indication.value = indication.known ? in.extra.indication : 0;
    indication.note = !std::isfinite(in.indicated)
                          ? QStringLiteral("没有输入示值")
                          : indication.known
                                ? QStringLiteral("示值 %1 的标准不确定度，操作者给出")
                                      .arg(QString::number(in.indicated, 'f', 3))
                                : QStringLiteral("示值的标准不确定度未给出");
    b.components << indication;
    b.components << halfWidth(QStringLiteral("不均匀性"), in.inhomogeneity,
                              QStringLiteral("各位置平均值与参考位置之差的最大值"));
    b.components << halfWidth(QStringLiteral("不稳定性"), in.instability,
                              QStringLiteral("参考位置读数与其平均值之差的最大值"));
    b.components << halfWidth(QStringLiteral("辐射"), in.extra.radiation,
                              given(in.extra.radiation));
    b.components << halfWidth(QStringLiteral("负载"), in.extra.load,
                              given(in.extra.load));
    b.components << resolutionTerm(in.extra.displayResolution, true, QStringLiteral("示值分辨力"),
                                   std::isfinite(in.extra.displayResolution)
                                       ? QStringLiteral("设备显示的末位，操作者给出")
                                       : QStringLiteral("未给出"),
                                   1);
    EvaluatedFigure f = makeFigure(QStringLiteral("correction"), QStringLiteral("示值修正值"),
                                   in.referenceMean - in.indicated, std::move(b));
    if (!std::isfinite(in.indicated))
        f.why = QStringLiteral("没有输入示值");
    return f;
}

Evaluation evaluate(const Calibration &calibration, const QVector<PointResult> &recorded,
                    const StandardData &standard, const EvaluationSettings &settings,
                    const std::atomic<bool> *cancel)
{
    return evaluateMethods(calibration, recorded, standard, settings, {settings.method}, cancel)
        .value(0);
}

QVector<Evaluation> evaluateAll(const Calibration &calibration,
                                const QVector<PointResult> &recorded, const StandardData &standard,
                                const EvaluationSettings &settings)
{
    return evaluateMethods(calibration, recorded, standard, settings, allMethods(), nullptr);
}

} // namespace results
