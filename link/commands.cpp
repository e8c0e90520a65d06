#include "link/commands.h"

#include <algorithm>

namespace rtu {

namespace {

QString lookup(const QList<QPair<QString, QString>> &table, const QString &key)
{
    for (const auto &entry : table)
        if (entry.first == key)
            return entry.second;
    return QString();
}

const QList<QPair<QString, QString>> &tcTypeTable()
{
    static const QList<QPair<QString, QString>> t = {
        {"A", "0001"}, {"B", "0002"},  {"C", "0003"},  {"D", "0004"},     {"E", "0005"},
        {"G", "0006"}, {"J", "0007"},  {"K", "0008"},  {"L", "0009"},     {"M", "000A"},
        {"N", "000B"}, {"P", "000C"},  {"R", "000D"},  {"S", "000E"},     {"T", "000F"},
        {"U", "0010"}, {"BP", "0011"}, {"XK", "0012"}, {"Au-Pt", "0013"}, {"Pt-Pd", "0014"}};
    return t;
}

const QList<QPair<QString, QString>> &rtdDigitTable()
{
    static const QList<QPair<QString, QString>> t = {
        {"Ni100-618", "0"},  {"Ni120-672", "1"}, {"PT100-385", "2"}, {"PT100-3926", "3"},
        {"PT100-3916", "4"}, {"Pt200-385", "5"}, {"Pt500-385", "6"}, {"Pt1000-385", "7"},
        {"Cu10-427", "8"},   {"Cu50-428", "9"},  {"Cu100-428", "A"}, {"ITS90", "B"}};
    return t;
}

const QList<QPair<QString, QString>> &tcDigitTable()
{
    static const QList<QPair<QString, QString>> t = {
        {"A", "0"}, {"B", "1"}, {"C", "2"},     {"D", "3"},    {"E", "4"}, {"G", "5"},
        {"J", "6"}, {"K", "7"}, {"M", "8"},     {"N", "9"},    {"P", "A"}, {"R", "B"},
        {"S", "C"}, {"T", "D"}, {"Au-Pt", "E"}, {"Pt-Pd", "F"}};
    return t;
}

QStringList keysOf(const QList<QPair<QString, QString>> &table)
{
    QStringList keys;
    for (const auto &entry : table)
        keys << entry.first;
    return keys;
}

Frame checkChannel(Family family, int channel)
{
    if (!channelInRange(family, channel))
        return Frame::fail(QStringLiteral("channel %1 outside %2-%3")
                               .arg(channel)
                               .arg(firstChannel())
                               .arg(lastChannel(family)));
    return {};
}

int correctionAddress(int channel)
{
    return 2 * channel - 186;
}

} // namespace

int writeReplyLength(const QByteArray &request)
{
    if (request.size() < 8)
        return 0;
    const quint8 function = quint8(request[1]);
    const int address = (quint8(request[2]) << 8) | quint8(request[3]);
    const int count = (quint8(request[4]) << 8) | quint8(request[5]);
    if (function == 0x06)
        return address >= 0x1020 && address <= 0x105F ? reply::typeAck : reply::echo;
    if (function != 0x10)
        return 0;
    if (address == 0x1017 && count == 4)
        return reply::mask;
    if (address == 0x01F0)
        return 0;
    if (count == 4)
        return reply::mxb;
    if (count == 12)
        return reply::its90;
    return 0;
}

bool familyFromModel(const QString &model, Family *family)
{
    if (model == QLatin1String("M702"))
        *family = Family::M702;
    else if (model == QLatin1String("M701-TC"))
        *family = Family::M701TC;
    else if (model == QLatin1String("M701-RTD"))
        *family = Family::M701RTD;
    else
        return false;
    return true;
}

Family familyFromProbeType(const QString &probeType)
{
    if (probeType == QLatin1String("TC"))
        return Family::M701TC;
    if (probeType == QLatin1String("RTD"))
        return Family::M701RTD;
    return Family::M702;
}

CrcOrder crcOrderOf(Family family)
{
    return family == Family::M702 ? CrcOrder::LowFirst : CrcOrder::HighFirst;
}

int firstChannel()
{
    return 101;
}

int lastChannel(Family family)
{
    return family == Family::M702 ? 164 : 116;
}

bool channelInRange(Family family, int channel)
{
    return channel >= firstChannel() && channel <= lastChannel(family);
}

namespace frame {

QByteArray identify(Family family)
{
    return QByteArray::fromHex(family == Family::M702 ? "0103100000058109" : "0103100000050981");
}

QByteArray readM701()
{
    return QByteArray::fromHex("010301000020EE45");
}

QByteArray measureM702()
{
    return QByteArray::fromHex("0106101A00016D0D");
}

QByteArray speedM702()
{
    return QByteArray::fromHex("0106000e000129c9");
}

QByteArray speed2Echo()
{
    return QByteArray::fromHex("0106000e000269c8");
}

QByteArray speed3Echo()
{
    return QByteArray::fromHex("0106000e0003a808");
}

} // namespace frame

int tcTypeCode(const QString &type)
{
    const QString code = lookup(tcTypeTable(), type);
    return code.isEmpty() ? -1 : code.toInt(nullptr, 16);
}

int rtdWiringCode(const QString &wiring)
{
    static const QList<QPair<QString, QString>> t = {{QStringLiteral("二线制"), "0000"},
                                                     {QStringLiteral("三线制"), "0001"},
                                                     {QStringLiteral("四线制"), "0002"}};
    const QString code = lookup(t, wiring);
    return code.isEmpty() ? -1 : code.toInt(nullptr, 16);
}

QString m702RtdDigit(const QString &sensorType)
{
    return lookup(rtdDigitTable(), sensorType);
}

QString m702WiringDigit(const QString &wiring)
{
    static const QList<QPair<QString, QString>> t = {{QStringLiteral("二线制"), "0"},
                                                     {QStringLiteral("三线制"), "1"},
                                                     {QStringLiteral("四线制"), "2"}};
    return lookup(t, wiring);
}

QString m702TcDigit(const QString &sensorType)
{
    return lookup(tcDigitTable(), sensorType);
}

QString m702CompensationDigit(const QString &compensation)
{
    static const QList<QPair<QString, QString>> t = {{QStringLiteral("内部补偿"), "0"},
                                                     {QStringLiteral("固定补偿"), "4"}};
    return lookup(t, compensation);
}

QStringList m702RtdTypes()
{
    return {QStringLiteral("PT100-385"), QStringLiteral("PT100-3926"), QStringLiteral("PT100-3916"),
            QStringLiteral("Pt200-385"), QStringLiteral("Pt500-385"),  QStringLiteral("Pt1000-385"),
            QStringLiteral("Ni100-618"), QStringLiteral("Ni120-672"),  QStringLiteral("Cu10-427"),
            QStringLiteral("Cu50-428"),  QStringLiteral("Cu100-428")};
}

QStringList m702TcTypes()
{
    return keysOf(tcDigitTable());
}

QStringList m701TcTypes()
{
    return keysOf(tcTypeTable());
}

namespace {

QByteArray singleWrite(quint16 address, quint16 value)
{
    return QByteArray("\x01\x06", 2) + be16(address) + be16(value);
}

QByteArray multipleWrite(quint16 address, const QByteArray &data)
{
    return QByteArray("\x01\x10", 2) + be16(address) + be16(quint16(data.size() / 2)) +
           char(data.size()) + data;
}

} // namespace

Frame tcTypeWrite(const QString &type)
{
    const int code = tcTypeCode(type);
    if (code < 0)
        return Frame::fail(QStringLiteral("unknown thermocouple type \"%1\"").arg(type));
    return {withCrc(singleWrite(0x000D, quint16(code)), CrcOrder::HighFirst), QString()};
}

Frame rtdWiringWrite(const QString &wiring)
{
    const int code = rtdWiringCode(wiring);
    if (code < 0)
        return Frame::fail(QStringLiteral("unknown wiring \"%1\"").arg(wiring));
    return {withCrc(singleWrite(0x000C, quint16(code)), CrcOrder::HighFirst), QString()};
}

Frame mxbWrite(Family family, int channel, float m, float b)
{
    if (Frame f = checkChannel(family, channel); !f.ok())
        return f;
    return {withCrc(multipleWrite(quint16(correctionAddress(channel)), floatLE(m) + floatLE(b)),
                    crcOrderOf(family)),
            QString()};
}

Frame its90Write(Family family, int channel, float r0, float a, float b, float c, float a4,
                 float b4)
{
    if (Frame f = checkChannel(family, channel); !f.ok())
        return f;
    const QByteArray data =
        floatLE(r0) + floatLE(a) + floatLE(b) + floatLE(c) + floatLE(a4) + floatLE(b4);
    return {withCrc(multipleWrite(quint16(correctionAddress(channel)), data), crcOrderOf(family)),
            QString()};
}

Frame channelMask(const QList<int> &channels)
{
    quint64 mask = 0;
    for (int ch : channels) {
        if (Frame f = checkChannel(Family::M702, ch); !f.ok())
            return f;
        mask |= quint64(1) << (ch - 101);
    }
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i) // most significant (channels 157-164) first
        bytes[i] = char((mask >> (8 * (7 - i))) & 0xFF);
    return {bytes, QString()};
}

