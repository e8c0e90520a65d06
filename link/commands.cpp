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

QString identifyFrame(Family family)
{
    return family == Family::M702 ? frame::identifyM702 : frame::identifyM701;
}

QString tcTypeCode(const QString &type)
{
    return lookup(tcTypeTable(), type);
}

QString rtdWiringCode(const QString &wiring)
{
    static const QList<QPair<QString, QString>> t = {{QStringLiteral("二线制"), "0000"},
                                                     {QStringLiteral("三线制"), "0001"},
                                                     {QStringLiteral("四线制"), "0002"}};
    return lookup(t, wiring);
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

Frame tcTypeWrite(const QString &type)
{
    const QString code = tcTypeCode(type);
    if (code.isEmpty())
        return Frame::fail(QStringLiteral("unknown thermocouple type \"%1\"").arg(type));
    return {withCrc(QStringLiteral("0106000D") + code, CrcOrder::HighFirst), QString()};
}

Frame rtdWiringWrite(const QString &wiring)
{
    const QString code = rtdWiringCode(wiring);
    if (code.isEmpty())
        return Frame::fail(QStringLiteral("unknown wiring \"%1\"").arg(wiring));
    return {withCrc(QStringLiteral("0106000C") + code, CrcOrder::HighFirst), QString()};
}

Frame mxbWrite(Family family, int channel, float m, float b)
{
    if (Frame f = checkChannel(family, channel); !f.ok())
        return f;
    const QString body = QStringLiteral("0110") + registerAddress(correctionAddress(channel)) +
                         QStringLiteral("000408") + floatHexLE(m) + floatHexLE(b);
    return {withCrc(body, crcOrderOf(family)), QString()};
}

Frame its90Write(Family family, int channel, float r0, float a, float b, float c, float a4,
                 float b4)
{
    if (Frame f = checkChannel(family, channel); !f.ok())
        return f;
    const QString body = QStringLiteral("0110") + registerAddress(correctionAddress(channel)) +
                         QStringLiteral("000C18") + floatHexLE(r0) + floatHexLE(a) + floatHexLE(b) +
                         floatHexLE(c) + floatHexLE(a4) + floatHexLE(b4);
    return {withCrc(body, crcOrderOf(family)), QString()};
}

Frame channelMask(const QList<int> &channels)
{
    QString bits(64, QLatin1Char('0'));
    for (int ch : channels) {
        if (Frame f = checkChannel(Family::M702, ch); !f.ok())
            return f;
        bits[ch - 101] = QLatin1Char('1');
    }
    std::reverse(bits.begin(), bits.end());
    QString digits;
    for (int g = 0; g < 16; ++g)
        digits += QString::number(bits.mid(g * 4, 4).toInt(nullptr, 2), 16).toUpper();
    return {digits, QString()};
}

Frame maskWrite(const QList<int> &channels)
{
    Frame mask = channelMask(channels);
    if (!mask.ok())
        return mask;
    return {withCrc(QStringLiteral("01101017000408") + mask.text, CrcOrder::LowFirst), QString()};
}

Frame m702TypeValue(const QString &probeType, const QString &sensorType, const QString &wiring,
                    const QString &compensation)
{
    if (probeType == QStringLiteral("铂电阻")) {
        const QString rtd = m702RtdDigit(sensorType);
        if (rtd.isEmpty())
            return Frame::fail(QStringLiteral("unknown resistance type \"%1\"").arg(sensorType));
        const QString wire = m702WiringDigit(wiring);
        if (wire.isEmpty())
            return Frame::fail(QStringLiteral("unknown wiring \"%1\"").arg(wiring));
        return {QStringLiteral("8") + rtd + wire + QStringLiteral("0"), QString()};
    }
    if (probeType == QStringLiteral("热电偶")) {
        const QString tc = m702TcDigit(sensorType);
        if (tc.isEmpty())
            return Frame::fail(QStringLiteral("unknown thermocouple type \"%1\"").arg(sensorType));
        const QString comp = m702CompensationDigit(compensation);
        if (comp.isEmpty())
            return Frame::fail(QStringLiteral("unknown compensation \"%1\"").arg(compensation));
        return {QStringLiteral("A") + tc + comp + QStringLiteral("0"), QString()};
    }
    if (probeType == QStringLiteral("直流电压-T") || probeType == QStringLiteral("直流电压-H"))
        return {QStringLiteral("000F"), QString()};
    return Frame::fail(QStringLiteral("unknown probe type \"%1\"").arg(probeType));
}

Frame m702TypeWrite(int channel, const QString &typeValue)
{
    if (Frame f = checkChannel(Family::M702, channel); !f.ok())
        return f;
    if (typeValue.size() != 4)
        return Frame::fail(QStringLiteral("type value \"%1\" is not four digits").arg(typeValue));
    return {withCrc(QStringLiteral("0106") + registerAddress(channel + 4027) + typeValue,
                    CrcOrder::LowFirst),
            QString()};
}

Frame coldJunctionWrite(float temperature)
{
    return {withCrc(QStringLiteral("011001F0000204") + floatHexLE(temperature), CrcOrder::LowFirst),
            QString()};
}

bool readReplyComplete(const QString &replyHex)
{
    const int length = replyHex.size();
    if (length <= 16)
        return false;
    bool ok = false;
    const int byteCount = replyHex.mid(4, 2).toInt(&ok, 16);
    if (!ok)
        return false;
    return (((length - 10) / 8) * 4) % 256 == byteCount;
}

int readReplyValueCount(const QString &replyHex)
{
    return (replyHex.size() - 10) / 8;
}

} // namespace rtu
