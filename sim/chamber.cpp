#include "sim/chamber.h"

#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cmath>
#include <sqlite3.h>

namespace sim {

namespace {

QString text(sqlite3_stmt *st, int column)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(st, column));
    return p ? QString::fromUtf8(p) : QString();
}

int pointNumber(const QString &label)
{
    return label.startsWith(QStringLiteral("检点")) ? label.mid(2).toInt() : 0;
}

} // namespace

struct Chamber::Reader
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake, done;
    bool stop = false;
    quint64 asked = 0, served = 0;
    bool ok = false;
    Run run;
    QSet<int> humidity;
    std::atomic<int> socket{-1};
};

Chamber::Chamber(const QString &databasePath, double settleSeconds)
    : m_path(databasePath),
      m_connection(QStringLiteral("orven-chamber-%1").arg(quintptr(this), 0, 16)),
      m_tau(settleSeconds)
{
    if (storage::isServerUrl(m_path)) {
        m_reader = std::make_unique<Reader>();
        m_reader->thread = std::thread([this] { readerLoop(); });
    }
}

// Looks every few hundred milliseconds, and whenever asked.
void Chamber::readerLoop()
{
    Reader &r = *m_reader;
    std::unique_lock<std::mutex> lock(r.mutex);
    while (!r.stop) {
        const quint64 serving = r.asked;
        lock.unlock();
        Run run;
        QSet<int> humidity;
        const bool ok = readNow(&run, &humidity);
        lock.lock();
        r.ok = ok;
        r.run = run;
        r.humidity = humidity;
        r.served = serving;
        r.done.notify_all();
        r.wake.wait_for(lock, std::chrono::milliseconds(300),
                        [&r, serving] { return r.stop || r.asked > serving; });
    }
    lock.unlock();
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

Chamber::~Chamber()
{
    if (m_reader) {
        {
            std::lock_guard<std::mutex> lock(m_reader->mutex);
            m_reader->stop = true;
        }
        m_reader->wake.notify_all();
        storage::cutOff(m_reader->socket); // a read the server holds up ends now
        m_reader->thread.join();
    }
    if (m_db)
        sqlite3_close(m_db);
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool Chamber::open()
{
    if (storage::isServerUrl(m_path)) {
        if (QSqlDatabase::database(m_connection, false).isOpen())
            return true;
        // A session of the station whose run it follows, reading only (the
        // one closed after a lost connection is made anew).
        if (QSqlDatabase::contains(m_connection))
            QSqlDatabase::removeDatabase(m_connection);
        if (!storage::openServerConnection(m_connection, m_path, false)) {
            QSqlDatabase::removeDatabase(m_connection);
            return false;
        }
        if (m_reader)
            m_reader->socket = storage::socketOf(QSqlDatabase::database(m_connection, false));
        return true;
    }
    if (m_db)
        return true;
    m_db = storage::openForReading(m_path, nullptr);
    if (m_db)
        sqlite3_exec(m_db, "pragma query_only=1", nullptr, nullptr, nullptr);
    return m_db != nullptr;
}

// The selected equipment's set points, the last sample's point and time,
// the end of the last processed calibration: one row.
static const char kSetPoints[] =
    "select e.adjustnum, e.tem1, e.tem2, e.tem3, e.tem4, e.tem5, e.tem6, e.tem7, e.tem8, "
    "e.tem9, e.tem10, e.hum1, e.hum2, e.hum3, e.hum4, e.hum5, e.hum6, e.hum7, e.hum8, e.hum9, "
    "e.hum10, (select jdnum from data order by rowid desc limit 1), "
    "(select coltime from data order by rowid desc limit 1), "
    "(select max(dtend) from %1) "
    "from secdevice s join equipdata e on e.name = s.equipdata limit 1";

QStringList Chamber::readRow()
{
    QStringList row;
    if (!open())
        return row;
    if (storage::isServerUrl(m_path)) {
        // The calibrations of this station only: others' do not end its run.
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (q.exec(QString::fromLatin1(kSetPoints)
                       .arg(QLatin1String(
                           "orven.datamark where station=current_setting('orven.station')"))) &&
            q.next())
            for (int i = 0; i < 24; ++i)
                row << q.value(i).toString();
        else if (q.lastError().type() == QSqlError::ConnectionError)
            QSqlDatabase::database(m_connection, false).close(); // opened again next time
        return row;
    }
    const QByteArray sql = QString::fromLatin1(kSetPoints).arg(QLatin1String("datamark")).toUtf8();
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_close(m_db); // perhaps not made yet: try again next time
        m_db = nullptr;
        return row;
    }
    if (sqlite3_step(st) == SQLITE_ROW)
        for (int i = 0; i < 24; ++i)
            row << text(st, i);
    sqlite3_finalize(st);
    return row;
}

QStringList Chamber::readColumn(const QString &sql)
{
    QStringList out;
    if (!open())
        return out;
    if (storage::isServerUrl(m_path)) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (q.exec(sql))
            while (q.next())
                out << q.value(0).toString();
        return out;
    }
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
        return out;
    while (sqlite3_step(st) == SQLITE_ROW)
        out << text(st, 0);
    sqlite3_finalize(st);
    return out;
}

