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
inline const QString identifyM702 = QStringLiteral("0103100000058109");
inline const QString identifyM701 = QStringLiteral("0103100000050981");
inline const QString readM701 = QStringLiteral("010301000020EE45");
inline const QString measureM702 = QStringLiteral("0106101A00016D0D");
inline const QString speedM702 = QStringLiteral("0106000e000129c9");
inline const QString speed2Echo = QStringLiteral("0106000e000269c8");
inline const QString speed3Echo = QStringLiteral("0106000e0003a808");
} // namespace frame

QString identifyFrame(Family family);

namespace reply {
constexpr int identifyMin = 26;         // ten serial-number characters after the 3-byte header
constexpr int echo = 16;                // 8-byte echo of a single-register write
constexpr int mask = 26;                // 13-byte M702 mask reply
constexpr int typeAck = 14;             // 7-byte M702 type acknowledgement
constexpr int mxb = 34;                 // 17 bytes
constexpr int its90 = 66;               // 33 bytes
constexpr int readM701 = 138;           // 69 bytes: header, 16 floats, CRC
constexpr int longest = 6 + 64 * 8 + 4; // 64-channel M702 reading
} // namespace reply

// A built frame, or the reason none could be built.
struct Frame
{
    QString text;
    QString error;
    bool ok() const { return error.isEmpty(); }
    static Frame fail(const QString &why) { return Frame{QString(), why}; }
};

// Code tables; an empty text when the name is not in the table.
QString tcTypeCode(const QString &type);      // M701-TC register 0x000D
QString rtdWiringCode(const QString &wiring); // M701-RTD register 0x000C
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
// 16 upper-case hex digits, channel 164 first.
Frame channelMask(const QList<int> &channels);
Frame maskWrite(const QList<int> &channels);
// Four hex digits from probe type, sensor type, wiring and compensation.
Frame m702TypeValue(const QString &probeType, const QString &sensorType, const QString &wiring,
                    const QString &compensation);
Frame m702TypeWrite(int channel, const QString &typeValue);
Frame coldJunctionWrite(float temperature);

// A read reply is complete when ((L - 10) / 8) * 4 equals its byte count B
// (third byte; a 64-channel M702 reply carries 256 as 0) and L > 16.
bool readReplyComplete(const QString &replyHex);
// Number of floats a complete read reply carries.
int readReplyValueCount(const QString &replyHex);

} // namespace rtu
