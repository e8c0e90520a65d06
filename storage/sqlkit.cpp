#include "storage/sqlkit.h"
#include "storage/transaction.h"

#include <QSqlDriver>
#include <QSqlError>
#include <libpq-fe.h>
#include <sys/socket.h>
#include <QSqlRecord>
#include <QVariant>

namespace storage {

static int g_transactionDepth = 0;

bool inTransactionNow()
{
    return g_transactionDepth > 0;
}

void enterTransaction(bool entering)
{
    g_transactionDepth += entering ? 1 : -1;
}

QString placeholders(int n)
{
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

bool runQuery(QSqlQuery &q, const QString &sql, const QVariantList &binds, QString *why)
{
    bool ok;
    if (binds.isEmpty()) {
        ok = q.exec(sql);
    } else {
        ok = q.prepare(sql);
        for (int i = 0; ok && i < binds.size(); ++i)
            q.addBindValue(binds[i]);
        ok = ok && q.exec();
    }
    if (!ok && why)
        *why = q.lastError().text().trimmed();
    return ok;
}

Rows fetchRows(QSqlQuery &q, int limit)
{
    Rows out;
    const int columns = q.record().count();
    while ((limit < 0 || out.size() < limit) && q.next()) {
        Row row;
        row.reserve(columns);
        for (int i = 0; i < columns; ++i)
            row << q.value(i).toString();
        out << row;
    }
    return out;
}

Result<Rows> rowsOn(const QSqlDatabase &db, const QString &sql, const QVariantList &binds,
                    int limit)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QString why;
    if (!runQuery(q, sql, binds, &why))
        return base::failure(why);
    const Rows out = fetchRows(q, limit);
    if (q.lastError().isValid())
        return base::failure(q.lastError().text().trimmed());
    return out;
}

int socketOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver() || db.driverName() != QLatin1String("QPSQL"))
        return -1;
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || !h.data())
        return -1;
    const PGconn *conn = *static_cast<PGconn *const *>(h.data());
    return conn ? PQsocket(conn) : -1;
}

void cutOff(int socket)
{
    if (socket >= 0)
        ::shutdown(socket, SHUT_RDWR);
}

} // namespace storage
