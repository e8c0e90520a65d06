#include "results/chamber.h"

#include <QVarLengthArray>
#include <algorithm>
#include <cmath>

namespace results {

namespace {

double side(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) && v > 0 ? v : NAN;
}

// Corners a tenth of each side in from the walls.
constexpr double kIn = 0.1, kOut = 0.9;

QList<storage::Location> plane(const QStringList &names, double z, bool withCentre)
{
    QList<storage::Location> out{{names.value(0), kIn, kIn, z},
                                 {names.value(1), kOut, kIn, z},
                                 {names.value(2), kOut, kOut, z},
                                 {names.value(3), kIn, kOut, z}};
    if (withCentre)
        out << storage::Location{names.value(4), 0.5, 0.5, z};
    return out;
}

} // namespace

ChamberProjection::ChamberProjection(const ChamberLayout &layout, const QRectF &area)
    : m_w(layout.width), m_d(layout.depth), m_h(layout.height)
{
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (int corner = 0; corner < 8; ++corner) {
        const QPointF p = raw(corner & 1, (corner >> 1) & 1, (corner >> 2) & 1);
        minX = qMin(minX, p.x());
        maxX = qMax(maxX, p.x());
        minY = qMin(minY, p.y());
        maxY = qMax(maxY, p.y());
    }
    m_scale = qMin(area.width() / (maxX - minX), area.height() / (maxY - minY));
    m_offset = QPointF(area.center().x() - (minX + maxX) / 2 * m_scale,
                       area.center().y() - (minY + maxY) / 2 * m_scale);
}

QPointF ChamberProjection::raw(double x, double y, double z) const
{
    const double c = std::cos(M_PI / 6);
    return QPointF((x * m_w - y * m_d) * c, (x * m_w + y * m_d) * 0.5 - z * m_h);
}

QPointF ChamberProjection::operator()(double x, double y, double z) const
{
    return raw(x, y, z) * m_scale + m_offset;
}

double workingVolume(const storage::EquipmentExtra &e)
{
    return side(e.width) * side(e.depth) * side(e.height);
}

QVector<double> workingSpace(const storage::EquipmentExtra &e)
{
    if (!std::isfinite(workingVolume(e)))
        return {};
    return {side(e.width), side(e.depth), side(e.height)};
}

QString methodLayoutFor(double volume)
{
    if (!std::isfinite(volume))
        return QString();
    return volume < 2 ? QStringLiteral("9") : QStringLiteral("15");
}

ChamberLayout chamberLayout(const storage::EquipmentExtra &e)
{
    ChamberLayout out;
    out.kind = e.layout;
    for (auto [text, at] : {std::pair<const QString &, double *>{e.width, &out.width},
                            {e.depth, &out.depth},
                            {e.height, &out.height}})
        if (const double v = side(text); std::isfinite(v))
            *at = v;
    const QString centre = QStringLiteral("O");
    if (e.layout == QLatin1String("9")) {
        out.locations << plane({"A", "B", "C", "D"}, kOut, false)
                      << storage::Location{centre, 0.5, 0.5, 0.5}
                      << plane({"E", "F", "G", "H"}, kIn, false);
        out.centre = centre;
    } else if (e.layout == QLatin1String("15")) {
        out.locations << plane({"A", "B", "C", "D", "J"}, kOut, true)
                      << plane({"K", "L", "M", "N", centre}, 0.5, true)
                      << plane({"E", "F", "G", "H", "P"}, kIn, true);
        out.centre = centre;
    } else if (e.layout == QLatin1String("own")) {
        out.locations = e.own;
        for (const storage::Location &l : e.own)
            if (l.name == centre)
                out.centre = centre;
        if (out.centre.isEmpty() && !e.own.isEmpty())
            out.centre = e.own.first().name;
    }
    return out;
}

Rgb divergingColor(double value, double scale)
{
    if (!std::isfinite(value))
        return Rgb{170, 170, 170};
    const double t = scale > 0 ? qBound(-1.0, value / scale, 1.0) : 0.0;
    // White to red above, white to blue below.
    const int fade = int(std::lround(255 * (1 - std::fabs(t))));
    return t >= 0 ? Rgb{255, fade, fade} : Rgb{fade, fade, 255};
}

