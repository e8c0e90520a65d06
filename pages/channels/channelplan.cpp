#include "pages/channels/channelplan.h"

#include <QRegularExpression>
#include <algorithm>

namespace channels {

QStringList headers()
{
    return {QStringLiteral("通道编号"), QStringLiteral("探头类型"), QStringLiteral("通道类型"),
            QStringLiteral("接线线制"), QStringLiteral("MX+B(M)"),  QStringLiteral("MX+B(B)"),
            QStringLiteral("R0"),       QStringLiteral("补偿方式"), QStringLiteral("冷端温度"),
            QStringLiteral("A"),        QStringLiteral("B"),        QStringLiteral("C"),
            QStringLiteral("A4"),       QStringLiteral("B4")};
}

storage::Row defaultRow(int index)
{
    storage::Row row{QString::number(101 + index), QStringLiteral("铂电阻"),
                     QStringLiteral("PT100-385"),  QStringLiteral("四线制"),
                     QStringLiteral("1"),          QStringLiteral("0"),
                     QStringLiteral("100")};
    while (row.size() < ColumnCount)
        row << QString();
    return row;
}

QStringList probeTypes()
{
    return {QStringLiteral("铂电阻"), QStringLiteral("直流电压-T"), QStringLiteral("直流电压-H"),
            QStringLiteral("热电偶"), QStringLiteral("TC"),         QStringLiteral("RTD")};
}

QStringList sensorTypesFor(const QString &probeType)
{
    if (probeType == QStringLiteral("铂电阻"))
        return rtu::m702RtdTypes();
    if (probeType == QStringLiteral("热电偶"))
        return rtu::m702TcTypes();
    if (probeType == QStringLiteral("TC"))
        return rtu::m701TcTypes();
    return {};
}

storage::Row withProbeType(storage::Row row, const QString &probeType)
{
    while (row.size() < ColumnCount)
        row << QString();
    row[ProbeType] = probeType;
    auto clear = [&row](std::initializer_list<int> columns) {
        for (int c : columns)
            row[c].clear();
    };
    const QStringList sensors = sensorTypesFor(probeType);
    const bool rtd = probeType == QStringLiteral("铂电阻") || probeType == QStringLiteral("RTD");
    const bool tc = probeType == QStringLiteral("热电偶") || probeType == QStringLiteral("TC");
    if (probeType == QStringLiteral("RTD")) {
        if (row[SensorType] != QStringLiteral("ITS90"))
            row[SensorType] = QStringLiteral("RTD");
    } else if (!sensors.isEmpty()) {
        if (!sensors.contains(row[SensorType]))
            row[SensorType] = sensors.first();
    } else {
        clear({SensorType});
    }
    if (rtd) {
        if (!wirings().contains(row[Wiring]))
            row[Wiring] = QStringLiteral("四线制");
        if (row[R0].isEmpty())
            row[R0] = QStringLiteral("100");
        clear({Compensation, ColdJunction});
        if (row[SensorType] != QStringLiteral("ITS90"))
            clear({CoefA, CoefB, CoefC, CoefA4, CoefB4});
    } else {
        clear({Wiring, R0, CoefA, CoefB, CoefC, CoefA4, CoefB4});
        if (probeType == QStringLiteral("热电偶")) {
            if (!compensations().contains(row[Compensation]))
                row[Compensation] = QStringLiteral("内部补偿");
            if (row[Compensation] == QStringLiteral("内部补偿"))
                clear({ColdJunction});
        } else {
            clear({Compensation, ColdJunction});
        }
    }
    if (!tc && !rtd) {
        // A transmitter's linear correction starts again at M = 1, B = 0.
        row[M] = QStringLiteral("1");
        row[B] = QStringLiteral("0");
    }
    return row;
}

QStringList wirings()
{
    return {QStringLiteral("二线制"), QStringLiteral("三线制"), QStringLiteral("四线制")};
}

QStringList compensations()
{
    return {QStringLiteral("固定补偿"), QStringLiteral("内部补偿")};
}

bool channelNumbersUnique(const QStringList &numbers)
{
    QStringList sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 1; i < sorted.size(); ++i)
        if (sorted[i] == sorted[i - 1])
            return false;
    return true;
}

