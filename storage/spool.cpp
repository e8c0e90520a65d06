#include "storage/spool.h"

#include "base/paths.h"
#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace storage {

namespace {

const char kConnection[] = "orven-spool";
int g_waiting = -1; // cached count; -1: not read yet
QString g_token;    // the spool file's own
QString g_lastError;

QSqlDatabase spool(QString *why)
{
    const QString path = spoolPath();
    QSqlDatabase db = QSqlDatabase::database(QLatin1String(kConnection), false);
    if (db.isValid() && db.isOpen() && db.databaseName() == path)
        return db;
    if (!db.isValid())
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
    db.close();
    db.setDatabaseName(path);
    g_waiting = -1;
    if (!db.open()) {
        *why = db.lastError().text();
        return db;
    }
    QSqlQuery q(db);
    // The file's own token makes its numbers unique on the server, even
    // when a spool file is removed and made again.
    if (!q.exec(QStringLiteral("pragma journal_mode=WAL")) ||
        !q.exec(QStringLiteral(
            "create table if not exists spool (seq integer primary key autoincrement, "
            "equipname text, jdnum text, coltime text, colname text, coldata text, run text)")) ||
        !q.exec(QStringLiteral("create table if not exists token (value text)")) ||
        !q.exec(
            QStringLiteral("insert into token select '%1' where not exists (select 1 from token)")
                .arg(QUuid::createUuid().toString(QUuid::WithoutBraces))) ||
        !q.exec(QStringLiteral("select value from token")) || !q.next()) {
        *why = q.lastError().text();
        db.close();
        return db;
    }
    g_token = q.value(0).toString();
    return db;
}

int countWaiting(QSqlDatabase &db)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select count(*) from spool")) && q.next() ? q.value(0).toInt()
                                                                            : 0;
}

} // namespace

QString spoolPath()
{
    return stationFilePath(QStringLiteral("spool"));
}

Status spoolSample(const Sample &sample, const QString &run)
{
    QString why;
    QSqlDatabase db = spool(&why);
    if (!db.isOpen())
        return Status::failure(QStringLiteral("本地暂存文件 %1 打不开：%2").arg(spoolPath(), why));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("insert into spool (equipname, jdnum, coltime, colname, coldata, run) "
                             "values (?,?,?,?,?,?)"));
    for (const QString &v : sample.toRow())
        q.addBindValue(v);
    q.addBindValue(run);
    if (!q.exec())
        return Status::failure(QStringLiteral("本地暂存失败：%1").arg(q.lastError().text()));
    g_waiting = g_waiting < 0 ? countWaiting(db) : g_waiting + 1;
    return {};
}

// Nothing waits when the file is not there (it is made by the first
// sample that needs it).
static bool nothingWaits()
{
    if (g_waiting < 0 && !QFile::exists(spoolPath()))
        g_waiting = 0;
    return g_waiting == 0;
}

SpoolState spoolState()
{
    SpoolState s;
    s.lastError = g_lastError;
    if (!databaseIsServer() || nothingWaits())
        return s;
    QString why;
    QSqlDatabase db = spool(&why);
    if (!db.isOpen())
        return s;
    if (g_waiting < 0)
        g_waiting = countWaiting(db);
    s.waiting = g_waiting;
    if (s.waiting > 0) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select coltime from spool order by seq limit 1")) && q.next())
            s.since = q.value(0).toString();
    }
    return s;
}

Status flushSpool(int budgetMs)
{
    QElapsedTimer spent;
    spent.start();
    if (!databaseIsServer() || nothingWaits())
        return {};
    QString why;
    QSqlDatabase db = spool(&why);
    if (!db.isOpen())
        return Status::failure(why);
    if (g_waiting < 0 && (g_waiting = countWaiting(db)) == 0)
        return {};
    if (!serverReady()) {
        g_lastError = serverAwayText();
        return Status::failure(g_lastError);
    }
    QSqlDatabase server =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    for (;;) {
        // A hundred at a time, oldest first.
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (!rows.exec(
                QStringLiteral("select seq, equipname, jdnum, coltime, colname, coldata, run "
                               "from spool order by seq limit 100")))
            return Status::failure(rows.lastError().text());
        QList<QVariantList> batch;
        while (rows.next()) {
            QVariantList r;
            for (int i = 0; i < 7; ++i)
                r << rows.value(i);
            batch << r;
        }
        rows.finish();
        if (batch.isEmpty()) {
            g_waiting = 0;
            g_lastError.clear();
            return {};
        }
        QString run;
        if (!server.transaction()) {
            g_lastError = server.lastError().text();
            reconnectIfLost();
            return Status::failure(g_lastError);
        }
        // One statement per batch (one round trip to the server); rows
        // take their numbers in the order of the list, the spool's order.
        bool ok = true;
        QStringList tuples;
        QVariantList binds;
        for (const QVariantList &r : batch) {
            QString rowRun = r.value(6).toString();
            if (rowRun.isEmpty()) {
                // Spooled before the run was known: the station's run now.
                if (run.isEmpty()) {
                    const Result<QString> current = currentRun();
                    if (!current) {
                        g_lastError = current.error;
                        ok = false;
                        break;
                    }
                    run = current.value;
                }
                rowRun = run;
            }
            tuples << QStringLiteral("(?,?,?,?,?,current_setting('orven.station'),?,?)");
            for (int i = 1; i <= 5; ++i)
                binds << r.value(i).toString();
            binds << rowRun << g_token + QLatin1Char(':') + r.value(0).toString();
        }
        if (ok) {
            QSqlQuery q(server);
            QString why;
            ok = runQuery(q,
                          QStringLiteral("insert into orven.data (equipname, jdnum, coltime, "
                                         "colname, coldata, station, run, spoolkey) values ") +
                              tuples.join(QLatin1Char(',')) +
                              QStringLiteral(" on conflict (station, spoolkey) where spoolkey is "
                                             "not null do nothing"),
                          binds, &why);
            if (!ok)
                g_lastError = why;
        }
        if (!ok || !server.commit()) {
            if (ok)
                g_lastError = server.lastError().text();
            server.rollback();
            reconnectIfLost();
            return Status::failure(g_lastError);
        }
        // On the server now: leave the spool. A cut here sends them again,
        // and the server ignores what it has.
        QSqlQuery del(db);
        del.prepare(QStringLiteral("delete from spool where seq<=?"));
        del.addBindValue(batch.last().value(0));
        if (!del.exec())
            return Status::failure(del.lastError().text());
        g_waiting = countWaiting(db);
        if (budgetMs >= 0 && spent.elapsed() >= budgetMs)
            return {};
    }
}

void closeSpool()
{
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(kConnection), false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    g_waiting = -1;
    g_lastError.clear();
}

} // namespace storage
