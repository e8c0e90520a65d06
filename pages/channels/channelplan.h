#pragma once

// Channel tables and the frames a layout download sends, as plain functions:
// the row checks, the per-family sequences, the counts and the kinds.

#include "link/commands.h"
#include "storage/statements.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace channels {

// Column indexes of a channel row (the channel table and deviceA/deviceB).
enum Column {
    Number = 0,
    ProbeType,
    SensorType,
    Wiring,
    M,
    B,
    R0,
    Compensation,
    ColdJunction,
    CoefA,
    CoefB,
    CoefC,
    CoefA4,
    CoefB4,
    ColumnCount
};

QStringList headers();
storage::Row defaultRow(int index);                   // channel 101 + index
QStringList probeTypes();                             // editor items of column 1
QStringList sensorTypesFor(const QString &probeType); // empty: no editor
QStringList wirings();                                // editor items of column 3
QStringList compensations();                          // editor items of column 7

// A row after its probe type was changed to `probeType`: the cells that do
// not apply to it are emptied (as the batch dialog leaves them), and those
// it needs but that hold nothing it could use get the usual defaults.
storage::Row withProbeType(storage::Row row, const QString &probeType);

// Compares the texts: "101" and "0101" are different numbers.
bool channelNumbersUnique(const QStringList &numbers);

// One "1" per humidity row ("直流电压-H"), "0" otherwise.
QString humidityFlags(const storage::Rows &rows);

// How a reply to one frame is judged (its length in bytes; 0: not judged).
struct Step
{
    QByteArray frame;
    QString trace;      // debug prefix, e.g. "sendMB:"
    int expected = 0;   // reply length that confirms the frame
    bool fatal = false; // a wrong reply ends the download (first frame)
    int pauseMs = 200;
    int channel = 0; // channel the frame configures (0: the whole collector)
};

struct Plan
{
    rtu::Family family = rtu::Family::M702;
    QList<Step> steps;
    QString count; // number of rows
    QString road;  // counts by kind, each followed by ";"
    QString kinds; // humidity flags
    QString error; // why nothing may be sent; empty when the plan is good
    bool ok() const { return error.isEmpty(); }
};

// Checks every row for what its family's sequence uses and builds the frames.
Plan planDownload(const storage::Rows &rows);

// A reply confirms a step when it has the expected length and a valid CRC.
bool confirms(const Step &step, const QByteArray &reply);

} // namespace channels
