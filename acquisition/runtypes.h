#pragma once

// The values a calibration run deals in: its state, a sample, the
// per-collector counters and why a reply was refused. Numbers and enums;
// the pages make the texts.

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

namespace acquisition {

enum class RunState { Idle, Starting, Running, Stopping };

// Why a collector's reply was not taken.
enum class Refusal {
    None,
    Incomplete, // a reply that stopped before its end
    Crc,        // its CRC did not hold
    Function,   // a function code nobody asked for
    Exception,  // the collector answered with an exception code
    WrongCount, // it carries another number of values than the layout has channels
};

struct CollectorCounters
{
    int answered = 0;          // ticks with an accepted reading
    int missed = 0;            // ticks without any reply
    int rejected = 0;          // replies refused
    int consecutiveMissed = 0; // ticks in a row without any reply
    int lastException = -1;    // code of the last exception reply, -1: none
    Refusal lastRefusal = Refusal::None;
    qint64 lastGood = 0; // when the last reading was accepted (ms since the epoch), 0: never
};

// One reading of every channel of the run.
struct RunSample
{
    qint64 msecs = 0; // when it was decoded, ms since the epoch
    int point = 0;    // calibration point, from 1
    QVector<float> values;
    bool stored = false;

    QString timeText() const; // "yyyy-MM-dd HH:mm:ss", shown and stored
};

// "检点k", and k back from such a label (0 when it is none).
QString pointLabel(int point);
int pointOfLabel(const QString &label);

struct StartRequest
{
    bool two = false;
    QString port1, port2;
    int point = 1;
    int intervalSeconds = 120;
    // Readings of the first seconds of the point are shown, not stored: the
    // chamber is still on its way to the set value.
    int settleSeconds = 0;
    QString collectorSerial; // collector one, recorded in the header
    QString collectorSerial2; // collector two, when there is one
};

} // namespace acquisition

Q_DECLARE_METATYPE(acquisition::RunState)
