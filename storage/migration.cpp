#include "storage/migration.h"

#include "storage/database.h"
#include "storage/records.h"
#include "storage/server.h"
#include "storage/sqlkit.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>

namespace storage {

namespace {

const char kConnection[] = "orven-migration";

// Every row of a select on the file, as texts.
Result<Rows> fileRows(sqlite3 *db, const QString &sql, const QStringList &binds = {})
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        // A file from before a table was added simply has none of it.
        if (why.startsWith(QLatin1String("no such table")))
            return Rows();
        return base::failure(why);
    }
    for (int i = 0; i < binds.size(); ++i) {
        const QByteArray utf8 = binds[i].toUtf8();
        sqlite3_bind_text(st, i + 1, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    }
    Rows out;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(st, i));
            row << (p ? QString::fromUtf8(p, sqlite3_column_bytes(st, i)) : QString());
        }
        out << row;
    }
    const QString why = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        return base::failure(why);
    return out;
}

Result<int> run(const QString &sql, const QStringList &binds = {})
{
    QSqlQuery q(QSqlDatabase::database(QLatin1String(kConnection), false));
    QString why;
    if (!runQuery(q, sql, QVariantList(binds.cbegin(), binds.cend()), &why))
        return base::failure(why);
    return q.isSelect() ? (q.next() ? q.value(0).toInt() : 0) : q.numRowsAffected();
}

// Rows of a shared table that the server does not have by `key` yet.
Result<int> copyMissing(sqlite3 *file, const QString &table, const QString &key)
{
    const Result<Rows> rows =
        fileRows(file, QStringLiteral("select %1, * from %2").arg(key, table));
    if (!rows)
        return base::failure(rows.error);
    int copied = 0;
    for (Row row : rows.value) {
        const QString keyValue = row.takeFirst();
        const Result<int> there = run(
            QStringLiteral("select count(*) from orven.%1 where %2=?").arg(table, key), {keyValue});
        if (!there)
            return there;
        if (there.value > 0)
            continue;
        const Result<int> n = run(
            QStringLiteral("insert into orven.%1 values(%2)").arg(table, placeholders(row.size())),
            row);
        if (!n)
            return n;
        ++copied;
    }
    return copied;
}

class Transaction
{
public:
    Transaction() : m_db(QSqlDatabase::database(QLatin1String(kConnection), false))
    {
        m_ok = m_db.transaction();
    }
    ~Transaction()
    {
        if (m_ok && !m_done)
            m_db.rollback();
    }
    bool ok() const { return m_ok; }
    Status commit()
    {
        m_done = true;
        return m_db.commit() ? Status() : Status::failure(m_db.lastError().text());
    }

private:
    QSqlDatabase m_db;
    bool m_ok = false, m_done = false;
};

