#include "link/frames.h"

#include <QRegularExpression>
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

QByteArray frameBytes(const QString &text)
{
    return QByteArray::fromHex(text.toLatin1());
}

static QString byteHex(quint8 b)
{
    return QStringLiteral("%1").arg(uint(b), 2, 16, QLatin1Char('0')).toUpper();
}

QString crcHex(const QString &frameText)
{
    const quint16 crc = modbusCrc16(frameBytes(frameText));
    return byteHex(crc & 0xFF) + byteHex(crc >> 8);
}

QString crcHexSwapped(const QString &frameText)
{
    const quint16 crc = modbusCrc16(frameBytes(frameText));
    return byteHex(crc >> 8) + byteHex(crc & 0xFF);
}

QString withCrc(const QString &frameText, CrcOrder order)
{
    return frameText + (order == CrcOrder::LowFirst ? crcHex(frameText) : crcHexSwapped(frameText));
}

QString floatHexLE(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const QString be = QStringLiteral("%1").arg(bits, 8, 16, QLatin1Char('0'));
    return be.mid(6, 2) + be.mid(4, 2) + be.mid(2, 2) + be.mid(0, 2);
}

bool floatFromHexLE(const QString &text, float *value)
{
    if (text.size() != 8)
        return false;
    const QString be = text.mid(6, 2) + text.mid(4, 2) + text.mid(2, 2) + text.mid(0, 2);
    bool ok = false;
    const quint32 bits = be.toUInt(&ok, 16);
    if (!ok)
        return false;
    std::memcpy(value, &bits, sizeof bits);
    return true;
}

float readingFromHexLE(const QString &text)
{
    QString t = text;
    t.remove(QLatin1Char(' '));
    float v = 0.0f;
    if (t.size() < 8 || !floatFromHexLE(t.left(8), &v))
        return 0.0f;
    return v;
}

QString formatValue(double value)
{
    return QString::number(value, 'f', 3);
}

QString asciiFromHex(const QString &hex)
{
    QString out;
    for (int i = 0; i + 1 < hex.size(); i += 2)
        out += QChar(hex.mid(i, 2).toUShort(nullptr, 16));
    return out;
}

QString registerAddress(int address)
{
    return QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0'));
}

bool replyCrcMatches(const QString &replyHex)
{
    if (replyHex.size() < 8 || replyHex.size() % 2 != 0)
        return false;
    const QString body = replyHex.left(replyHex.size() - 4);
    const QString crc = replyHex.right(4).toUpper();
    return crc == crcHex(body) || crc == crcHexSwapped(body);
}

} // namespace rtu
