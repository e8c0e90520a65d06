#pragma once

// The chamber as a picture: the locations of a layout in the working
// space, and for one point and kind each location's mean deviation from
// the set value with its color on one diverging scale, the hottest and
// coldest marked, the centre ringed. Plain values: the drawing is the
// page's.

#include "results/calibration.h"
#include "results/evaluation.h"
#include "results/statistics.h"
#include "storage/records.h"

#include <QMap>
#include <QPointF>
#include <QRectF>
#include <QVector>
#include <cmath>

namespace results {

struct ChamberLayout
{
    QString kind;                       // "9", "15", "own"; empty: none recorded
    QList<storage::Location> locations; // in order, as numbered on documents
    QString centre;                     // the centre location's name
    double width = 1, depth = 1, height = 1; // metres, for the drawing's proportions
    bool isEmpty() const { return locations.isEmpty(); }
};

// An isometric view of the working space fitted into `area`: width to the
// right and down, depth to the left and down, height up, in the working
// space's proportions.
class ChamberProjection
{
public:
    ChamberProjection(const ChamberLayout &layout, const QRectF &area);
    QPointF operator()(double x, double y, double z) const;

private:
    QPointF raw(double x, double y, double z) const;
    double m_w, m_d, m_h, m_scale = 1;
    QPointF m_offset;
};

// The method's 9 locations (< 2 m³: the corners of the top and bottom
// planes, a tenth of each side in from the walls, and the centre O of the
// middle plane) or 15 (> 2 m³: the corners and centre of each of the three
// planes), or the operator's own (the first is the centre unless one is
// named "O").
ChamberLayout chamberLayout(const storage::EquipmentExtra &equipment);
// The working space's volume in m³; NaN when a side is missing.
double workingVolume(const storage::EquipmentExtra &equipment);
// Its width, depth and height in metres; empty unless all three are given.
QVector<double> workingSpace(const storage::EquipmentExtra &equipment);
// "9" below 2 m³, "15" from 2 m³, empty when the volume is unknown.
QString methodLayoutFor(double volume);

struct Rgb
{
    int r = 255, g = 255, b = 255;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};
// Blue at −scale, white at 0, red at +scale (clamped beyond); grey for no
// value.
Rgb divergingColor(double value, double scale);

struct ChamberDot
{
    QString location, channel; // "A", "1-103"
    storage::Location at;
    double mean = NAN, deviation = NAN; // NaN: no reading of the point
    Rgb color;
    bool hottest = false, coldest = false, centre = false;
};

struct ChamberPicture
{
    QVector<ChamberDot> dots;
    double scale = 0;     // the largest |deviation|, the legend's end
    QStringList unplaced; // channels of the kind without a location
};

// A channel's mean over the point so far, by its name ("1-103", or "103"
// with one collector).
struct ChannelMean
{
    QString name;
    Kind kind = Kind::Temperature;
    double mean = NAN;
};
// The picture of means: each channel of `kind` with a location
// (`locationOf`: channel name → location) becomes a dot; `set` NaN: no
// deviations.
ChamberPicture chamberPicture(const ChamberLayout &layout,
                              const QMap<QString, QString> &locationOf,
                              const QVector<ChannelMean> &channels, Kind kind, double set);
// Channel name → location from the locations of collector one and two by
// channel number; a name without "1-"/"2-" is collector one's.
QMap<QString, QString> locationsByName(const QStringList &names,
                                       const QMap<QString, QString> &locationsA,
                                       const QMap<QString, QString> &locationsB);

// The picture of `point` (1-based) for `kind`: each channel of the kind with
// a location (`locationsA`/`locationsB`: channel number → location name, of
// collector one and two) becomes a dot.
ChamberPicture chamberPicture(const Calibration &calibration, const ChamberLayout &layout,
                              const QMap<QString, QString> &locationsA,
                              const QMap<QString, QString> &locationsB, int point, Kind kind);

// The method's reference position is the centre: a centre channel the
// operator left open is the channel of that kind placed at the layout's
// centre location (collector one first), when there is one.
void centresFromLayout(EvaluationSettings *settings, const ChannelLayout &channels,
                       const ChamberLayout &layout, const QMap<QString, QString> &locationsA,
                       const QMap<QString, QString> &locationsB);

} // namespace results
