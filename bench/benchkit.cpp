#include "bench/benchkit.h"

#include "storage/statements.h"
#include "tests/testkit.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <sqlite3.h>
#include <unistd.h>

namespace benchkit {

bool fillCalibration(const QString &dbPath, const QString &begin, int samples, int channels,
                     int perPoint, bool header)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(dbPath.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    bool ok = sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *st = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "insert into data values(?,?,?,?,?)", -1, &st, nullptr) ==
                   SQLITE_OK;
    QByteArray names;
    for (int c = 0; c < channels; ++c)
        names += QByteArray::number(101 + c) + ';';
    const QDateTime t0 = QDateTime::fromString(begin, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    int points = 0;
    for (int s = 0; ok && s < samples; ++s) {
        const int point = s / perPoint + 1;
        points = qMax(points, point);
        QByteArray values;
        values.reserve(channels * 8);
        for (int c = 0; c < channels; ++c)
            values += QByteArray::number(20.0 + c * 0.01 + (s % 7) * 0.013, 'f', 3) + ';';
        const QByteArray jd = QStringLiteral("检点%1").arg(point).toUtf8();
        const QByteArray time =
            t0.addSecs(s).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
        sqlite3_bind_text(st, 1, "Chamber", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, jd.constData(), jd.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, time.constData(), time.size(), SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, names.constData(), names.size(), SQLITE_STATIC);
        sqlite3_bind_text(st, 5, values.constData(), values.size(), SQLITE_TRANSIENT);
        ok = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    if (ok && header) {
        QByteArray tem, hum;
        for (int p = 1; p <= points; ++p)
            tem += QByteArray::number(20 + p) + ';', hum += QByteArray::number(50 + p) + ';';
        const QString end = t0.addSecs(samples - 1).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString sql =
            QStringLiteral("insert into datamark values('1','%1','%2','%3','%4','%5','%6;0;0;','',"
                           "'ORV7020001','Chamber','%6','%7','%8','23','55','温度','%9','')")
                .arg(begin, end)
                .arg(points)
                .arg(QString::fromUtf8(tem), QString::fromUtf8(hum))
                .arg(channels)
                .arg(samples)
                .arg(QString::fromUtf8(names), QString(channels, QLatin1Char('0')));
        ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ok = ok && sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

bool keepRecords(const QString &dtbegin)
{
    const storage::Rows headers =
        testkit::rows(QStringLiteral("select * from datamark where dtbegin='%1'").arg(dtbegin));
    if (headers.size() != 1)
        return false;
    const storage::RunHeader header = storage::RunHeader::fromRow(headers.first());
    // What the budgets need beside the records, as a laboratory enters it.
    storage::EquipmentExtra equipment;
    equipment.settingT = QStringLiteral("0.1");
    equipment.settingH = QStringLiteral("1");
    if (!storage::saveCollectorExtra(header.collector,
                                     {QStringLiteral("0.02"), QStringLiteral("0.3")})
             .ok ||
        !storage::saveEquipmentExtra(header.equipname, equipment).ok)
        return false;
    const base::Result<storage::Snapshot> records =
        storage::currentRecords(header.equipname, {header.collector});
    return records.ok && storage::storeCalibration(header, records.value, true).ok;
}

bool quick()
{
    return QCoreApplication::arguments().contains(QStringLiteral("--quick")) ||
           qEnvironmentVariableIntValue("ORVEN_BENCH_QUICK") == 1;
}

qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

qint64 peakResidentBytes()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

void resetPeakResident()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

StallProbe::StallProbe(int periodMs) : m_periodMs(periodMs)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const qint64 now = m_clock.elapsed();
        m_worst = qMax(m_worst, now - m_last);
        m_last = now;
    });
}

void StallProbe::start()
{
    m_clock.start();
    m_last = 0;
    m_worst = 0;
    m_timer.start(m_periodMs);
}

} // namespace benchkit
