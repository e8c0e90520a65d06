#pragma once

// Modbus RTU frames as hexadecimal text: CRC, float and text encodings.

#include <QByteArray>
#include <QString>

namespace rtu {

enum class CrcOrder {
    LowFirst,  // standard Modbus order, M702
    HighFirst, // M701-TC and M701-RTD
};

quint16 modbusCrc16(const QByteArray &bytes);

// The bytes a frame text denotes (case does not matter).
QByteArray frameBytes(const QString &text);

// Four upper-case digits: low byte then high byte.
QString crcHex(const QString &frameText);
// Four upper-case digits: high byte then low byte.
QString crcHexSwapped(const QString &frameText);
QString withCrc(const QString &frameText, CrcOrder order);

// Eight hex digits of the IEEE-754 single, least significant byte first.
QString floatHexLE(float value);
// Inverse of floatHexLE; false when `text` is not eight hex digits.
bool floatFromHexLE(const QString &text, float *value);

// Reading from a reply: blanks are removed; text shorter than eight digits
// or not hexadecimal gives 0.
float readingFromHexLE(const QString &text);

// Measured values and results: fixed point, exactly three decimals.
QString formatValue(double value);

// Consecutive hex pairs as character codes.
QString asciiFromHex(const QString &hex);

// Four zero-padded lower-case hex digits.
QString registerAddress(int address);

// True when the last two bytes of the reply are its CRC in either byte order
// (the families order it differently).
bool replyCrcMatches(const QString &replyHex);

} // namespace rtu