QString humidityFlags(const storage::Rows &rows)
{
    QString flags;
    for (const storage::Row &row : rows)
        flags += row.value(ProbeType) == QStringLiteral("直流电压-H") ? QLatin1Char('1')
                                                                      : QLatin1Char('0');
    return flags;
}

bool confirms(const Step &step, const QByteArray &reply)
{
    return step.expected > 0 && reply.size() == step.expected && rtu::crcMatches(reply);
}

namespace {

// Refusal naming the channel and the column.
QString refuse(const storage::Row &row, int column, const QString &why)
{
    return QStringLiteral("通道 %1 的“%2”%3").arg(row.value(Number), headers().value(column), why);
}

bool number(const storage::Row &row, int column, float *value)
{
    bool ok = false;
    *value = row.value(column).trimmed().toFloat(&ok);
    return ok;
}

struct RowReader
{
    const storage::Row &row;
    QString error;

    float take(int column)
    {
        float v = 0;
        if (error.isEmpty() && !number(row, column, &v))
            error = refuse(row, column, QStringLiteral("不是数字：“%1”").arg(row.value(column)));
        return v;
    }
};

const QRegularExpression &plainNumber()
{
    static const QRegularExpression re(QStringLiteral("^[1-9][0-9]*$"));
    return re;
}

QString checkChannel(const storage::Row &row, rtu::Family family, int *channel)
{
    const QString text = row.value(Number);
    if (!plainNumber().match(text).hasMatch())
        return refuse(row, Number, QStringLiteral("不是通道号"));
    *channel = text.toInt();
    if (!rtu::channelInRange(family, *channel))
        return refuse(row, Number,
                      QStringLiteral("不在 %1-%2 之内")
                          .arg(rtu::firstChannel())
                          .arg(rtu::lastChannel(family)));
    return {};
}

QString codeError(const storage::Row &row, int column)
{
    return refuse(row, column, QStringLiteral("无效：“%1”").arg(row.value(column)));
}

Step step(const rtu::Frame &f, const QString &trace, int expected, int channel)
{
    Step s;
    s.frame = f.bytes;
    s.trace = trace;
    s.expected = expected;
    s.channel = channel;
    return s;
}

bool its90Step(rtu::Family family, const storage::Row &row, int channel, const QString &trace,
               Plan &plan)
{
    RowReader r{row, QString()};
    const float r0 = r.take(R0), a = r.take(CoefA), b = r.take(CoefB), c = r.take(CoefC),
                a4 = r.take(CoefA4), b4 = r.take(CoefB4);
    if (!r.error.isEmpty()) {
        plan.error = r.error;
        return false;
    }
    plan.steps << step(rtu::its90Write(family, channel, r0, a, b, c, a4, b4), trace,
                       rtu::reply::its90, channel);
    return true;
}

bool mxbStep(rtu::Family family, const storage::Row &row, int channel, Plan &plan)
{
    RowReader r{row, QString()};
    const float m = r.take(M), b = r.take(B);
    if (!r.error.isEmpty()) {
        plan.error = r.error;
        return false;
    }
    plan.steps << step(rtu::mxbWrite(family, channel, m, b), QStringLiteral("sendMB:"),
                       rtu::reply::mxb, channel);
    return true;
}

void planM701(const storage::Rows &rows, Plan &plan)
{
    const bool tc = plan.family == rtu::Family::M701TC;
    const storage::Row &first = rows.first();
    for (const storage::Row &row : rows)
        if (row.value(ProbeType) != first.value(ProbeType)) {
            plan.error =
                refuse(row, ProbeType, QStringLiteral("与第一行不同：一台采集器只有一种探头"));
            return;
        }
    const rtu::Frame setting =
        tc ? rtu::tcTypeWrite(first.value(SensorType)) : rtu::rtdWiringWrite(first.value(Wiring));
    if (!setting.ok()) {
        plan.error = codeError(first, tc ? SensorType : Wiring);
        return;
    }
    Step head = step(setting, QStringLiteral("send:"), rtu::reply::echo, 0);
    head.fatal = true;
    plan.steps << head;
    for (const storage::Row &row : rows) {
        int channel = 0;
        if (QString e = checkChannel(row, plan.family, &channel); !e.isEmpty()) {
            plan.error = e;
            return;
        }
        if (tc) {
            if (!mxbStep(plan.family, row, channel, plan))
                return;
        } else if (row.value(SensorType) == QStringLiteral("ITS90")) {
            if (!its90Step(plan.family, row, channel, QStringLiteral("send:"), plan))
                return;
        }
    }
    plan.road = QStringLiteral("0;0;%1").arg(rows.size());
}

void planM702(const storage::Rows &rows, Plan &plan)
{
    QList<int> channelsOfRows;
    for (const storage::Row &row : rows) {
        int channel = 0;
        if (QString e = checkChannel(row, plan.family, &channel); !e.isEmpty()) {
            plan.error = e;
            return;
        }
        channelsOfRows << channel;
    }
    Step head = step(rtu::maskWrite(channelsOfRows), QStringLiteral("send:"), rtu::reply::mask, 0);
    head.fatal = true;
    head.pauseMs = 600;
    plan.steps << head;

    int temperature = 0, humidity = 0, thermocouple = 0;
    bool fixed = false;
    float coldJunction = 0;
    for (int i = 0; i < rows.size(); ++i) {
        const storage::Row &row = rows[i];
        const int channel = channelsOfRows[i];
        const QString probe = row.value(ProbeType);
        int typeColumn = SensorType;
        if (probe == QStringLiteral("铂电阻")) {
            ++temperature;
            if (rtu::m702RtdDigit(row.value(SensorType)).isEmpty())
                typeColumn = SensorType;
            else if (rtu::m702WiringDigit(row.value(Wiring)).isEmpty())
                typeColumn = Wiring;
            else
                typeColumn = -1;
        } else if (probe == QStringLiteral("热电偶")) {
            ++thermocouple;
            if (rtu::m702TcDigit(row.value(SensorType)).isEmpty())
                typeColumn = SensorType;
            else if (rtu::m702CompensationDigit(row.value(Compensation)).isEmpty())
                typeColumn = Compensation;
            else
                typeColumn = -1;
            if (typeColumn < 0 && row.value(Compensation) == QStringLiteral("固定补偿")) {
                RowReader r{row, QString()};
                coldJunction = r.take(ColdJunction);
                if (!r.error.isEmpty()) {
                    plan.error = r.error;
                    return;
                }
                fixed = true;
            }
        } else if (probe == QStringLiteral("直流电压-T")) {
            ++temperature;
            typeColumn = -1;
        } else if (probe == QStringLiteral("直流电压-H")) {
            ++humidity;
            typeColumn = -1;
        } else {
            typeColumn = ProbeType;
        }
        if (typeColumn >= 0) {
            plan.error = codeError(row, typeColumn);
            return;
        }
        const rtu::Frame value = rtu::m702TypeValue(probe, row.value(SensorType), row.value(Wiring),
                                                    row.value(Compensation));
        plan.steps << step(rtu::m702TypeWrite(channel, value.bytes), QStringLiteral("send:"),
                           rtu::reply::typeAck, channel);
        if (probe == QStringLiteral("铂电阻") && row.value(SensorType) == QStringLiteral("ITS90"))
            if (!its90Step(plan.family, row, channel, QStringLiteral("sendR0:"), plan))
                return;
        if (!mxbStep(plan.family, row, channel, plan))
            return;
    }
    if (fixed)
        plan.steps << step(rtu::coldJunctionWrite(coldJunction), QStringLiteral("send:"), 0, 0);
    plan.road = QStringLiteral("%1;%2;%3;").arg(temperature).arg(humidity).arg(thermocouple);
}

} // namespace

Plan planDownload(const storage::Rows &rows)
{
    Plan plan;
    if (rows.isEmpty()) {
        plan.error = QStringLiteral("还未配置通道!");
        return plan;
    }
    plan.family = rtu::familyFromProbeType(rows.first().value(ProbeType));
    plan.count = QString::number(rows.size());
    plan.kinds = humidityFlags(rows);
    if (plan.family == rtu::Family::M702)
        planM702(rows, plan);
    else
        planM701(rows, plan);
    if (!plan.ok())
        plan.steps.clear();
    return plan;
}

} // namespace channels