bool Chamber::read(Run *run, int waitMs)
{
    if (!m_reader) {
        m_humidity.clear();
        return readNow(run, &m_humidity);
    }
    Reader &r = *m_reader;
    std::unique_lock<std::mutex> lock(r.mutex);
    if (waitMs > 0) {
        const quint64 asked = ++r.asked;
        r.wake.notify_all();
        r.done.wait_for(lock, std::chrono::milliseconds(waitMs),
                        [&r, asked] { return r.served >= asked; });
    }
    *run = r.run;
    m_humidity = r.humidity;
    return r.ok;
}

bool Chamber::readNow(Run *run, QSet<int> *humidity)
{
    const QStringList row = readRow();
    if (row.size() < 24)
        return false;
    run->points = qBound(0, row[0].trimmed().toInt(), 10);
    for (int k = 0; k < 10; ++k) {
        run->setT[k] = row[1 + k].toDouble();
        run->setH[k] = row[11 + k].toDouble();
    }
    run->lastPoint = row[21];
    run->lastTime = row[22];
    run->lastEnd = row[23];
    run->started = readColumn(QStringLiteral("select value from orven_state where "
                                             "key='pointStarted'"))
                       .value(0);
    // Humidity where the channel tables say 直流电压-H: the type written into
    // the collector (000F) is the same for temperature transmitters.
    for (const QString &n :
         readColumn(QStringLiteral("select num from deviceA where headtype='直流电压-H' union "
                                   "select num from deviceB where headtype='直流电压-H'")))
        humidity->insert(n.toInt());
    return run->points > 0;
}

void Chamber::runStarted(qint64 nowMs)
{
    Run run;
    m_startTime =
        QDateTime::fromMSecsSinceEpoch(nowMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    // What the run page just wrote (the point started) is wanted here.
    if (!read(&run, 500)) {
        m_point = 0;
        return;
    }
    // Samples newer than the last processed calibration belong to the run
    // in progress: it goes on at the next point.
    int next = 1;
    if (pointNumber(run.started) >= 1)
        next = pointNumber(run.started); // the point the operator started
    else if (!run.lastTime.isEmpty() && run.lastTime > run.lastEnd)
        next = pointNumber(run.lastPoint) + 1;
    m_point = next >= 1 && next <= run.points ? next : 1;
    // The operator starts a point once the chamber holds it: the air is
    // there at once; it settles only when the run turns out to be at
    // another point.
    m_lastMs = -1;
}

bool Chamber::air(qint64 nowMs, double *temperature, double *humidity)
{
    Run run;
    if (!read(&run))
        return false;
    // A sample of this run names its point: the operator chose another one.
    const int stored = pointNumber(run.lastPoint);
    if (!m_startTime.isEmpty() && run.lastTime > m_startTime && stored >= 1 && stored <= run.points)
        m_point = stored;
    if (m_point < 1 || m_point > run.points)
        m_point = 1;
    const double targetT = run.setT[m_point - 1];
    const double targetH = run.setH[m_point - 1];
    if (m_lastMs < 0) {
        m_t = targetT;
        m_h = targetH;
    } else {
        const double k = std::exp(-double(nowMs - m_lastMs) / 1000.0 / qMax(1e-3, m_tau));
        m_t = targetT + (m_t - targetT) * k;
        m_h = targetH + (m_h - targetH) * k;
    }
    m_lastMs = nowMs;
    *temperature = m_t;
    *humidity = m_h;
    return true;
}

} // namespace sim