Frame maskWrite(const QList<int> &channels)
{
    const Frame mask = channelMask(channels);
    if (!mask.ok())
        return mask;
    return {withCrc(multipleWrite(0x1017, mask.bytes), CrcOrder::LowFirst), QString()};
}

Frame m702TypeValue(const QString &probeType, const QString &sensorType, const QString &wiring,
                    const QString &compensation)
{
    auto value = [](const QString &digits) {
        return Frame{be16(quint16(digits.toUInt(nullptr, 16))), QString()};
    };
    if (probeType == QStringLiteral("铂电阻")) {
        const QString rtd = m702RtdDigit(sensorType);
        if (rtd.isEmpty())
            return Frame::fail(QStringLiteral("unknown resistance type \"%1\"").arg(sensorType));
        const QString wire = m702WiringDigit(wiring);
        if (wire.isEmpty())
            return Frame::fail(QStringLiteral("unknown wiring \"%1\"").arg(wiring));
        return value(QStringLiteral("8") + rtd + wire + QStringLiteral("0"));
    }
    if (probeType == QStringLiteral("热电偶")) {
        const QString tc = m702TcDigit(sensorType);
        if (tc.isEmpty())
            return Frame::fail(QStringLiteral("unknown thermocouple type \"%1\"").arg(sensorType));
        const QString comp = m702CompensationDigit(compensation);
        if (comp.isEmpty())
            return Frame::fail(QStringLiteral("unknown compensation \"%1\"").arg(compensation));
        return value(QStringLiteral("A") + tc + comp + QStringLiteral("0"));
    }
    if (probeType == QStringLiteral("直流电压-T") || probeType == QStringLiteral("直流电压-H"))
        return value(QStringLiteral("000F"));
    return Frame::fail(QStringLiteral("unknown probe type \"%1\"").arg(probeType));
}

Frame m702TypeWrite(int channel, const QByteArray &typeValue)
{
    if (Frame f = checkChannel(Family::M702, channel); !f.ok())
        return f;
    if (typeValue.size() != 2)
        return Frame::fail(QStringLiteral("type value of %1 bytes").arg(typeValue.size()));
    return {withCrc(QByteArray("\x01\x06", 2) + be16(quint16(channel + 4027)) + typeValue,
                    CrcOrder::LowFirst),
            QString()};
}

Frame coldJunctionWrite(float temperature)
{
    return {withCrc(multipleWrite(0x01F0, floatLE(temperature)), CrcOrder::LowFirst), QString()};
}

} // namespace rtu