QMap<QString, QString> locationsByName(const QStringList &names,
                                       const QMap<QString, QString> &locationsA,
                                       const QMap<QString, QString> &locationsB)
{
    QMap<QString, QString> out;
    for (const QString &name : names) {
        const bool two = name.startsWith(QLatin1String("2-"));
        const QString number = name.contains(QLatin1Char('-')) ? name.section(QLatin1Char('-'), 1)
                                                               : name;
        const QString where = (two ? locationsB : locationsA).value(number);
        if (!where.isEmpty())
            out.insert(name, where);
    }
    return out;
}

ChamberPicture chamberPicture(const ChamberLayout &layout,
                              const QMap<QString, QString> &locationOf,
                              const QVector<ChannelMean> &channels, Kind kind, double set)
{
    ChamberPicture out;
    for (const ChannelMean &ch : channels) {
        if (ch.kind != kind)
            continue;
        const QString where = locationOf.value(ch.name);
        const auto at = std::find_if(layout.locations.cbegin(), layout.locations.cend(),
                                     [&](const storage::Location &l) { return l.name == where; });
        if (where.isEmpty() || at == layout.locations.cend()) {
            out.unplaced << ch.name;
            continue;
        }
        ChamberDot d;
        d.location = where;
        d.channel = ch.name;
        d.at = *at;
        d.centre = where == layout.centre;
        d.mean = ch.mean;
        d.deviation = ch.mean - set; // NaN with either
        out.dots << d;
    }
    // The hottest and coldest by mean; one scale for every dot.
    int hot = -1, cold = -1;
    for (int i = 0; i < out.dots.size(); ++i) {
        const ChamberDot &d = out.dots[i];
        if (!std::isfinite(d.mean))
            continue;
        if (hot < 0 || d.mean > out.dots[hot].mean)
            hot = i;
        if (cold < 0 || d.mean < out.dots[cold].mean)
            cold = i;
        if (std::isfinite(d.deviation))
            out.scale = qMax(out.scale, std::fabs(d.deviation));
    }
    if (hot >= 0 && hot != cold) {
        out.dots[hot].hottest = true;
        out.dots[cold].coldest = true;
    }
    for (ChamberDot &d : out.dots)
        d.color = divergingColor(d.deviation, out.scale);
    return out;
}

ChamberPicture chamberPicture(const Calibration &c, const ChamberLayout &layout,
                              const QMap<QString, QString> &locationsA,
                              const QMap<QString, QString> &locationsB, int point, Kind kind)
{
    const ChannelLayout &channels = c.layout;
    const int C = channels.channelCount;
    // The point's mean of each channel.
    QVector<double> sum(C, 0);
    QVector<int> n(C, 0);
    const QVector<QVector<int>> byPoint = samplesByPoint(c);
    QVarLengthArray<double, 128> values(qMax(1, C));
    for (int i : byPoint.value(point - 1)) {
        const StoredSample &s = c.samples[i];
        readValues(s.coldata.constData(), s.coldata.size(), values.data(), C);
        for (int j = 0; j < C; ++j)
            if (std::isfinite(values[j])) {
                sum[j] += values[j];
                ++n[j];
            }
    }
    QVector<ChannelMean> means;
    for (int j = 0; j < C; ++j)
        means << ChannelMean{channels.names.value(j), channels.kinds.value(j),
                             n[j] ? sum[j] / n[j] : NAN};
    bool okSet = false;
    const double set = (kind == Kind::Temperature ? setPointT(c.header, point)
                                                  : setPointH(c.header, point))
                           .trimmed()
                           .toDouble(&okSet);
    return chamberPicture(layout, locationsByName(channels.names, locationsA, locationsB), means,
                          kind, okSet ? set : NAN);
}

void centresFromLayout(EvaluationSettings *settings, const ChannelLayout &channels,
                       const ChamberLayout &layout, const QMap<QString, QString> &locationsA,
                       const QMap<QString, QString> &locationsB)
{
    if (layout.centre.isEmpty())
        return;
    const QMap<QString, QString> where = locationsByName(channels.names, locationsA, locationsB);
    for (const bool humidity : {false, true}) {
        QString &centre = humidity ? settings->centreH : settings->centreT;
        if (!centre.isEmpty())
            continue;
        for (const QString &name :
             channelsOfKind(channels, humidity ? Kind::Humidity : Kind::Temperature))
            if (where.value(name) == layout.centre) {
                centre = name;
                break;
            }
    }
}

} // namespace results
