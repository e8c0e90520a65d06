#pragma once

// Modbus RTU frames as bytes: the CRC, floats as the collectors carry them,
// and hexadecimal text only for traces.

#include <QByteArray>
#include <QString>

namespace rtu {

enum class CrcOrder {
    LowFirst,  // standard Modbus order, M702
    HighFirst, // M701-TC and M701-RTD
};

quint16 modbusCrc16(const QByteArray &bytes);
// `body` followed by its CRC in the given byte order.
QByteArray withCrc(const QByteArray &body, CrcOrder order);
// True when the last two bytes are the CRC of the others, in either byte
// order (the families order it differently).
bool crcMatches(const QByteArray &frame);

// The IEEE-754 single, least significant byte first.
QByteArray floatLE(float value);
// The float of the four bytes from `at` (least significant first).
float floatAt(const QByteArray &bytes, int at);
// A 16-bit value, most significant byte first (register addresses, counts).
QByteArray be16(quint16 value);

// Upper-case hexadecimal text of the bytes: traces and tests only.
QString hexText(const QByteArray &bytes);

// Measured values and results: fixed point, exactly three decimals.
QString formatValue(double value);

// Bytes as character codes (the serial number a collector reports).
QString asciiOf(const QByteArray &bytes);

} // namespace rtu