Result<MigrationSummary> copyAll(sqlite3 *file, const QString &station,
                                 const MigrationProgress &progress)
{
    MigrationSummary sum;
    auto tell = [&](const QString &what, int done, int total) {
        if (progress)
            progress(what, done, total);
    };
    {
        Transaction t;
        if (!t.ok())
            return base::failure(QStringLiteral("cannot begin a transaction"));
        tell(QStringLiteral("records"), 0, 1);
        // Collectors by serial number, equipment by name, the laboratory
        // when the server has none.
        Result<int> n =
            copyMissing(file, QStringLiteral("datacollect"), QStringLiteral("serialnum"));
        if (!n)
            return base::failure(n.error);
        sum.collectors = n.value;
        n = copyMissing(file, QStringLiteral("equipdata"), QStringLiteral("name"));
        if (!n)
            return base::failure(n.error);
        sum.equipment = n.value;
        const Result<int> labs = run(QStringLiteral("select count(*) from orven.company"));
        if (!labs)
            return base::failure(labs.error);
        if (labs.value == 0) {
            n = copyMissing(file, QStringLiteral("company"), QStringLiteral("unitname"));
            if (!n)
                return base::failure(n.error);
            sum.company = n.value;
        }
        // The station's own tables, when it has none on the server yet.
        for (const char *table : {"secdevice", "envirdata", "deviceA", "deviceB"}) {
            const Result<int> there =
                run(QStringLiteral("select count(*) from orven.%1 where station=?")
                        .arg(QLatin1String(table)),
                    {station});
            if (!there)
                return base::failure(there.error);
            if (there.value > 0)
                continue;
            const Result<Rows> rows =
                fileRows(file, QStringLiteral("select * from ") + QLatin1String(table));
            if (!rows)
                return base::failure(rows.error);
            for (const Row &row : rows.value) {
                n = run(QStringLiteral("insert into orven.%1 values(%2,?)")
                            .arg(QLatin1String(table), placeholders(row.size())),
                        row + QStringList{station});
                if (!n)
                    return base::failure(n.error);
                ++sum.stationRows;
            }
        }
        // Settings, kept records and certificates, by their keys.
        for (const auto &[table, key] :
             {std::pair<const char *, const char *>{"evaluation", "dtbegin"},
              {"snapshot", "dtbegin"},
              {"certificate", "number"},
              {"certificate_file", "id"},
              {"collector_extra", "serialnum"},
              {"equipment_extra", "name"}}) {
            // A file written before the documents were kept has no such table.
            const Result<Rows> has = fileRows(
                file, QStringLiteral("select count(*) from sqlite_master where name=?"),
                {QLatin1String(table)});
            if (!has)
                return base::failure(has.error);
            if (has.value.value(0).value(0) == QLatin1String("0"))
                continue;
            n = copyMissing(file, QLatin1String(table), QLatin1String(key));
            if (!n)
                return base::failure(n.error);
            sum.kept += n.value;
        }
        if (const Status st = t.commit(); !st)
            return base::failure(st.error);
    }

    // Each calibration with its samples, in a transaction of its own: a cut
    // migration goes on where it stopped.
    const Result<Rows> headers =
        fileRows(file, QStringLiteral("select * from datamark order by dtbegin"));
    if (!headers)
        return base::failure(headers.error);
    qint64 inCalibrations = 0;
    for (int i = 0; i < headers.value.size(); ++i) {
        const Row &h = headers.value[i];
        const QString dtbegin = h.value(1), dtend = h.value(2);
        tell(QStringLiteral("calibration %1").arg(dtbegin), i, headers.value.size());
        const Result<int> there =
            run(QStringLiteral("select count(*) from orven.datamark where station=? and dtbegin=?"),
                {station, dtbegin});
        if (!there)
            return base::failure(there.error);
        const Result<Rows> samples = fileRows(
            file,
            QStringLiteral(
                "select * from data where coltime>=? and coltime<=? order by coltime, rowid"),
            {dtbegin, dtend});
        if (!samples)
            return base::failure(samples.error);
        inCalibrations += samples.value.size();
        if (there.value > 0) {
            ++sum.calibrationsThere;
            continue;
        }
        const QString runId = QStringLiteral("migrated/%1/%2").arg(station, dtbegin);
        Transaction t;
        if (!t.ok())
            return base::failure(QStringLiteral("cannot begin a transaction"));
        Row header = h.mid(0, 18);
        while (header.size() < 18)
            header << QString();
        Result<int> n =
            run(QStringLiteral("insert into orven.datamark values(%1,?,?)").arg(placeholders(18)),
                header + QStringList{station, runId});
        if (!n)
            return base::failure(n.error);
        // Samples in batches of 200 rows.
        const int batch = 200;
        for (int from = 0; from < samples.value.size(); from += batch) {
            const int count = qMin(batch, samples.value.size() - from);
            QStringList values, binds;
            for (int k = 0; k < count; ++k) {
                values << QStringLiteral("(?,?,?,?,?,?,?)");
                Row r = samples.value[from + k].mid(0, 5);
                while (r.size() < 5)
                    r << QString();
                binds << r << station << runId;
            }
            n = run(
                QStringLiteral("insert into orven.data (equipname,jdnum,coltime,colname,coldata,"
                               "station,run) values ") +
                    values.join(QLatin1Char(',')),
                binds);
            if (!n)
                return base::failure(n.error);
        }
        if (const Status st = t.commit(); !st)
            return base::failure(st.error);
        ++sum.calibrations;
        sum.samples += samples.value.size();
    }
    const Result<Rows> all = fileRows(file, QStringLiteral("select count(*) from data"));
    if (!all)
        return base::failure(all.error);
    sum.outside = qMax<qint64>(0, all.value.value(0).value(0).toLongLong() - inCalibrations);
    tell(QStringLiteral("done"), headers.value.size(), headers.value.size());
    return sum;
}

} // namespace

Result<MigrationSummary> migrateToServer(const QString &file, const QString &url,
                                         const QString &station, const MigrationProgress &progress)
{
    if (station.trimmed().isEmpty())
        return base::failure(QStringLiteral("no station name"));
    QString why;
    sqlite3 *db = openForReading(file, &why);
    if (!db)
        return base::failure(why);
    sqlite3_busy_timeout(db, 5000);
    Result<MigrationSummary> out;
    const Status opened = openServerConnection(QLatin1String(kConnection), url, true, station);
    if (!opened)
        out = base::failure(opened.error);
    else
        out = copyAll(db, station.trimmed(), progress);
    sqlite3_close(db);
    QSqlDatabase::database(QLatin1String(kConnection), false).close();
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return out;
}

} // namespace storage
