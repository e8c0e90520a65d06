#include "results/evaluation.h"

#include "results/methodkit.h"
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

using namespace detail;

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
