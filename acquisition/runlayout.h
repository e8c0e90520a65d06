#pragma once

// The channel layout a run works with, captured once when it starts at the
// first point: the family, the channels of each collector as numbers, their
// kinds and counts, and the texts the header records. Decoding a reading
// into the run's values follows it.

#include "link/commands.h"
#include "storage/records.h"

#include <QList>
#include <QStringList>
#include <QVector>

namespace acquisition {

struct RunLayout
{
    rtu::Family family = rtu::Family::M702;
    QList<int> channelsA, channelsB; // channel numbers in table order
    QVector<bool> humidityA, humidityB;
    QList<int> countsA{0, 0, 0}, countsB{0, 0, 0};
    int secA = 0; // channel names stored with each sample
    // As the header records them.
    QString roadA, roadB, typesA, typesB;

    // From the selection and the channel tables.
    static RunLayout read();
    bool m702() const { return family == rtu::Family::M702; }
    // Values one collector's reading carries.
    int valuesOf(int collector) const;
    // The run's channels in table order: collector one's, then two's.
    QList<int> channels(bool two) const;
    QVector<bool> humidity(bool two) const;
    // "101" or, with two collectors, "1-101" and "2-101".
    QStringList names(bool two) const;
    // The channel names stored with a sample: the first secA channels.
    QString storedNames(bool two) const;

    // A collector's reading as values in the table order of its channels:
    // an M702 sends one value per enabled channel, ascending; an M701 its 16
    // channels at fixed places (with two collectors each supplies the sum of
    // its road counts). False when the reading does not fit.
    bool decode(int collector, bool two, const QByteArray &reading, QVector<float> *values) const;
};

} // namespace acquisition
