#pragma once

// The collectors' command table: literal frames, builders for assembled
// frames, code tables and the expected reply lengths (in hex characters).

#include "link/frames.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace rtu {

enum class Family { M702, M701TC, M701RTD };

// Collector page model text: "M702", "M701-TC", "M701-RTD".
bool familyFromModel(const QString &model, Family *family);
// Channel table probe type of the first row: "TC", "RTD", anything else M702.
Family familyFromProbeType(const QString &probeType);
CrcOrder crcOrderOf(Family family);
int firstChannel();
int lastChannel(Family family); // 164 for M702, 116 for the M701 pair
bool channelInRange(Family family, int channel);

namespace frame {
// The literal frames of the command table.
QByteArray identify(Family family); // read 0x1000-0x1004, the serial number
QByteArray readM701();              // read 0x0100-0x011F, the 16 values
QByteArray measureM702();           // write 0x101A := 1, answered with the readings
QByteArray speedM702();             // write 0x000E := 1, echoed
QByteArray speed2Echo();            // the echoes of 0x000E := 2 and 3
QByteArray speed3Echo();
} // namespace frame

namespace reply {
// Lengths in bytes of the replies the collectors send.
constexpr int echo = 8;       // echo of a single-register write
constexpr int mask = 13;      // M702 mask reply: slave, 0x10, 8, the mask, CRC
constexpr int typeAck = 7;    // M702 type acknowledgement
constexpr int mxb = 17;       // correction write reply
constexpr int its90 = 33;     // coefficient write reply
constexpr int readM701 = 69;  // header, 16 floats, CRC
constexpr int serial = 10;    // characters of a serial number
} // namespace reply

// The length in bytes of the reply that answers a write request, as the
// command table gives it for that request: the single-register echo (8), the
// M702 type acknowledgement (7), the mask (13), the linear correction (17),
// the ITS-90 coefficients (33). 0 when the table judges no reply (the
// cold-junction write) or the frame is none of its writes. Only the length is
// given: a reply of that length with the request's slave and function and a
// valid CRC answers it, whatever the bytes in between.
int writeReplyLength(const QByteArray &request);

// A built frame, or the reason none could be built.
struct Frame
{
    QByteArray bytes;
    QString error;
    bool ok() const { return error.isEmpty(); }
    QString hex() const { return hexText(bytes); } // traces and tests
    static Frame fail(const QString &why) { return Frame{QByteArray(), why}; }
};

// Code tables; -1 or an empty text when the name is not in the table.
int tcTypeCode(const QString &type);      // M701-TC register 0x000D
int rtdWiringCode(const QString &wiring); // M701-RTD register 0x000C
QString m702RtdDigit(const QString &sensorType);
QString m702WiringDigit(const QString &wiring);
QString m702TcDigit(const QString &sensorType);
QString m702CompensationDigit(const QString &compensation);

QStringList m702RtdTypes(); // the 11 resistance types of the editors
QStringList m702TcTypes();  // 16
QStringList m701TcTypes();  // 20

Frame tcTypeWrite(const QString &type);
Frame rtdWiringWrite(const QString &wiring);
Frame mxbWrite(Family family, int channel, float m, float b);
Frame its90Write(Family family, int channel, float r0, float a, float b, float c, float a4,
                 float b4);
// The eight mask bytes, channel 164's byte first.
Frame channelMask(const QList<int> &channels);
Frame maskWrite(const QList<int> &channels);
// The type register's two bytes from probe type, sensor type, wiring and
// compensation ("8220": PT100-385 in four-wire connection).
Frame m702TypeValue(const QString &probeType, const QString &sensorType, const QString &wiring,
                    const QString &compensation);
Frame m702TypeWrite(int channel, const QByteArray &typeValue);
Frame coldJunctionWrite(float temperature);

} // namespace rtu
