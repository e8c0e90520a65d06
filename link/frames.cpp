#include "link/frames.h"

#include <cstring>

namespace rtu {

quint16 modbusCrc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit) {
            if (crc & 1u)
                crc = static_cast<quint16>((crc >> 1) ^ 0xA001u);
            else
                crc = static_cast<quint16>(crc >> 1);
        }
    }
    return crc;
}

QByteArray withCrc(const QByteArray &body, CrcOrder order)
{
    const quint16 crc = modbusCrc16(body);
    const char low = char(crc & 0xFF), high = char(crc >> 8);
    QByteArray out = body;
    if (order == CrcOrder::LowFirst)
        out.append(low).append(high);
    else
        out.append(high).append(low);
    return out;
}

bool crcMatches(const QByteArray &frame)
{
    if (frame.size() < 4)
        return false;
    const quint16 crc = modbusCrc16(QByteArray::fromRawData(frame.constData(), frame.size() - 2));
    const quint8 a = quint8(frame[frame.size() - 2]);
    const quint8 b = quint8(frame[frame.size() - 1]);
    const quint8 low = crc & 0xff, high = crc >> 8;
    return (a == low && b == high) || (a == high && b == low);
}

QByteArray floatLE(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((bits >> (8 * i)) & 0xFF);
    return out;
}

float floatAt(const QByteArray &bytes, int at)
{
    if (at < 0 || at + 4 > bytes.size())
        return 0.0f;
    quint32 bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= quint32(quint8(bytes[at + i])) << (8 * i);
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

QByteArray be16(quint16 value)
{
    QByteArray out(2, '\0');
    out[0] = char(value >> 8);
    out[1] = char(value & 0xFF);
    return out;
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex()).toUpper();
}

QString formatValue(double value)
{
    return QString::number(value, 'f', 3);
}

QString asciiOf(const QByteArray &bytes)
{
    QString out;
    for (char c : bytes)
        out += QChar(quint8(c));
    return out;
}

} // namespace rtu
