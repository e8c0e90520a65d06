#include "pages/run/runtexts.h"

#include "link/frames.h"

#include <QDateTime>
#include <cmath>

namespace runtexts {

using acquisition::Refusal;

QString collectorName(int collector)
{
    return collector == 2 ? QStringLiteral("设备二") : QStringLiteral("设备一");
}

QString refusal(Refusal refusal, int exceptionCode)
{
    switch (refusal) {
    case Refusal::None:
        return QString();
    case Refusal::Incomplete:
        return QStringLiteral("应答不完整");
    case Refusal::Crc:
        return QStringLiteral("应答校验错误");
    case Refusal::Function:
        return QStringLiteral("应答功能码错误");
    case Refusal::Exception:
        return QStringLiteral("异常应答，异常码 %1").arg(exceptionCode, 2, 16, QLatin1Char('0'));
    case Refusal::WrongCount:
        return QStringLiteral("通道数与配置不符，请重新设置通道");
    }
    return QString();
}

QString startFailure(const acquisition::StartFailure &f)
{
    switch (f.kind) {
    case acquisition::StartFailure::CannotOpen:
        return QStringLiteral("连接失败！\n") + f.detail;
    case acquisition::StartFailure::NoEcho:
        return collectorName(f.collector) + QStringLiteral("没有应答！\n") +
               QStringLiteral("采集器没有应答（串口 %1，%2 秒）。请检查采集器电源、连接线和所选串口。")
                   .arg(f.port)
                   .arg(f.echoWaitMs / 1000.0);
    case acquisition::StartFailure::BadEcho:
        return collectorName(f.collector) + QStringLiteral("没有应答！\n") +
               QStringLiteral("应答校验错误（收到 %1 字节），请检查连接线后重试。").arg(f.detail);
    }
    return QString();
}

QString stability(const acquisition::Stability &s)
{
    switch (s.kind) {
    case acquisition::Stability::NoData:
        return QStringLiteral("未稳定：本点还没有数据");
    case acquisition::Stability::TooFew:
        return QStringLiteral("未稳定：数据不足（已 %1 / %2 分钟，样本 %3 / %4）")
            .arg(s.coveredMinutes, 0, 'f', 1)
            .arg(s.windowMinutes, 0, 'f', 1)
            .arg(s.samples)
            .arg(s.minSamples);
    case acquisition::Stability::Unsettled:
        return QStringLiteral("未稳定：%1 变化 %2 %3（限 %4）")
            .arg(s.channel)
            .arg(s.range, 0, 'f', 3)
            .arg(s.humidity ? QStringLiteral("%RH") : QStringLiteral("℃"))
            .arg(s.limit);
    case acquisition::Stability::Stable:
        return QStringLiteral("稳定（%1 起）")
            .arg(QDateTime::fromMSecsSinceEpoch(s.since).toString(QStringLiteral("HH:mm:ss")));
    }
    return QString();
}

QString alarm(const acquisition::Alarm &a)
{
    if (a.kind == acquisition::Alarm::Implausible)
        return QStringLiteral("通道 %1 读数 %2 %3，不是%4可能的读数（%5），请检查探头类型、接线和通道配置")
            .arg(a.channel, rtu::formatValue(a.value),
                 a.humidity ? QStringLiteral("%RH") : QStringLiteral("℃"),
                 a.humidity ? QStringLiteral("湿度") : QStringLiteral("温度"),
                 a.humidity ? QStringLiteral("0～100 %RH") : QStringLiteral("-200～1372 ℃"));
    if (a.kind == acquisition::Alarm::WrongCount)
        return collectorName(a.collector) + QStringLiteral("：") +
               refusal(Refusal::WrongCount);
    return QStringLiteral("%1连续 %2 次无应答（最后一次正常读数：%3）")
        .arg(collectorName(a.collector))
        .arg(a.count)
        .arg(a.lastGood > 0 ? QDateTime::fromMSecsSinceEpoch(a.lastGood)
                                  .toString(QStringLiteral("HH:mm:ss"))
                            : QStringLiteral("无"));
}

QString settling(int readings, const QVector<float> &last, const QVector<bool> &humidity)
{
    QStringList parts{QStringLiteral("稳定等待：已读 %1 次（不保存）").arg(readings)};
    for (const bool h : {false, true}) {
        double lo = qInf(), hi = -qInf();
        for (int i = 0; i < last.size() && i < humidity.size(); ++i)
            if (humidity[i] == h && std::isfinite(last[i])) {
                lo = qMin(lo, double(last[i]));
                hi = qMax(hi, double(last[i]));
            }
        if (lo <= hi)
            parts << QStringLiteral("%1 %2…%3 %4")
                         .arg(h ? QStringLiteral("湿度") : QStringLiteral("温度"))
                         .arg(lo, 0, 'f', 2)
                         .arg(hi, 0, 'f', 2)
                         .arg(h ? QStringLiteral("%RH") : QStringLiteral("℃"));
    }
    return parts.join(QStringLiteral("；"));
}

QString processing(const acquisition::RunSession::Processing &p)
{
    using P = acquisition::RunSession::Processing;
    switch (p.outcome) {
    case P::Done:
        return QStringLiteral("处理完成！");
    case P::NoData:
        return QStringLiteral("当前没有数据！");
    case P::Busy:
        return QStringLiteral("校准正在进行，请先停止。");
    case P::Unstored:
        return QStringLiteral("有 %1 条样本尚未保存到数据库（%2），不能处理。\n"
                              "请排除数据库故障（磁盘空间、文件被占用）后再点“数据处理”。")
            .arg(p.waiting)
            .arg(p.reason);
    case P::NoType:
        return QStringLiteral("试验设备“%1”没有被校参数类别，无法处理本次校准。").arg(p.equipment);
    case P::NeedsConfirmation:
        return QStringLiteral("这次校准已经处理过，是否用新的结果替换原有记录？");
    case P::Failed:
        return p.reason;
    }
    return QString();
}

} // namespace runtexts
