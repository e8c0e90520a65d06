#include "storage/localcopy.h"

#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"
#include "storage/statements.h"

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace storage {

namespace {

const char kCopyConnection[] = "orven-copy";
const char kTakenKey[] = "localCopyTaken";

// The tables a run reads; calibrations and samples stay on the server.
const char *const kTables[] = {"datacollect", "equipdata", "company", "secdevice",
                               "envirdata",   "deviceA",   "deviceB", "orven_state"};

QString defaultName()
{
    return QString::fromLatin1(QSqlDatabase::defaultConnection);
}

Status copyInto(QSqlDatabase &copy, const QSqlDatabase &server)
{
    if (const Status st = createFileTables(copy); !st)
        return st;
    for (const char *table : kTables) {
        const QString name = QLatin1String(table);
        const Result<Rows> rows = rowsOn(server, QStringLiteral("select * from ") + name);
        if (!rows)
            return base::failure(rows.error);
        QSqlQuery q(copy);
        QString why;
        if (!runQuery(q, QStringLiteral("delete from ") + name, {}, &why))
            return base::failure(why);
        for (const Row &row : rows.value) {
            QVariantList binds;
            for (const QString &v : row)
                binds << v;
            if (!runQuery(q,
                          QStringLiteral("insert into %1 values(%2)")
                              .arg(name, placeholders(int(row.size()))),
                          binds, &why))
                return base::failure(name + QStringLiteral("：") + why);
        }
    }
    QSqlQuery q(copy);
    QString why;
    if (!runQuery(q, QStringLiteral("insert or replace into orven_state values(?, ?)"),
                  {QLatin1String(kTakenKey),
                   QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
                  &why))
        return base::failure(why);
    return {};
}

} // namespace

QString localCopyPath()
{
    return stationFilePath(QStringLiteral("copy"));
}

Status refreshLocalCopy()
{
    const QSqlDatabase server = QSqlDatabase::database(defaultName(), false);
    if (!databaseIsServer() || !server.isOpen() || server.driverName() != QLatin1String("QPSQL"))
        return {};
    Status st;
    {
        QSqlDatabase copy =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kCopyConnection));
        copy.setDatabaseName(localCopyPath());
        copy.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
        if (!copy.open()) {
            st = Status::failure(copy.lastError().text());
        } else if (!copy.transaction()) {
            st = Status::failure(copy.lastError().text());
        } else {
            st = copyInto(copy, server);
            if (!st || !copy.commit()) {
                if (st)
                    st = Status::failure(copy.lastError().text());
                copy.rollback();
            }
        }
        copy.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kCopyConnection));
    if (!st)
        return Status::failure(
            QStringLiteral("本机记录副本 %1 没有更新：%2").arg(localCopyPath(), st.error));
    return st;
}

void refreshLocalCopySoon()
{
    static bool pending = false;
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(1000, Changes::instance(), [] {
        pending = false;
        if (databaseIsServer() && !serverOffline())
            refreshLocalCopy();
    });
}

Status openLocalCopy(QString *taken)
{
    const QString path = localCopyPath();
    if (!QFile::exists(path))
        return Status::failure(
            QStringLiteral("这个工作站在本机还没有记录副本（从没有连上过服务器）"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), defaultName());
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
    if (!db.open())
        return Status::failure(db.lastError().text());
    const Result<Rows> when =
        rowsOn(db, QStringLiteral("select value from orven_state where key=?"),
               {QLatin1String(kTakenKey)}, 1);
    if (!when || when.value.isEmpty()) {
        db.close();
        return Status::failure(QStringLiteral("本机记录副本 %1 不完整").arg(path));
    }
    if (taken)
        *taken = when.value.first().value(0);
    return {};
}

void closeLocalCopy()
{
    {
        QSqlDatabase db = QSqlDatabase::database(defaultName(), false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(defaultName());
}

} // namespace storage
