#include "storage/statements.h"

#include "base/passwords.h"

#include "storage/database.h"
#include "storage/localcopy.h"
#include "storage/server.h"
#include "storage/spool.h"
#include "storage/sqlkit.h"
#include "storage/transaction.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>
#include <functional>

namespace storage {

namespace {

QString g_refusal; // why the last statement was not even sent

// A record changed while the station runs on its copy (the server away):
// the statements of the change, as run on the copy, to be run again on the
// server when it answers.
struct Captured
{
    QString sql;
    QStringList values;
};
QList<Captured> *g_capture = nullptr;

// Runs `body` in a transaction on the copy, its statements kept in `into`.
template <typename Body> Status capturedOnCopy(QList<Captured> *into, Body body)
{
    g_capture = into;
    const Status st = inTransaction(body);
    g_capture = nullptr;
    return st;
}

// A whole row inserted into a register (a collector, an equipment) is made
// again on the server as the removal of any row of that key first: the
// server may have been given one meanwhile, and the later change wins.
void capture(const QString &sql, const QStringList &values)
{
    static const struct
    {
        const char *insert, *remove;
        int key;
    } keyed[] = {
        {"insert into datacollect values(", "delete from datacollect where serialnum=?", 4},
        {"insert into equipdata values(", "delete from equipdata where name=?", 0},
    };
    for (const auto &k : keyed)
        if (sql.startsWith(QLatin1String(k.insert)) && k.key < values.size())
            g_capture->append({QLatin1String(k.remove), {values[k.key]}});
    g_capture->append({sql, values});
}

QString reasonOf(const QSqlQuery &q)
{
    if (lastDeadlineExpired())
        return deadlineText();
    const QString text = q.lastError().text().trimmed();
    if (!text.isEmpty())
        return text;
    if (!g_refusal.isEmpty())
        return g_refusal;
    const QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    if (!db.isValid())
        return QStringLiteral("数据库没有连接");
    if (!db.isOpen()) {
        const QString why = db.lastError().text().trimmed();
        return QStringLiteral("数据库 %1 没有打开%2")
            .arg(db.databaseName(), why.isEmpty() ? QString() : QStringLiteral("：") + why);
    }
    return QStringLiteral("数据库语句失败（驱动没有给出原因）");
}

// The default connection as it is: never opened again behind our back (a
// server that went away is connected to again by reconnectIfLost, off the
// window's thread).
QSqlDatabase defaultConnection()
{
    return QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
}

// Running on the copy, and the server does not answer yet (asked again
// here: an action that needs the server goes back to it when it can).
bool stillAway()
{
    return serverOffline() && !(serverReady() && !serverOffline());
}

// A connection never opened: what a query holds while the one it ran on
// is taken away.
QSqlDatabase detachedConnection()
{
    const QString name = QStringLiteral("orven-detached");
    return QSqlDatabase::contains(name)
               ? QSqlDatabase::database(name, false)
               : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
}

bool isRead(const QString &sql)
{
    return sql.startsWith(QLatin1String("select"), Qt::CaseInsensitive);
}

// The tables written since the last audit row: their digests are taken
// again for the next one.
QSet<QString> &touchedTables()
{
    static QSet<QString> tables;
    return tables;
}

void noteWrite(const QString &sql)
{
    static const QRegularExpression target(
        QStringLiteral("^\\s*(?:insert\\s+(?:or\\s+replace\\s+)?into|update|delete\\s+from)"
                       "\\s+(?:orven\\.)?(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = target.match(sql);
    if (m.hasMatch())
        touchedTables().insert(m.captured(1).toLower());
}

bool run(QSqlQuery &q, const QString &sql, const QStringList &values, bool retry = true)
{
    g_refusal.clear();
    // Started without the server: the station's records are read from its
    // copy, and nothing is changed until the server answers, but for a
    // record changed on the copy (kept to be sent), which stays on the copy
    // from its first statement to its last whatever the server does. A read
    // of what the copy does not hold (the register, the evaluations) is
    // refused too: an empty answer there would be a wrong one.
    if (!g_capture && databaseIsServer() && !serverReady() &&
        (!serverOffline() || !isRead(sql) || !copyAnswers(sql))) {
        g_refusal = serverOffline() ? offlineWriteText() : serverAwayText();
        return false;
    }
    bool ok;
    {
        // A server that hangs holds the window up for the deadline at most.
        WindowDeadline deadline;
        ok = q.prepare(sql);
        if (ok) {
            for (const QString &v : values)
                q.addBindValue(v.isNull() ? QString(QLatin1String("")) : v);
            ok = q.exec();
        }
    }
    if (ok && !isRead(sql))
        noteWrite(sql);
    if (ok && g_capture && !isRead(sql))
        capture(sql, values);
    // What a station starts on when the server is down follows every
    // change of its records (not the samples: they have a spool).
    if (ok && databaseIsServer() && !isRead(sql) &&
        !sql.startsWith(QLatin1String("insert into data ")))
        refreshLocalCopySoon();
    // A session cut off (the server restarted) is opened again and the
    // statement tried once more: it never reached the server. Inside a
    // transaction the whole transaction is tried again instead.
    if (!ok && databaseIsServer() && !inTransactionNow() && retry && reopenIfBroken()) {
        // A query of the closed session is no use on the new one.
        const bool forwardOnly = q.isForwardOnly();
        q = QSqlQuery(defaultConnection());
        q.setForwardOnly(forwardOnly);
        return run(q, sql, values, false);
    }
    // A server that went away is connected to again for the next
    // statement; this one stays failed (the caller keeps what it could not
    // write, and a write is never sent twice).
    if (!ok && databaseIsServer() && !inTransactionNow() && !serverOffline()) {
        const QString why = q.lastError().text();
        const bool expired = lastDeadlineExpired();
        const bool lost = expired || connectionBroken() ||
                          why.contains(QLatin1String("connection"), Qt::CaseInsensitive) ||
                          why.contains(QLatin1String("server"), Qt::CaseInsensitive) ||
                          why.contains(QLatin1String("terminat"), Qt::CaseInsensitive);
        // Not back at once: the station goes on on its copy, from the next
        // turn of the event loop (this statement's query still holds the
        // server's connection).
        if (lost && (expired || !reconnectIfLost())) {
            const QString reason = expired ? deadlineText() : why;
            // Nothing here holds the server's connection any more; a read
            // of what the copy holds is answered from there.
            const bool forwardOnly = q.isForwardOnly();
            q = QSqlQuery(detachedConnection());
            g_refusal = reason;
            if (goOffline(reason) && retry && isRead(sql) && copyAnswers(sql)) {
                q = QSqlQuery(defaultConnection());
                q.setForwardOnly(forwardOnly);
                return run(q, sql, values, false);
            }
        }
    }
    return ok;
}

Status exec(const QString &sql, const QStringList &values = {})
{
    QSqlQuery q(defaultConnection());
    if (!run(q, sql, values))
        return Status::failure(reasonOf(q));
    return {};
}

Result<int> execCount(const QString &sql, const QStringList &values = {})
{
    QSqlQuery q(defaultConnection());
    if (!run(q, sql, values))
        return Result<int>::failure(reasonOf(q));
    return q.numRowsAffected();
}

Result<Rows> selectRows(const QString &sql, const QStringList &values = {})
{
    QSqlQuery q(defaultConnection());
    q.setForwardOnly(true);
    if (!run(q, sql, values))
        return Result<Rows>::failure(reasonOf(q));
    const Rows rows = fetchRows(q);
    if (q.lastError().isValid())
        return base::failure(reasonOf(q));
    return rows;
}

// Every row of a select as records.
template <typename R>
Result<QList<R>> selectRecords(const QString &sql, const QStringList &values = {})
{
    const Result<Rows> rows = selectRows(sql, values);
    if (!rows)
        return base::failure(rows.error);
    QList<R> out;
    for (const Row &row : rows.value)
        out << R::fromRow(row);
    return out;
}

// The first row of a select as a record; an empty record when there is none.
template <typename R> Result<R> selectRecord(const QString &sql, const QStringList &values = {})
{
    const Result<QList<R>> records = selectRecords<R>(sql, values);
    if (!records)
        return base::failure(records.error);
    return records.value.isEmpty() ? R() : records.value.first();
}

// First row of a select, or a row of empty texts when there is none.
Result<Row> selectFirst(const QString &sql, int columns, const QStringList &values = {})
{
    Result<Rows> rows = selectRows(sql, values);
    if (!rows)
        return Result<Row>::failure(rows.error);
    Row row = rows.value.isEmpty() ? Row() : rows.value.first();
    while (row.size() < columns)
        row << QString();
    return row;
}

// The first value of a select, empty text when there is no row.
Result<QString> selectValue(const QString &sql, const QStringList &values)
{
    Result<Row> row = selectFirst(sql, 1, values);
    if (!row)
        return Result<QString>::failure(row.error);
    return row.value[0];
}

// A row by its key: replaced when there, inserted when not. The first
// `keys` columns are the key.
Status upsert(const QString &table, const QStringList &columns, int keys, const QStringList &values)
{
    const QString insert =
        QStringLiteral(" into %1 (%2) values (%3)")
            .arg(table, columns.join(QLatin1Char(',')), placeholders(columns.size()));
    if (!databaseIsServer())
        return exec(QStringLiteral("insert or replace") + insert, values);
    QStringList sets, where;
    for (int i = keys; i < columns.size(); ++i)
        sets << columns[i] + QStringLiteral("=?");
    for (int i = 0; i < keys; ++i)
        where << columns[i] + QStringLiteral("=?");
    const int mark = g_capture ? int(g_capture->size()) : 0;
    const Result<int> n =
        execCount(QStringLiteral("update %1 set %2 where %3")
                      .arg(table, sets.join(QLatin1Char(',')), where.join(QStringLiteral(" and "))),
                  values.mid(keys) + values.mid(0, keys));
    if (!n)
        return n.status();
    const Status st = n.value > 0 ? Status() : exec(QStringLiteral("insert") + insert, values);
    // Kept to be made again on the server, whose row may be there or not:
    // as the row's removal and insertion.
    if (st && g_capture) {
        g_capture->erase(g_capture->begin() + mark, g_capture->end());
        g_capture->append({QStringLiteral("delete from %1 where %2")
                               .arg(table, where.join(QStringLiteral(" and "))),
                           values.mid(0, keys)});
        g_capture->append({QStringLiteral("insert") + insert, values});
    }
    return st;
}

// Where the laboratory's own settings live (the certificate number's
// pattern): beside the file's tables, or shared by every station of a server.
QString labStateTable()
{
    // A station running on its copy reads what the copy took of them
    // (`lab_state` there; on the server the same name finds them again).
    if (!databaseIsServer())
        return QStringLiteral("orven_state");
    return serverOffline() ? QStringLiteral("lab_state") : QStringLiteral("orven.lab_state");
}

static QStringList &signedInRoles()
{
    static QStringList roles;
    return roles;
}

// With sign-in required, what only a role may do: refused to anyone else.
static Status requireRole(const QString &role, const QString &what)
{
    if (serverOffline())
        return {}; // nothing is written to the station's copy: the server refuses
    const Result<AccessSettings> access = accessSettings();
    if (!access)
        return access.status();
    if (!access.value.signInRequired || signedInRoles().contains(role))
        return {};
    return Status::failure(QStringLiteral("%1需要“%2”角色的操作员登录").arg(what, role));
}

// A count(*) of one bound value.
Result<int> countOf(const QString &sql, const QString &value)
{
    const Result<QString> n = selectValue(sql, {value});
    if (!n)
        return base::failure(n.error);
    return n.value.toInt();
}

// Deletes by one value and inserts, in one transaction.
template <typename Insert>
Status deleteThenInsert(const QString &deleteSql, const QString &key, Insert insert)
{
    return inTransaction([&] {
        Status st = exec(deleteSql, {key});
        if (st)
            st = insert();
        return st;
    });
}

QString deviceTable(Device d)
{
    return d == Device::A ? QStringLiteral("deviceA") : QStringLiteral("deviceB");
}

const char *const kCollectorUpdate =
    "update datacollect set num=?,name=?,type=?,portnum=?,serialnum=?,zqtem=?,zqhum=?,cltem=?,"
    "clhum=?,zhengshu=?,temnosure=?,temnosurek=?,humnosure=?,humnosurek=?,todata=? where num=?";

QString equipmentUpdateSql()
{
    QStringList sets = {QStringLiteral("name=?"),     QStringLiteral("companyname=?"),
                        QStringLiteral("address=?"),  QStringLiteral("type=?"),
                        QStringLiteral("model=?"),    QStringLiteral("equipmodel=?"),
                        QStringLiteral("listnum=?"),  QStringLiteral("temnum=?"),
                        QStringLiteral("humnum=?"),   QStringLiteral("madecompanyname=?"),
                        QStringLiteral("madedate=?"), QStringLiteral("temdown=?"),
                        QStringLiteral("temup=?"),    QStringLiteral("humdown=?"),
                        QStringLiteral("humup=?"),    QStringLiteral("adjustnum=?")};
    for (int i = 1; i <= 10; ++i)
        sets << QStringLiteral("tem%1=?").arg(i);
    for (int i = 1; i <= 10; ++i)
        sets << QStringLiteral("hum%1=?").arg(i);
    return QStringLiteral("update equipdata set ") + sets.join(QLatin1Char(',')) +
           QStringLiteral(" where name=?");
}

// ---- what a change is recorded with ----

// The rows of a select as compact JSON (what the audit trail keeps of an
// object before and after a change); empty when it cannot be read.
QString stateOf(const QList<QPair<QString, QStringList>> &selects)
{
    QJsonArray all;
    for (const auto &select : selects) {
        const Result<Rows> rows = selectRows(select.first, select.second);
        if (!rows)
            return QString();
        QJsonArray table;
        for (const Row &row : rows.value)
            table.append(QJsonArray::fromStringList(row));
        all.append(table);
    }
    return QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact));
}

Status statusOf(const Status &s)
{
    return s;
}

template <typename T> Status statusOf(const Result<T> &r)
{
    return r.status();
}

// The records a station may change while it runs on its copy: what a run
// reads, kept by the station and sent when the server answers.
bool keptWhileAway(const QString &action)
{
    static const QStringList kept{
        QStringLiteral("新增采集器"),       QStringLiteral("覆盖采集器记录"),
        QStringLiteral("修改采集器记录"),   QStringLiteral("删除采集器"),
        QStringLiteral("删除全部采集器"),   QStringLiteral("新增试验设备"),
        QStringLiteral("覆盖试验设备记录"), QStringLiteral("修改试验设备记录"),
        QStringLiteral("删除试验设备"),     QStringLiteral("删除全部试验设备"),
        QStringLiteral("写入通道配置"),     QStringLiteral("修改检定单位"),
        QStringLiteral("修改通道位置")};
    return kept.contains(action);
}

Status keepChangeWhileAway(const QString &action, const QString &object, const QString &before,
                           const QString &after, const QList<Captured> &statements);

// A change and its audit row, in one transaction: the object's state read
// before and after the change, the row appended only when the change
// succeeded, nothing kept when the row cannot be written. While the
// station runs on its copy, a record's change is made on the copy and kept,
// with its statements, to be made on the server when it answers.
template <typename Write>
auto audited(const QString &action, const QString &object, const std::function<QString()> &state,
             Write write) -> decltype(write())
{
    using Out = decltype(write());
    Out out;
    if (databaseIsServer() && serverOffline()) {
        if (!keptWhileAway(action))
            return base::failure(offlineWriteText());
        QList<Captured> statements;
        QString before, after;
        const Status st = capturedOnCopy(&statements, [&] {
            before = state ? state() : QString();
            out = write();
            const Status s = statusOf(out);
            if (s)
                after = state ? state() : QString();
            return s;
        });
        if (!st)
            return base::failure(st.error);
        if (const Status kept = keepChangeWhileAway(action, object, before, after, statements);
            !kept)
            return base::failure(kept.error);
        return out;
    }
    const Status st = inTransaction([&] {
        const QString before = state ? state() : QString();
        out = write();
        Status s = statusOf(out);
        if (s)
            s = appendAudit(action, object, before, state ? state() : QString());
        return s;
    });
    // The server stopped answering under the change: the station now runs
    // on its copy, where a record's change is made and kept to be sent.
    if (!st && databaseIsServer() && serverOffline() && keptWhileAway(action))
        return audited(action, object, state, write);
    if (!st)
        return base::failure(st.error);
    return out;
}

} // namespace

Changes *Changes::instance()
{
    static Changes changes;
    return &changes;
}

static Status announce(const Status &st)
{
    if (st)
        emit Changes::instance()->changed();
    return st;
}

// ---- shared selection ----

Result<Selection> readSelection()
{
    return selectRecord<Selection>(
        QStringLiteral("select datacollect,equipdata,secA,roadA,roadtypeA,secB,roadB,roadtypeB,"
                       "comnum from secdevice"));
}

Status keepChoiceWhileAway(const QList<Captured> &statements);

namespace {

// A station's own choice (what it calibrates with) is no record of the
// laboratory's: it has no trail row. While the station runs on its copy it
// is made there and kept, to be made on the server when it answers.
Status ownChoice(const std::function<Status()> &write)
{
    if (databaseIsServer() && serverOffline()) {
        QList<Captured> statements;
        const Status st = capturedOnCopy(&statements, write);
        return st ? keepChoiceWhileAway(statements) : st;
    }
    const Status st = inTransaction(write);
    // The server stopped answering under it: made on the copy instead.
    if (!st && databaseIsServer() && serverOffline())
        return ownChoice(write);
    return st;
}

} // namespace

Status selectCollector(const QString &serial)
{
    return announce(ownChoice(
        [&] { return exec(QStringLiteral("update secdevice set datacollect=?"), {serial}); }));
}

Status selectEquipment(const QString &name, const QString &tem, const QString &hum)
{
    return announce(ownChoice([&] {
        Status st = exec(QStringLiteral("update secdevice set equipdata=?"), {name});
        if (st)
            st = exec(QStringLiteral("update envirdata set tem=?,hum=?"), {tem, hum});
        return st;
    }));
}

Result<Ambient> readAmbient()
{
    const Result<Row> row = selectFirst(QStringLiteral("select tem,hum from envirdata"), 2);
    if (!row)
        return base::failure(row.error);
    return Ambient{row.value[0], row.value[1]};
}

// ---- collectors ----

Result<QList<Collector>> listCollectors()
{
    return selectRecords<Collector>(QStringLiteral("select * from datacollect"));
}

Status insertCollector(const Collector &collector)
{
    return exec(
        QStringLiteral("insert into datacollect values(%1)").arg(placeholders(Collector::kColumns)),
        collector.toRow());
}

Result<int> updateCollector(const Collector &collector)
{
    return execCount(QLatin1String(kCollectorUpdate), collector.toRow() << collector.num);
}

static Result<int> deleteCollectorsBySerialWrite(const QString &serial)
{
    return execCount(QStringLiteral("delete from datacollect where serialnum=?"), {serial});
}

Result<int> countCollectorsBySerial(const QString &serial)
{
    return countOf(QStringLiteral("select count(*) from datacollect where serialnum=?"), serial);
}

Status replaceCollector(const Collector &collector)
{
    return deleteThenInsert(QStringLiteral("delete from datacollect where serialnum=?"),
                            collector.serialnum, [&] { return insertCollector(collector); });
}

static Status deleteAllCollectorsWrite()
{
    return exec(QStringLiteral("delete from datacollect"));
}

// ---- equipment ----

Result<QList<Equipment>> listEquipment()
{
    return selectRecords<Equipment>(QStringLiteral("select * from equipdata"));
}

Status insertEquipment(const Equipment &equipment)
{
    return exec(
        QStringLiteral("insert into equipdata values(%1)").arg(placeholders(Equipment::kColumns)),
        equipment.toRow());
}

Result<int> updateEquipment(const Equipment &equipment)
{
    return execCount(equipmentUpdateSql(), equipment.toRow() << equipment.name);
}

static Result<int> deleteEquipmentByNameWrite(const QString &name)
{
    return execCount(QStringLiteral("delete from equipdata where name=?"), {name});
}

Result<int> countEquipmentByName(const QString &name)
{
    return countOf(QStringLiteral("select count(*) from equipdata where name=?"), name);
}

Status replaceEquipment(const Equipment &equipment)
{
    return deleteThenInsert(QStringLiteral("delete from equipdata where name=?"), equipment.name,
                            [&] { return insertEquipment(equipment); });
}

Result<Progress> readProgress()
{
    Progress progress;
    const Result<Selection> sel = readSelection();
    if (!sel)
        return Result<Progress>::failure(sel.error);
    const Result<QString> company = selectValue(QStringLiteral("select count(*) from company"), {});
    const Result<Row> collector = selectFirst(
        QStringLiteral("select serialnum,name from datacollect where serialnum=? limit 1"), 2,
        {sel.value.datacollect});
    const Result<QString> equipment = selectValue(
        QStringLiteral("select name from equipdata where name=? limit 1"), {sel.value.equipdata});
    const Result<QString> channels =
        selectValue(QStringLiteral("select count(*) from deviceA"), {});
    const Result<QString> headers =
        selectValue(QStringLiteral("select count(*) from datamark"), {});
    for (const Status &st : {company.status(), collector.status(), equipment.status(),
                             channels.status(), headers.status()})
        if (!st)
            return Result<Progress>::failure(st.error);
    progress.company = company.value.toInt() > 0;
    progress.collector = collector.value[0];
    progress.collectorName = collector.value[1];
    progress.equipment = equipment.value;
    progress.layout = channels.value.toInt() > 0;
    progress.processed = headers.value.toInt();
    return progress;
}

static Status deleteAllEquipmentWrite()
{
    return exec(QStringLiteral("delete from equipdata"));
}

Result<SetPoints> equipmentSetPoints(const QString &name)
{
    Result<Row> tem = selectFirst(
        QStringLiteral("select tem1,tem2,tem3,tem4,tem5,tem6,tem7,tem8,tem9,tem10 from equipdata "
                       "where name=?"),
        10, {name});
    if (!tem)
        return Result<SetPoints>::failure(tem.error);
    Result<Row> hum = selectFirst(
        QStringLiteral("select hum1,hum2,hum3,hum4,hum5,hum6,hum7,hum8,hum9,hum10 from equipdata "
                       "where name=?"),
        10, {name});
    if (!hum)
        return base::failure(hum.error);
    return SetPoints{tem.value, hum.value};
}

Result<QString> equipmentPointCount(const QString &name)
{
    return selectValue(QStringLiteral("select adjustnum from equipdata where name=?"), {name});
}

Result<QString> equipmentType(const QString &name)
{
    return selectValue(QStringLiteral("select type from equipdata where name=?"), {name});
}

Result<Equipment> equipmentRecord(const QString &name)
{
    return selectRecord<Equipment>(QStringLiteral("select * from equipdata where name=? limit 1"),
                                   {name});
}

Result<Collector> collectorRecord(const QString &serial)
{
    return selectRecord<Collector>(
        QStringLiteral("select * from datacollect where serialnum=? limit 1"), {serial});
}

namespace {

// What is kept beside a record's row (JSON), read as `Extra`.
template <typename Extra>
Result<Extra> readExtra(const QString &table, const QString &key, const QString &value)
{
    const Result<QString> json =
        selectValue(QStringLiteral("select data from %1 where %2=?").arg(table, key), {value});
    if (!json)
        return base::failure(json.error);
    return Extra::fromJson(QJsonDocument::fromJson(json.value.toUtf8()).object());
}

Status saveExtra(const QString &table, const QString &key, const QString &value,
                 const QJsonObject &data)
{
    return upsert(table, {key, QStringLiteral("data")}, 1,
                  {value, QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact))});
}

// Runs `write` (a record's row: the rows it wrote) and, when it wrote any,
// `extra` (what is kept beside that row), in one transaction.
Result<int> withExtra(const std::function<Result<int>()> &write,
                      const std::function<Status()> &extra)
{
    int written = 0;
    const Status st = inTransaction([&]() -> Status {
        const Result<int> rows = write();
        if (!rows)
            return rows.status();
        written = rows.value;
        return written > 0 ? extra() : Status();
    });
    if (!st)
        return base::failure(st.error);
    return written;
}

Result<int> oneRow(const Status &st)
{
    return st ? Result<int>(1) : Result<int>::failure(st.error);
}

} // namespace

Result<CollectorExtra> collectorExtra(const QString &serial)
{
    return readExtra<CollectorExtra>(QStringLiteral("collector_extra"), QStringLiteral("serialnum"),
                                     serial);
}

Status saveCollectorExtra(const QString &serial, const CollectorExtra &extra)
{
    return saveExtra(QStringLiteral("collector_extra"), QStringLiteral("serialnum"), serial,
                     extra.toJson());
}

Result<EquipmentExtra> equipmentExtra(const QString &name)
{
    return readExtra<EquipmentExtra>(QStringLiteral("equipment_extra"), QStringLiteral("name"),
                                     name);
}

Status saveEquipmentExtra(const QString &name, const EquipmentExtra &extra)
{
    return saveExtra(QStringLiteral("equipment_extra"), QStringLiteral("name"), name,
                     extra.toJson());
}

static Status saveCollectorWrite(const Collector &collector, const CollectorExtra &extra,
                                 bool replace)
{
    return withExtra(
               [&] {
                   return oneRow(replace ? replaceCollector(collector)
                                         : insertCollector(collector));
               },
               [&] { return saveCollectorExtra(collector.serialnum.trimmed(), extra); })
        .status();
}

static Result<int> modifyCollectorWrite(const Collector &collector, const CollectorExtra &extra)
{
    return withExtra([&] { return updateCollector(collector); },
                     [&] { return saveCollectorExtra(collector.serialnum.trimmed(), extra); });
}

static Status saveEquipmentWrite(const Equipment &equipment, const EquipmentExtra &extra,
                                 bool replace)
{
    return withExtra(
               [&] {
                   return oneRow(replace ? replaceEquipment(equipment)
                                         : insertEquipment(equipment));
               },
               [&] { return saveEquipmentExtra(equipment.name.trimmed(), extra); })
        .status();
}

static Result<int> modifyEquipmentWrite(const Equipment &equipment, const EquipmentExtra &extra)
{
    return withExtra([&] { return updateEquipment(equipment); },
                     [&] { return saveEquipmentExtra(equipment.name.trimmed(), extra); });
}

// ---- channel layouts ----

Result<QList<ChannelRow>> loadChannelTable(Device device)
{
    return selectRecords<ChannelRow>(QStringLiteral("select * from ") + deviceTable(device));
}

static Status storeChannelLayoutWrite(Device device, const QList<ChannelRow> &rows,
                                      const QString &count, const QString &road,
                                      const QString &kinds)
{
    const QString table = deviceTable(device);
    const bool a = device == Device::A;
    return announce(inTransaction([&] {
        Status st = exec(QStringLiteral("delete from ") + table);
        const QString insert = QStringLiteral("insert into %1 values(%2)")
                                   .arg(table, placeholders(ChannelRow::kColumns));
        for (int i = 0; st && i < rows.size(); ++i)
            st = exec(insert, rows[i].toRow());
        if (st)
            st = exec(a ? QStringLiteral("update secdevice set secA=?,roadA=?")
                        : QStringLiteral("update secdevice set secB=?,roadB=?"),
                      {count, road});
        if (st)
            st = exec(a ? QStringLiteral("update secdevice set roadtypeA=?")
                        : QStringLiteral("update secdevice set roadtypeB=?"),
                      {kinds});
        return st;
    }));
}

// ---- organisation ----

Result<Company> readCompany()
{
    return selectRecord<Company>(QStringLiteral("select * from company"));
}

static Status saveCompanyWrite(const Company &company, const QString &certificatePattern)
{
    if (!certificatePattern.isNull() && !validCertificatePattern(certificatePattern))
        return Status::failure(
            QStringLiteral("证书编号格式须含流水号 n（例如 yyyy-nnnn），不含 / 或 \\"));
    return announce(inTransaction([&] {
        Status st = exec(QStringLiteral("delete from company"));
        if (st)
            st = exec(QStringLiteral("insert into company values(%1)")
                          .arg(placeholders(Company::kColumns)),
                      company.toRow());
        if (st && !certificatePattern.isNull())
            st = upsert(labStateTable(), {QStringLiteral("key"), QStringLiteral("value")}, 1,
                        {QStringLiteral("certificatePattern"), certificatePattern});
        return st;
    }));
}

// ---- runs ----

Status insertSample(const Sample &sample)
{
    if (!databaseIsServer())
        return exec(QStringLiteral("insert into data values(?,?,?,?,?)"), sample.toRow());
    // On a server: kept on this station's disk, behind those already
    // waiting, and sent from there; a sample spooled before its run is
    // known gets the station's current run when it is sent.
    const Status st = spoolSample(sample, knownRun());
    if (st)
        sendSpoolSoon();
    return st;
}

Result<int> countHeaders()
{
    const Result<QString> n = selectValue(QStringLiteral("select count(*) from datamark"), {});
    if (!n)
        return base::failure(n.error);
    return n.value.toInt();
}

Result<bool> headerExists(const QString &dtbegin)
{
    // On a server: this station's; another station's is never replaced.
    const Result<QString> n = selectValue(
        databaseIsServer() ? QStringLiteral("select count(*) from orven.datamark where dtbegin=? "
                                            "and station=current_setting('orven.station')")
                           : QStringLiteral("select count(*) from datamark where dtbegin=?"),
        {dtbegin});
    if (!n)
        return base::failure(n.error);
    return n.value.toInt() > 0;
}

Result<QString> otherStationAt(const QString &dtbegin)
{
    if (!databaseIsServer())
        return QString();
    return selectValue(QStringLiteral("select station from orven.datamark where dtbegin=? and "
                                      "station<>current_setting('orven.station') limit 1"),
                       {dtbegin});
}

Result<QString> headerNumber(const QString &dtbegin)
{
    return selectValue(QStringLiteral("select num from datamark where dtbegin=?"), {dtbegin});
}

Status insertHeader(const RunHeader &header)
{
    return announce(exec(
        QStringLiteral("insert into datamark values(%1)").arg(placeholders(RunHeader::kColumns)),
        header.toRow()));
}

Status replaceHeader(const RunHeader &header)
{
    return inTransaction([&] {
        Status st = exec(QStringLiteral("delete from datamark where dtbegin=?"), {header.dtbegin});
        if (st)
            st = insertHeader(header);
        return st;
    });
}

Result<QList<RunHeader>> listHeaders()
{
    // Answered by the station's copy while the server is away.
    return selectRecords<RunHeader>(QStringLiteral("select * from datamark order by dtbegin"));
}

Result<FoundHeader> readHeader(const QString &dtbegin)
{
    const Result<QList<RunHeader>> headers = selectRecords<RunHeader>(
        QStringLiteral("select * from datamark where dtbegin=?"), {dtbegin});
    if (!headers)
        return base::failure(headers.error);
    FoundHeader found;
    found.found = !headers.value.isEmpty();
    if (found.found)
        found.header = headers.value.first();
    return found;
}

Result<QHash<QString, QString>> stationsOfCalibrations()
{
    QHash<QString, QString> out;
    if (!databaseIsServer())
        return out;
    const Result<Rows> found = selectRows(
        serverOffline() ? QStringLiteral("select dtbegin, station from calibration_station")
                        : QStringLiteral("select dtbegin, station from orven.datamark"));
    if (!found)
        return base::failure(found.error);
    for (const Row &r : found.value)
        out.insert(r.value(0), r.value(1));
    return out;
}

Result<QHash<QString, QString>> customersOfCalibrations()
{
    QHash<QString, QString> out;
    const Result<Rows> found = selectRows(
        QStringLiteral("select d.dtbegin, e.companyname from datamark d join equipdata e on "
                       "e.name=d.equipname"));
    if (!found)
        return base::failure(found.error);
    for (const Row &r : found.value)
        out.insert(r.value(0), r.value(1));
    return out;
}

// Deleting samples by the hundred thousand takes its time on a server.
constexpr int kLongDeleteMs = 30000;

static Result<int> deleteCalibrationWrite(const QString &dtbegin)
{
    int removed = 0;
    WindowDeadline allow(kLongDeleteMs);
    const Status st = inTransaction([&] {
        // The window spans every header with this key (older files may hold two).
        const Result<QString> end = selectValue(
            QStringLiteral("select max(dtend) from datamark where dtbegin=?"), {dtbegin});
        if (!end)
            return end.status();
        if (databaseIsServer()) {
            // Samples belong to their calibration by its run, whichever
            // station recorded them.
            const Result<int> n =
                execCount(QStringLiteral("delete from orven.data d using orven.datamark m where "
                                         "m.dtbegin=? and d.run=m.run and d.coltime>=m.dtbegin and "
                                         "d.coltime<=m.dtend"),
                          {dtbegin});
            if (!n)
                return n.status();
            removed = n.value;
        } else if (!end.value.isEmpty()) {
            const Result<int> n = execCount(
                QStringLiteral("delete from data where coltime>=? and coltime<=? and not exists "
                               "(select 1 from datamark m where m.dtbegin<>? and "
                               "data.coltime>=m.dtbegin and data.coltime<=m.dtend)"),
                {dtbegin, end.value, dtbegin});
            if (!n)
                return n.status();
            removed = n.value;
        }
        for (const char *table : {"evaluation", "snapshot"}) {
            const Status st =
                exec(QStringLiteral("delete from %1 where dtbegin=?").arg(QLatin1String(table)),
                     {dtbegin});
            if (!st)
                return st;
        }
        return exec(QStringLiteral("delete from datamark where dtbegin=?"), {dtbegin});
    });
    if (!st)
        return base::failure(st.error);
    return removed;
}

static Status storeCalibrationWrite(const RunHeader &header, const Snapshot &snapshot, bool replace)
{
    return inTransaction([&] {
        Status st =
            !replace ? Status()
            : databaseIsServer()
                ? exec(QStringLiteral("delete from orven.datamark where dtbegin=? and "
                                      "station=current_setting('orven.station')"),
                       {header.dtbegin})
                : exec(QStringLiteral("delete from datamark where dtbegin=?"), {header.dtbegin});
        // On a server the calibration takes the run of its samples, and
        // the next sample starts a new run.
        if (st && databaseIsServer())
            st = currentRun().status();
        if (st)
            st = insertHeader(header);
        if (st && databaseIsServer())
            st = endRun();
        if (st)
            st = upsert(
                QStringLiteral("snapshot"),
                {QStringLiteral("dtbegin"), QStringLiteral("taken"), QStringLiteral("records")}, 1,
                {header.dtbegin, snapshot.taken, snapshot.toJson()});
        return st;
    });
}

static Result<Snapshot> adoptTodaysRecordsWrite(const QString &dtbegin,
                                                const QStringList &collectors, const QString &by)
{
    if (by.trimmed().isEmpty())
        return base::failure(QStringLiteral("须写明由谁决定采用现在的记录"));
    Snapshot s;
    const Status st = inTransaction([&]() -> Status {
        const Result<FoundSnapshot> kept = snapshotOf(dtbegin);
        if (!kept)
            return kept.status();
        if (kept.value.found)
            return Status::failure(QStringLiteral("这次校准已有保存的记录，不再采用现在的记录"));
        const Result<QString> equipment = selectValue(
            QStringLiteral("select equipname from datamark where dtbegin=?"), {dtbegin});
        if (!equipment)
            return equipment.status();
        const Result<Snapshot> today = currentRecords(equipment.value, collectors);
        if (!today)
            return today.status();
        s = today.value;
        for (int i = 0; i < collectors.size(); ++i)
            if (s.collectors.value(i).serialnum != collectors[i])
                return Status::failure(
                    QStringLiteral("没有序列号为 %1 的采集器记录").arg(collectors[i]));
        s.adoptedBy = by.trimmed();
        return upsert(
            QStringLiteral("snapshot"),
            {QStringLiteral("dtbegin"), QStringLiteral("taken"), QStringLiteral("records")}, 1,
            {dtbegin, s.taken, s.toJson()});
    });
    if (!st)
        return base::failure(st.error);
    return s;
}

Result<FoundSnapshot> snapshotOf(const QString &dtbegin)
{
    const Result<QString> json =
        selectValue(QStringLiteral("select records from snapshot where dtbegin=?"), {dtbegin});
    if (!json)
        return base::failure(json.error);
    FoundSnapshot f;
    f.found = Snapshot::fromJson(json.value, &f.snapshot);
    return f;
}

Result<Snapshot> currentRecords(const QString &equipment, const QStringList &collectors)
{
    Snapshot s;
    s.taken = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const Result<Equipment> e = equipmentRecord(equipment);
    if (!e)
        return base::failure(e.error);
    s.equipment = e.value;
    const Result<EquipmentExtra> ee = equipmentExtra(equipment);
    if (!ee)
        return base::failure(ee.error);
    s.equipmentExtra = ee.value;
    for (const QString &serial : collectors) {
        const Result<Collector> c = collectorRecord(serial);
        if (!c)
            return base::failure(c.error);
        s.collectors << c.value;
        const Result<CollectorExtra> ce = collectorExtra(serial);
        if (!ce)
            return base::failure(ce.error);
        s.collectorExtras << ce.value;
    }
    const Result<Company> company = readCompany();
    if (!company)
        return base::failure(company.error);
    s.company = company.value;
    const Result<QList<ChannelRow>> a = loadChannelTable(Device::A);
    const Result<QList<ChannelRow>> b = loadChannelTable(Device::B);
    if (!a || !b)
        return base::failure(!a ? a.error : b.error);
    s.channelsA = a.value;
    s.channelsB = b.value;
    // Where each probe sat, with the layout (in the equipment's extra).
    const Result<QMap<QString, QString>> la = channelLocations(Device::A);
    const Result<QMap<QString, QString>> lb = channelLocations(Device::B);
    if (!la || !lb)
        return base::failure(!la ? la.error : lb.error);
    s.locationsA = la.value;
    s.locationsB = lb.value;
    return s;
}

QString certificateNumber(const QString &pattern, const QDateTime &when, int sequence)
{
    QString out;
    for (int i = 0; i < pattern.size();) {
        if (pattern.mid(i, 4) == QLatin1String("yyyy")) {
            out += when.toString(QStringLiteral("yyyy"));
            i += 4;
        } else if (pattern.mid(i, 2) == QLatin1String("yy")) {
            out += when.toString(QStringLiteral("yy"));
            i += 2;
        } else if (pattern.mid(i, 2) == QLatin1String("MM")) {
            out += when.toString(QStringLiteral("MM"));
            i += 2;
        } else if (pattern.at(i) == QLatin1Char('n')) {
            int n = 0;
            while (i < pattern.size() && pattern.at(i) == QLatin1Char('n')) {
                ++n;
                ++i;
            }
            out += QStringLiteral("%1").arg(sequence, n, 10, QLatin1Char('0'));
        } else {
            out += pattern.at(i++);
        }
    }
    return out;
}

bool validCertificatePattern(const QString &pattern)
{
    return pattern.contains(QLatin1Char('n')) && pattern.size() <= 40 &&
           !pattern.contains(QLatin1Char('/')) && !pattern.contains(QLatin1Char('\\'));
}

static const char kPatternKey[] = "certificatePattern"; // also in saveCompany

Result<QString> certificatePattern()
{
    const Result<QString> v =
        selectValue(QStringLiteral("select value from %1 where key=?").arg(labStateTable()),
                    {QLatin1String(kPatternKey)});
    if (!v)
        return v;
    return validCertificatePattern(v.value) ? v.value : QStringLiteral("yyyy-nnnn");
}

Status setCertificatePattern(const QString &pattern)
{
    if (!validCertificatePattern(pattern))
        return Status::failure(
            QStringLiteral("证书编号格式须含流水号 n（例如 yyyy-nnnn），不含 / 或 \\"));
    return upsert(labStateTable(), {QStringLiteral("key"), QStringLiteral("value")}, 1,
                  {QLatin1String(kPatternKey), pattern});
}

static Certificate certificateFrom(const Row &r)
{
    Certificate c;
    c.number = r.value(0);
    c.dtbegin = r.value(1);
    c.year = r.value(2).toInt();
    c.seq = r.value(3).toInt();
    c.issued = r.value(4);
    c.method = r.value(5);
    c.layout = r.value(6);
    c.prints = r.value(7).toInt();
    c.lastPrint = r.value(8);
    c.files = r.value(9);
    c.replaces = r.value(10);
    c.replacedBy = r.value(11);
    c.fingerprint = r.value(12);
    c.content = r.value(13);
    return c;
}

static const char kCertificateColumns[] =
    "number, dtbegin, year, seq, issued, method, layout, prints, lastprint, files, "
    "coalesce(replaces,''), coalesce(replacedby,''), coalesce(fingerprint,''), "
    "coalesce(content,'')";

Result<Certificate> certificateInForce(const QString &dtbegin)
{
    const Result<Rows> found =
        selectRows(QStringLiteral("select %1 from certificate where dtbegin=? and "
                                  "coalesce(replacedby,'')='' order by year desc, seq desc")
                       .arg(QLatin1String(kCertificateColumns)),
                   {dtbegin});
    if (!found)
        return base::failure(found.error);
    return found.value.isEmpty() ? Certificate() : certificateFrom(found.value.first());
}

namespace {

// What issuing would give now: a copy of the certificate in force when it
// was made from the same content, else the next number of the pattern,
// never given before. Reads only.
Status planCertificate(const QString &dtbegin, const QString &method, const QString &layout,
                       const QDateTime &when, const QString &fingerprint, const QString &content,
                       Certificate *out)
{
    const QString now = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const Result<Certificate> found = certificateInForce(dtbegin);
    if (!found)
        return found.status();
    const Certificate &inForce = found.value;
    // A certificate kept without its fingerprint (issued before documents
    // were kept) cannot be reproduced: it is replaced, never reprinted.
    if (!inForce.number.isEmpty() && !fingerprint.isEmpty() && inForce.fingerprint == fingerprint) {
        *out = inForce;
        ++out->prints;
        out->lastPrint = now;
        return {};
    }
    const Result<QString> pattern = certificatePattern();
    if (!pattern)
        return pattern.status();
    const bool yearly = pattern.value.contains(QLatin1String("yy"));
    const Result<QString> last =
        selectValue(yearly ? QStringLiteral("select max(seq) from certificate where year=?")
                           : QStringLiteral("select max(seq) from certificate where ?<>''"),
                    {QString::number(when.date().year())});
    if (!last)
        return last.status();
    int seq = last.value.toInt() + 1;
    // A number given before (under another pattern) is never given again.
    for (;; ++seq) {
        const Result<int> taken =
            countOf(QStringLiteral("select count(*) from certificate where number=?"),
                    certificateNumber(pattern.value, when, seq));
        if (!taken)
            return taken.status();
        if (taken.value == 0)
            break;
    }
    *out = Certificate();
    out->number = certificateNumber(pattern.value, when, seq);
    out->dtbegin = dtbegin;
    out->year = when.date().year();
    out->seq = seq;
    out->issued = now;
    out->method = method;
    out->layout = layout;
    out->prints = 1;
    out->lastPrint = now;
    out->replaces = inForce.number;
    out->fingerprint = fingerprint;
    out->content = content;
    return {};
}

QString filesText(const QList<IssuedFile> &files)
{
    QJsonArray list;
    for (const IssuedFile &f : files)
        list << QJsonObject{{QStringLiteral("file"), f.name}, {QStringLiteral("sha256"), f.sha256}};
    return list.isEmpty() ? QString()
                          : QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

} // namespace

Result<Certificate> nextCertificate(const QString &dtbegin, const QString &method,
                                    const QString &layout, const QDateTime &when,
                                    const QString &fingerprint, const QString &content)
{
    Certificate out;
    if (const Status st =
            planCertificate(dtbegin, method, layout, when, fingerprint, content, &out);
        !st)
        return base::failure(st.error);
    return out;
}

static Result<Certificate> issueCertificateWrite(const Certificate &planned,
                                                 const QList<IssuedFile> &files)
{
    Certificate out;
    const QDateTime when =
        QDateTime::fromString(planned.lastPrint, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const Status st = inTransaction([&]() -> Status {
        // Stations sharing a server take numbers one after another.
        if (databaseIsServer())
            if (const Status locked =
                    exec(QStringLiteral("select pg_advisory_xact_lock(70200002)"));
                !locked)
                return locked;
        if (const Status again =
                planCertificate(planned.dtbegin, planned.method, planned.layout,
                                when.isValid() ? when : QDateTime::currentDateTime(),
                                planned.fingerprint, planned.content, &out);
            !again)
            return again;
        // The document already carries its number (and what it replaces).
        if (out.number != planned.number || out.replaces != planned.replaces ||
            out.isCopy() != planned.isCopy())
            return Status::failure(
                QStringLiteral("证书 %1 刚被另一个工作站用去或修订，这份文件没有登记；请重新导出。")
                    .arg(planned.number));
        if (out.isCopy())
            return exec(
                QStringLiteral("update certificate set prints=?, lastprint=? where number=?"),
                {QString::number(out.prints), out.lastPrint, out.number});
        out.files = filesText(files);
        Status done = exec(
            QStringLiteral("insert into certificate (number, dtbegin, year, seq, issued, method, "
                           "layout, prints, lastprint, files, replaces, replacedby, fingerprint, "
                           "content) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
            {out.number, out.dtbegin, QString::number(out.year), QString::number(out.seq),
             out.issued, out.method, out.layout, QStringLiteral("1"), out.lastPrint, out.files,
             out.replaces, QString(), out.fingerprint, out.content});
        for (int i = 0; done && i < files.size(); ++i)
            done = exec(QStringLiteral("insert into certificate_file (id, number, name, sha256, "
                                       "content) values (?,?,?,?,?)"),
                        {out.number + QLatin1Char('.') + files[i].name, out.number, files[i].name,
                         files[i].sha256, QString::fromLatin1(files[i].bytes.toBase64())});
        if (done && !out.replaces.isEmpty())
            done = exec(QStringLiteral("update certificate set replacedby=? where number=?"),
                        {out.number, out.replaces});
        return done;
    });
    if (!st)
        return base::failure(st.error);
    return out;
}

Result<QList<IssuedFile>> issuedFiles(const QString &number)
{
    const Result<Rows> rows = selectRows(
        QStringLiteral("select name, sha256, content from certificate_file where number=? "
                       "order by name"),
        {number});
    if (!rows)
        return base::failure(rows.error);
    QList<IssuedFile> out;
    for (const Row &r : rows.value) {
        IssuedFile f{r.value(0), QByteArray::fromBase64(r.value(2).toLatin1()), r.value(1)};
        // What comes back is what was kept, or nothing.
        if (QString::fromLatin1(
                QCryptographicHash::hash(f.bytes, QCryptographicHash::Sha256).toHex()) != f.sha256)
            return base::failure(
                QStringLiteral("证书 %1 保存的 %2 文件与登记的摘要不符").arg(number, f.name));
        out << f;
    }
    return out;
}

Result<QList<Certificate>> listCertificates()
{
    const Result<Rows> rows =
        selectRows(QStringLiteral("select %1 from certificate order by year, seq")
                       .arg(QLatin1String(kCertificateColumns)));
    if (!rows)
        return base::failure(rows.error);
    QList<Certificate> out;
    for (const Row &r : rows.value)
        out << certificateFrom(r);
    return out;
}

Result<QString> evaluationSettings(const QString &dtbegin)
{
    return selectValue(QStringLiteral("select settings from evaluation where dtbegin=?"),
                       {dtbegin});
}

static Status storeEvaluationSettingsWrite(const QString &dtbegin, const QString &settings)
{
    return upsert(QStringLiteral("evaluation"),
                  {QStringLiteral("dtbegin"), QStringLiteral("settings")}, 1, {dtbegin, settings});
}

static Status clearCalibrationsWrite()
{
    WindowDeadline allow(kLongDeleteMs);
    if (databaseIsServer()) {
        // Only this station's calibrations and samples; the others' stay.
        return inTransaction([&] {
            Status st;
            for (const char *table : {"evaluation", "snapshot"})
                if (st)
                    st = exec(QStringLiteral(
                                  "delete from %1 where dtbegin in (select dtbegin from "
                                  "orven.datamark where station=current_setting('orven.station'))")
                                  .arg(QLatin1String(table)));
            if (st)
                st = exec(QStringLiteral(
                    "delete from orven.datamark where station=current_setting('orven.station')"));
            if (st)
                st = exec(QStringLiteral("delete from data"));
            if (st)
                st = endRun();
            return st;
        });
    }
    return inTransaction([&] {
        Status st = exec(QStringLiteral("delete from datamark"));
        if (st)
            st = exec(QStringLiteral("delete from data"));
        if (st)
            st = exec(QStringLiteral("delete from evaluation"));
        if (st)
            st = exec(QStringLiteral("delete from snapshot"));
        return st;
    });
}

Result<QList<Sample>> samplesInWindow(const QString &from, const QString &to)
{
    // Samples stay on the server: the station's copy has none.
    if (stillAway())
        return base::failure(offlineWriteText());
    return selectRecords<Sample>(
        QStringLiteral("select * from data where coltime>=? and coltime<=? order by coltime"),
        {from, to});
}

Result<QList<Sample>> unprocessedRun()
{
    // Samples stay on the server: the station's copy has none.
    if (stillAway())
        return base::failure(offlineWriteText());
    using R = Result<QList<Sample>>;
    // After this station's last calibration: on a server other stations
    // process theirs whenever they like, and their ends say nothing of this
    // station's samples.
    const QString ownEnd = databaseIsServer()
                               ? QStringLiteral("select max(dtend) as m from orven.datamark "
                                                "where station=current_setting('orven.station')")
                               : QStringLiteral("select max(dtend) as m from datamark");
    const Result<Row> last = selectFirst(
        QStringLiteral("select max(m), (select value from orven_state where key='setAsideThrough') "
                       "from (%1) as last")
            .arg(ownEnd),
        2);
    if (!last)
        return R::failure(last.error);
    const QString after = qMax(last.value.value(0), last.value.value(1));
    // The newest sample after that, and the start of its run: the first of
    // the last block of first-point samples before it.
    const Result<Row> end = selectFirst(
        QStringLiteral(
            "select rowid, equipname from data where coltime>? order by rowid desc limit 1"),
        2, {after});
    if (!end)
        return R::failure(end.error);
    if (end.value.value(0).isEmpty())
        return QList<Sample>();
    const QString point1 = QStringLiteral("检点1");
    const Result<Row> start = selectFirst(
        QStringLiteral("select coalesce((select max(rowid) from data where coltime>? and rowid<"
                       "  (select max(rowid) from data where coltime>? and jdnum=? and equipname=?)"
                       "  and (jdnum<>? or equipname<>?)) + 1, 0)"),
        1, {after, after, point1, end.value.value(1), point1, end.value.value(1)});
    if (!start)
        return R::failure(start.error);
    return selectRecords<Sample>(
        QStringLiteral("select * from data where coltime>? and rowid>=? and equipname=? "
                       "order by rowid"),
        {after, start.value.value(0), end.value.value(1)});
}

static Status setAsideUnprocessedWrite(const QString &through)
{
    return upsert(QStringLiteral("orven_state"), {QStringLiteral("key"), QStringLiteral("value")},
                  1, {QStringLiteral("setAsideThrough"), through});
}

static QString locationsKey(Device device)
{
    return device == Device::A ? QStringLiteral("locationsA") : QStringLiteral("locationsB");
}

Result<QMap<QString, QString>> channelLocations(Device device)
{
    const Result<QString> json = selectValue(
        QStringLiteral("select value from orven_state where key=?"), {locationsKey(device)});
    if (!json)
        return base::failure(json.error);
    QMap<QString, QString> out;
    const QJsonObject o = QJsonDocument::fromJson(json.value.toUtf8()).object();
    for (auto it = o.constBegin(); it != o.constEnd(); ++it)
        out.insert(it.key(), it.value().toString());
    return out;
}

static Status storeChannelLocationsWrite(Device device, const QMap<QString, QString> &locations)
{
    QJsonObject o;
    for (auto it = locations.constBegin(); it != locations.constEnd(); ++it)
        if (!it.value().isEmpty())
            o.insert(it.key(), it.value());
    return upsert(
        QStringLiteral("orven_state"), {QStringLiteral("key"), QStringLiteral("value")}, 1,
        {locationsKey(device), QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact))});
}

Status notePointStarted(int point)
{
    return upsert(QStringLiteral("orven_state"), {QStringLiteral("key"), QStringLiteral("value")},
                  1, {QStringLiteral("pointStarted"), QStringLiteral("检点%1").arg(point)});
}

QString databasePath()
{
    return openedDatabasePath();
}

// ---- the changes, each with its audit row ----

namespace {

std::function<QString()> collectorState(const QString &serial)
{
    return [serial] {
        return stateOf(
            {{QStringLiteral("select * from datacollect where serialnum=?"), {serial}},
             {QStringLiteral("select data from collector_extra where serialnum=?"), {serial}}});
    };
}

std::function<QString()> equipmentState(const QString &name)
{
    return [name] {
        return stateOf({{QStringLiteral("select * from equipdata where name=?"), {name}},
                        {QStringLiteral("select data from equipment_extra where name=?"), {name}}});
    };
}

std::function<QString()> tableState(const QString &sql)
{
    return [sql] { return stateOf({{sql, {}}}); };
}

} // namespace

Result<int> deleteCollectorsBySerial(const QString &serial)
{
    return audited(QStringLiteral("删除采集器"), QStringLiteral("采集器 ") + serial,
                   collectorState(serial), [&] { return deleteCollectorsBySerialWrite(serial); });
}

Status deleteAllCollectors()
{
    return audited(QStringLiteral("删除全部采集器"), QStringLiteral("采集器"),
                   tableState(QStringLiteral("select * from datacollect")),
                   [] { return deleteAllCollectorsWrite(); });
}

Result<int> deleteEquipmentByName(const QString &name)
{
    return audited(QStringLiteral("删除试验设备"), QStringLiteral("试验设备 ") + name,
                   equipmentState(name), [&] { return deleteEquipmentByNameWrite(name); });
}

Status deleteAllEquipment()
{
    return audited(QStringLiteral("删除全部试验设备"), QStringLiteral("试验设备"),
                   tableState(QStringLiteral("select * from equipdata")),
                   [] { return deleteAllEquipmentWrite(); });
}

Status saveCollector(const Collector &collector, const CollectorExtra &extra, bool replace)
{
    const QString serial = collector.serialnum.trimmed();
    return audited(replace ? QStringLiteral("覆盖采集器记录") : QStringLiteral("新增采集器"),
                   QStringLiteral("采集器 ") + serial, collectorState(serial),
                   [&] { return saveCollectorWrite(collector, extra, replace); });
}

Result<int> modifyCollector(const Collector &collector, const CollectorExtra &extra)
{
    const QString serial = collector.serialnum.trimmed();
    return audited(
        QStringLiteral("修改采集器记录"), QStringLiteral("采集器 ") + serial,
        [serial, num = collector.num] {
            return stateOf(
                {{QStringLiteral("select * from datacollect where num=?"), {num}},
                 {QStringLiteral("select data from collector_extra where serialnum=?"), {serial}}});
        },
        [&] { return modifyCollectorWrite(collector, extra); });
}

Status saveEquipment(const Equipment &equipment, const EquipmentExtra &extra, bool replace)
{
    const QString name = equipment.name.trimmed();
    return audited(replace ? QStringLiteral("覆盖试验设备记录") : QStringLiteral("新增试验设备"),
                   QStringLiteral("试验设备 ") + name, equipmentState(name),
                   [&] { return saveEquipmentWrite(equipment, extra, replace); });
}

Result<int> modifyEquipment(const Equipment &equipment, const EquipmentExtra &extra)
{
    const QString name = equipment.name.trimmed();
    return audited(QStringLiteral("修改试验设备记录"), QStringLiteral("试验设备 ") + name,
                   equipmentState(name), [&] { return modifyEquipmentWrite(equipment, extra); });
}

Status storeChannelLayout(Device device, const QList<ChannelRow> &rows, const QString &count,
                          const QString &road, const QString &kinds)
{
    const QString table = deviceTable(device);
    return audited(
        QStringLiteral("写入通道配置"),
        device == Device::A ? QStringLiteral("通道配置 设备一") : QStringLiteral("通道配置 设备二"),
        [table] {
            return stateOf({{QStringLiteral("select * from ") + table, {}},
                            {QStringLiteral("select * from secdevice"), {}}});
        },
        [&] { return storeChannelLayoutWrite(device, rows, count, road, kinds); });
}

Status saveCompany(const Company &company, const QString &certificatePattern)
{
    return audited(
        QStringLiteral("修改检定单位"), QStringLiteral("检定单位"),
        [] {
            return stateOf({{QStringLiteral("select * from company"), {}},
                            {QStringLiteral("select value from %1 where "
                                            "key='certificatePattern'")
                                 .arg(labStateTable()),
                             {}}});
        },
        [&] { return saveCompanyWrite(company, certificatePattern); });
}

Status storeChannelLocations(Device device, const QMap<QString, QString> &locations)
{
    const QString key = locationsKey(device);
    return audited(
        QStringLiteral("修改通道位置"),
        device == Device::A ? QStringLiteral("通道位置 设备一") : QStringLiteral("通道位置 设备二"),
        [key] {
            return stateOf({{QStringLiteral("select value from orven_state where key=?"), {key}}});
        },
        [&] { return storeChannelLocationsWrite(device, locations); });
}

Status storeEvaluationSettings(const QString &dtbegin, const QString &settings)
{
    return audited(
        QStringLiteral("修改评定设置"), QStringLiteral("校准 ") + dtbegin,
        [dtbegin] {
            return stateOf(
                {{QStringLiteral("select settings from evaluation where dtbegin=?"), {dtbegin}}});
        },
        [&] { return storeEvaluationSettingsWrite(dtbegin, settings); });
}

Status storeCalibration(const RunHeader &header, const Snapshot &snapshot, bool replace)
{
    const QString dtbegin = header.dtbegin;
    return audited(
        replace ? QStringLiteral("重新处理校准") : QStringLiteral("处理校准"),
        QStringLiteral("校准 ") + dtbegin,
        [dtbegin] {
            return stateOf({{QStringLiteral("select * from datamark where dtbegin=?"), {dtbegin}}});
        },
        [&] { return storeCalibrationWrite(header, snapshot, replace); });
}

// Why a calibration (empty: every calibration this station may clear)
// must stay: a certificate issued on it must keep leading back to its data.
static Result<QString> keptForCertificates(const QString &dtbegin)
{
    if (serverOffline())
        return QString(); // nothing is deleted from the station's copy: the server refuses
    const QString mine =
        databaseIsServer()
            ? QStringLiteral(" where dtbegin in (select dtbegin from orven.datamark where "
                             "station=current_setting('orven.station'))")
            : QString();
    const Result<Rows> issued =
        dtbegin.isEmpty()
            ? selectRows(
                  QStringLiteral("select number from certificate%1 order by number").arg(mine))
            : selectRows(QStringLiteral("select number from certificate where dtbegin=? order by "
                                        "number"),
                         {dtbegin});
    if (!issued)
        return base::failure(issued.error);
    if (issued.value.isEmpty())
        return QString();
    QStringList numbers;
    for (const Row &r : issued.value)
        numbers << r.value(0);
    const QString shown = numbers.size() > 5 ? numbers.mid(0, 5).join(QStringLiteral("、")) +
                                                   QStringLiteral(" 等 %1 份").arg(numbers.size())
                                             : numbers.join(QStringLiteral("、"));
    return dtbegin.isEmpty()
               ? QStringLiteral("已出具证书 %1，有证书的校准不能删除，不能全清").arg(shown)
               : QStringLiteral("校准 %1 已出具证书 %2，不能删除：证书必须能追溯到它的数据")
                     .arg(dtbegin, shown);
}

Result<int> deleteCalibration(const QString &dtbegin)
{
    WindowDeadline allow(kLongDeleteMs); // the whole transaction, the row with it
    return audited(
        QStringLiteral("删除校准"), QStringLiteral("校准 ") + dtbegin,
        [dtbegin] {
            return stateOf({{QStringLiteral("select * from datamark where dtbegin=?"), {dtbegin}}});
        },
        [&]() -> Result<int> {
            if (const Status allowed =
                    requireRole(QStringLiteral("管理员"), QStringLiteral("删除校准"));
                !allowed)
                return base::failure(allowed.error);
            // Looked at in the deletion's transaction.
            const Result<QString> kept = keptForCertificates(dtbegin);
            if (!kept)
                return base::failure(kept.error);
            if (!kept.value.isEmpty())
                return base::failure(kept.value);
            return deleteCalibrationWrite(dtbegin);
        });
}

Status clearCalibrations()
{
    WindowDeadline allow(kLongDeleteMs); // the whole transaction, the row with it
    return audited(
        QStringLiteral("全清校准"), QStringLiteral("校准"),
        [] {
            return stateOf({{QStringLiteral("select dtbegin, dtend, equipname, "
                                            "samplenum from datamark"),
                             {}},
                            {QStringLiteral("select count(*) from data"), {}}});
        },
        []() -> Status {
            if (const Status allowed =
                    requireRole(QStringLiteral("管理员"), QStringLiteral("全清校准"));
                !allowed)
                return allowed;
            const Result<QString> kept = keptForCertificates(QString());
            if (!kept)
                return kept.status();
            if (!kept.value.isEmpty())
                return Status::failure(kept.value);
            return clearCalibrationsWrite();
        });
}

Result<Certificate> issueCertificate(const Certificate &planned, const QList<IssuedFile> &files)
{
    // The row names the number taken, what it replaces and the files'
    // digests: written in the transaction that takes the number.
    Result<Certificate> issued;
    const Status st = inTransaction([&] {
        issued = issueCertificateWrite(planned, files);
        if (!issued)
            return issued.status();
        QJsonArray digests;
        for (const IssuedFile &f : files)
            digests.append(QJsonArray{f.name, f.sha256});
        const QJsonObject after{{QStringLiteral("number"), issued.value.number},
                                {QStringLiteral("dtbegin"), issued.value.dtbegin},
                                {QStringLiteral("replaces"), issued.value.replaces},
                                {QStringLiteral("fingerprint"), issued.value.fingerprint},
                                {QStringLiteral("files"), digests}};
        return appendAudit(issued.value.replaces.isEmpty() ? QStringLiteral("出具证书")
                                                           : QStringLiteral("出具修订证书"),
                           QStringLiteral("证书 ") + issued.value.number, QString(),
                           QString::fromUtf8(QJsonDocument(after).toJson(QJsonDocument::Compact)));
    });
    if (!st)
        return base::failure(st.error);
    return issued;
}

Result<Snapshot> adoptTodaysRecords(const QString &dtbegin, const QStringList &collectors,
                                    const QString &by)
{
    return audited(
        QStringLiteral("采用现行记录"), QStringLiteral("校准 ") + dtbegin,
        [dtbegin] {
            return stateOf(
                {{QStringLiteral("select taken from snapshot where dtbegin=?"), {dtbegin}}});
        },
        [&] { return adoptTodaysRecordsWrite(dtbegin, collectors, by); });
}

Status setAsideUnprocessed(const QString &through)
{
    return audited(
        QStringLiteral("放弃本次校准"), QStringLiteral("样本至 ") + through,
        [] {
            return stateOf({{QStringLiteral("select value from orven_state where "
                                            "key='setAsideThrough'"),
                             {}}});
        },
        [&] { return setAsideUnprocessedWrite(through); });
}

// ---- audit trail ----

namespace {

QString auditTable()
{
    return databaseIsServer() ? QStringLiteral("orven.audit") : QStringLiteral("audit");
}

QString &operatorOverride()
{
    static QString name;
    return name;
}

// A row's digest: its fields and the previous row's digest, as one JSON
// array (no field can run into the next).
QString auditHash(const AuditRow &r)
{
    QJsonArray fields{QString::number(r.seq),
                      r.at,
                      r.station,
                      r.operatorName,
                      r.action,
                      r.object,
                      r.before,
                      r.after,
                      r.prev};
    // Rows written before the tables' digests were kept hash as they did.
    if (!r.digests.isEmpty())
        fields.append(r.digests);
    return QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(fields).toJson(QJsonDocument::Compact),
                                 QCryptographicHash::Sha256)
            .toHex());
}

const char kAuditColumns[] = "seq,at,station,operator,action,object,before,after,prev,hash,digests";

// The tables whose every change the program records: a digest of each, as
// the last change left it, is kept in the trail, so a change made outside
// the program (sqlite3, psql) is found. The register's documents are
// covered by their SHA-256, kept beside them.
struct DigestedTable
{
    const char *name, *columns, *said;
};
const DigestedTable kDigested[] = {
    {"datacollect", "*", "采集器"},
    {"collector_extra", "*", "采集器的证书数据"},
    {"equipdata", "*", "试验设备"},
    {"equipment_extra", "*", "试验设备的附加数据"},
    {"company", "*", "检定单位"},
    {"deviceA", "*", "A 板通道配置"},
    {"deviceB", "*", "B 板通道配置"},
    {"operator_account", "*", "操作员"},
    {"datamark", "*", "校准记录"},
    {"evaluation", "*", "评定设置"},
    {"snapshot", "*", "处理时保存的记录"},
    {"certificate", "*", "证书登记"},
    {"certificate_file", "id,number,name,sha256", "证书文件"},
};

// A table's digest: its rows in a fixed order, whatever order they are kept in.
Result<QString> tableDigest(const DigestedTable &t)
{
    const QString name = QLatin1String(t.name);
    // On a server the digest is made there: nothing of the table crosses
    // the network.
    if (databaseIsServer()) {
        const Result<QString> digest = selectValue(
            QStringLiteral("select encode(sha256(convert_to(coalesce(string_agg(h, ',' order by "
                           "h), ''), 'UTF8')), 'hex') from (select md5(row(%1)::text) as h from "
                           "orven.%2 t) s")
                .arg(t.columns == QLatin1String("*") ? QStringLiteral("t.*")
                                                     : QLatin1String(t.columns),
                     name),
            {});
        if (!digest)
            return digest;
        return digest.value.left(16);
    }
    // On a file each row is read as one quoted text (NULL and the commas
    // between values kept apart), as bytes.
    QStringList columns;
    if (t.columns == QLatin1String("*")) {
        const Result<Rows> names =
            selectRows(QStringLiteral("select name from pragma_table_info(?)"), {name});
        if (!names)
            return base::failure(names.error);
        for (const Row &r : names.value)
            columns << r.value(0);
    } else
        columns = QString::fromLatin1(t.columns).split(QLatin1Char(','));
    for (QString &c : columns)
        c = QStringLiteral("quote(\"%1\")").arg(c);
    QSqlQuery q(defaultConnection());
    q.setForwardOnly(true);
    if (!run(q,
             QStringLiteral("select cast(%1 as blob) from %2")
                 .arg(columns.join(QStringLiteral("||','||")), name),
             {}))
        return base::failure(reasonOf(q));
    QList<QByteArray> rows;
    while (q.next())
        rows << QCryptographicHash::hash(q.value(0).toByteArray(), QCryptographicHash::Md5).toHex();
    if (q.lastError().isValid())
        return base::failure(reasonOf(q));
    std::sort(rows.begin(), rows.end());
    return QString::fromLatin1(
        QCryptographicHash::hash(rows.join(','), QCryptographicHash::Sha256).toHex().left(16));
}

// "name=digest;…" read and written.
QMap<QString, QString> digestsOf(const QString &text)
{
    QMap<QString, QString> out;
    for (const QString &part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        out.insert(part.section(QLatin1Char('='), 0, 0), part.section(QLatin1Char('='), 1));
    return out;
}

QString digestsText(const QMap<QString, QString> &digests)
{
    QStringList parts;
    for (const DigestedTable &t : kDigested)
        if (digests.contains(QLatin1String(t.name)))
            parts << QLatin1String(t.name) + QLatin1Char('=') + digests[QLatin1String(t.name)];
    return parts.join(QLatin1Char(';'));
}

AuditRow auditRowOf(const Row &r)
{
    AuditRow a;
    a.seq = r.value(0).toLongLong();
    a.at = r.value(1);
    a.station = r.value(2);
    a.operatorName = r.value(3);
    a.action = r.value(4);
    a.object = r.value(5);
    a.before = r.value(6);
    a.after = r.value(7);
    a.prev = r.value(8);
    a.hash = r.value(9);
    a.digests = r.value(10);
    return a;
}

} // namespace

QStringList operatorRoles()
{
    return {QStringLiteral("校准员"), QStringLiteral("核验员"), QStringLiteral("批准人"),
            QStringLiteral("管理员")};
}

Result<QList<OperatorAccount>> operatorAccounts()
{
    const Result<Rows> rows =
        selectRows(QStringLiteral("select name, roles from operator_account order by name"));
    if (!rows)
        return base::failure(rows.error);
    QList<OperatorAccount> out;
    for (const Row &r : rows.value)
        out << OperatorAccount{r.value(0), r.value(1).split(QLatin1Char(';'), Qt::SkipEmptyParts)};
    return out;
}

Status addOperatorAccount(const QString &name, const QStringList &roles, const QString &password)
{
    const QString who = name.trimmed();
    if (who.isEmpty() || who.size() > 40)
        return Status::failure(QStringLiteral("用户名不能为空，最长 40 个字"));
    if (roles.isEmpty())
        return Status::failure(QStringLiteral("至少要有一个角色"));
    for (const QString &r : roles)
        if (!operatorRoles().contains(r))
            return Status::failure(QStringLiteral("没有“%1”这个角色").arg(r));
    if (password.size() < 6)
        return Status::failure(QStringLiteral("密码至少 6 个字符"));
    const Result<QString> accounts =
        selectValue(QStringLiteral("select count(*) from operator_account"), {});
    if (!accounts)
        return accounts.status();
    if (accounts.value.toInt() > 0)
        if (const Status allowed =
                requireRole(QStringLiteral("管理员"), QStringLiteral("新增操作员"));
            !allowed)
            return allowed;
    const base::Result<QString> hash = base::hashPassword(password);
    if (!hash)
        return hash.status();
    QStringList ordered;
    for (const QString &r : operatorRoles())
        if (roles.contains(r))
            ordered << r;
    // The trail keeps the name and roles, never the hash.
    const auto state = [who] {
        const Result<QString> held =
            selectValue(QStringLiteral("select roles from operator_account where name=?"), {who});
        return held && !held.value.isEmpty() ? QStringLiteral("%1：%2").arg(who, held.value)
                                             : QString();
    };
    return announce(audited(
        QStringLiteral("新增操作员"), QStringLiteral("操作员 ") + who, state, [&]() -> Status {
            const Result<int> taken =
                countOf(QStringLiteral("select count(*) from operator_account where "
                                       "name=?"),
                        who);
            if (!taken)
                return taken.status();
            if (taken.value > 0)
                return Status::failure(QStringLiteral("已经有操作员“%1”").arg(who));
            return exec(QStringLiteral("insert into operator_account (name, "
                                       "roles, hash) values (?, ?, ?)"),
                        {who, ordered.join(QLatin1Char(';')), hash.value});
        }));
}

Result<OperatorAccount> signIn(const QString &name, const QString &password)
{
    const QString who = name.trimmed();
    const Result<Rows> rows = selectRows(
        QStringLiteral("select name, roles, hash from operator_account where name=?"), {who});
    if (!rows)
        return base::failure(rows.error);
    const bool known = !rows.value.isEmpty();
    if (!known || !base::passwordMatches(rows.value[0].value(2), password)) {
        const Status noted =
            appendAudit(QStringLiteral("登录被拒绝"), QStringLiteral("操作员 ") + who);
        if (!noted)
            return base::failure(noted.error);
        return base::failure(QStringLiteral("用户名或密码不对"));
    }
    OperatorAccount account{rows.value[0].value(0),
                            rows.value[0].value(1).split(QLatin1Char(';'), Qt::SkipEmptyParts)};
    setAuditOperator(account.name);
    signedInRoles() = account.roles;
    const Status noted = appendAudit(QStringLiteral("登录"), QStringLiteral("操作员 ") + who);
    if (!noted) {
        setAuditOperator(QString());
        return base::failure(noted.error);
    }
    return account;
}

QString signatureMeaning(const QString &role)
{
    return role == QStringLiteral("校准员")   ? QStringLiteral("校准")
           : role == QStringLiteral("核验员") ? QStringLiteral("核验")
           : role == QStringLiteral("批准人") ? QStringLiteral("批准")
                                              : QString();
}

Result<Signature> signAs(const QString &name, const QString &password, const QString &role,
                         const QString &hash, const QDateTime &at)
{
    const QString who = name.trimmed();
    const QString object = QStringLiteral("签名 ") + hash.left(16);
    const Result<Rows> rows =
        selectRows(QStringLiteral("select roles, hash from operator_account where name=?"), {who});
    if (!rows)
        return base::failure(rows.error);
    QString refused;
    if (rows.value.isEmpty() || !base::passwordMatches(rows.value[0].value(1), password))
        refused = QStringLiteral("%1：用户名或密码不对").arg(role);
    else if (!rows.value[0].value(0).split(QLatin1Char(';')).contains(role))
        refused = QStringLiteral("%1 没有“%2”角色，不能签署").arg(who, role);
    Signature s{who, role, signatureMeaning(role),
                at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), hash};
    const Status noted = appendAudit(
        refused.isEmpty() ? QStringLiteral("电子签名") : QStringLiteral("签名被拒绝"), object,
        QString(),
        QStringLiteral("%1 %2（%3）").arg(who, s.meaning, refused.isEmpty() ? s.at : refused));
    if (!noted)
        return base::failure(noted.error);
    if (!refused.isEmpty())
        return base::failure(refused);
    return s;
}

Status signOut(const QString &why)
{
    const QString who = operatorOverride();
    if (who.isEmpty())
        return {};
    const Status st = appendAudit(why, QStringLiteral("操作员 ") + who);
    setAuditOperator(QString());
    signedInRoles().clear();
    return st;
}

Result<AccessSettings> accessSettings()
{
    const Result<Rows> rows = selectRows(
        QStringLiteral("select key, value from %1 where key in ('signInRequired', 'idleMinutes')")
            .arg(labStateTable()));
    if (!rows)
        return base::failure(rows.error);
    AccessSettings out;
    for (const Row &r : rows.value) {
        if (r.value(0) == QLatin1String("signInRequired"))
            out.signInRequired = r.value(1) != QLatin1String("0");
        else if (r.value(1).toInt() > 0)
            out.idleMinutes = r.value(1).toInt();
    }
    return out;
}

Status saveAccessSettings(const AccessSettings &settings)
{
    if (settings.idleMinutes < 1 || settings.idleMinutes > 24 * 60)
        return Status::failure(QStringLiteral("锁定时间应为 1 至 1440 分钟"));
    if (const Status allowed =
            requireRole(QStringLiteral("管理员"), QStringLiteral("更改访问设置"));
        !allowed)
        return allowed;
    const auto state = [] {
        const Result<AccessSettings> a = accessSettings();
        return a ? QStringLiteral("登录%1；空闲 %2 分钟锁定")
                       .arg(a.value.signInRequired ? QStringLiteral("必需")
                                                   : QStringLiteral("不需要"))
                       .arg(a.value.idleMinutes)
                 : QString();
    };
    return announce(
        audited(QStringLiteral("访问设置"), QStringLiteral("访问设置"), state, [&]() -> Status {
            const QStringList columns{QStringLiteral("key"), QStringLiteral("value")};
            Status st =
                upsert(labStateTable(), columns, 1,
                       {QStringLiteral("signInRequired"),
                        settings.signInRequired ? QStringLiteral("1") : QStringLiteral("0")});
            if (st)
                st = upsert(labStateTable(), columns, 1,
                            {QStringLiteral("idleMinutes"), QString::number(settings.idleMinutes)});
            return st;
        }));
}

QString auditOperator()
{
    if (!operatorOverride().isEmpty())
        return operatorOverride();
    const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    return user.isEmpty() ? QStringLiteral("—") : user;
}

void setAuditOperator(const QString &name)
{
    operatorOverride() = name.trimmed();
    signedInRoles().clear(); // roles come with a sign-in only
}

namespace {

// A row appended to the chain: its time, station, operator and content as
// given; its number, the previous row's digest and the tables' digests
// taken here.
Status appendAuditRow(AuditRow r)
{
    return inTransaction([&] {
        // One writer at a time appends on a server: the chain has no forks.
        if (databaseIsServer()) {
            const Status locked = exec(QStringLiteral("select pg_advisory_xact_lock(70200002)"));
            if (!locked)
                return locked;
        }
        const Result<Row> last = selectFirst(
            QStringLiteral("select seq, hash, digests from %1 order by seq desc limit 1")
                .arg(auditTable()),
            3);
        if (!last)
            return last.status();
        // The tables written since the last row are digested again; the
        // others are as that row left them.
        QMap<QString, QString> digests = digestsOf(last.value.value(2));
        for (const DigestedTable &t : kDigested) {
            const QString name = QLatin1String(t.name);
            if (digests.contains(name) && !touchedTables().contains(name.toLower()))
                continue;
            const Result<QString> digest = tableDigest(t);
            if (!digest)
                return digest.status();
            digests.insert(name, digest.value);
        }
        touchedTables().clear();
        r.seq = last.value.value(0).toLongLong() + 1;
        r.prev = last.value.value(1);
        r.digests = digestsText(digests);
        r.hash = auditHash(r);
        Status st = exec(QStringLiteral("insert into %1 (%2) values(%3)")
                             .arg(auditTable(), QLatin1String(kAuditColumns), placeholders(11)),
                         {QString::number(r.seq), r.at, r.station, r.operatorName, r.action,
                          r.object, r.before, r.after, r.prev, r.hash, r.digests});
        // The last row's number and digest kept apart: a last row removed
        // leaves the chain whole but no longer ending there.
        if (st)
            st = upsert(
                labStateTable(), {QStringLiteral("key"), QStringLiteral("value")}, 1,
                {QStringLiteral("auditHead"), QString::number(r.seq) + QLatin1Char(' ') + r.hash});
        return st;
    });
}

// What happens while a station runs on its copy (the server away) is kept
// in a file of the station's own, and appended to the laboratory's trail
// when the server answers again.
const char kPendingTrail[] = "orven-trail-pending";

template <typename Body> Status onPendingTrail(Body body)
{
    Status st;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kPendingTrail));
        db.setDatabaseName(stationFilePath(QStringLiteral("trail")));
        QSqlQuery q(db);
        QString why;
        if (!db.open())
            st = Status::failure(db.lastError().text());
        else if (!runQuery(q,
                           QStringLiteral("create table if not exists pending (n integer primary "
                                          "key, at, station, operator, action, object, before, "
                                          "after, statements)"),
                           {}, &why))
            st = Status::failure(why);
        else
            st = body(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kPendingTrail));
    return st;
}

// A row as a change makes it now: its time, this station, who is signed in.
AuditRow auditRowNow(const QString &action, const QString &object, const QString &before,
                     const QString &after)
{
    AuditRow r;
    r.at = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    r.station = stationName();
    r.operatorName = auditOperator();
    r.action = action;
    r.object = object;
    r.before = before;
    r.after = after;
    return r;
}

// A row kept while the station runs on its copy ("…（离线）"), with the
// statements of its change when it has one.
// `r.action` empty: statements only (a station's own choice), no trail row.
Status keepPending(const AuditRow &r, const QString &statements = QString())
{
    return onPendingTrail([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        QString why;
        return runQuery(q,
                        QStringLiteral("insert into pending (at, station, operator, action, "
                                       "object, before, after, statements) values "
                                       "(?,?,?,?,?,?,?,?)"),
                        {r.at, r.station, r.operatorName,
                         r.action.isEmpty() ? QString() : r.action + QStringLiteral("（离线）"),
                         r.object, r.before, r.after, statements},
                        &why)
                   ? Status()
                   : Status::failure(why);
    });
}

} // namespace

Status appendAudit(const QString &action, const QString &object, const QString &before,
                   const QString &after)
{
    const AuditRow r = auditRowNow(action, object, before, after);
    return databaseIsServer() && serverOffline() ? keepPending(r) : appendAuditRow(r);
}

namespace {

// A failure that says nothing about the change itself: a lock held by
// another session, a deadlock, a cancelled statement, the connection
// (PostgreSQL's codes, which the driver's text carries in parentheses).
bool momentary(const QString &why)
{
    static const QRegularExpression codes(
        QStringLiteral("\\((55P03|40P01|40001|57014|08\\d\\d\\d)\\)"));
    return codes.match(why).hasMatch() || why == deadlineText() ||
           why.contains(QStringLiteral("服务器"));
}

QString statementsText(const QList<Captured> &statements)
{
    QJsonArray list;
    for (const Captured &c : statements)
        list.append(QJsonObject{{QStringLiteral("sql"), c.sql},
                                {QStringLiteral("values"), QJsonArray::fromStringList(c.values)}});
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

Status keepChangeWhileAway(const QString &action, const QString &object, const QString &before,
                           const QString &after, const QList<Captured> &statements)
{
    return keepPending(auditRowNow(action, object, before, after), statementsText(statements));
}

} // namespace

Status keepChoiceWhileAway(const QList<Captured> &statements)
{
    return keepPending(auditRowNow(QString(), QString(), QString(), QString()),
                       statementsText(statements));
}

namespace {

Status replay(const QString &statements)
{
    for (const QJsonValue &v : QJsonDocument::fromJson(statements.toUtf8()).array()) {
        const QJsonObject o = v.toObject();
        QStringList values;
        for (const QJsonValue &x : o.value(QStringLiteral("values")).toArray())
            values << x.toString();
        if (const Status st = exec(o.value(QStringLiteral("sql")).toString(), values); !st)
            return st;
    }
    return {};
}

// A change kept while away, made on the server with its audit row in one
// transaction, unless the server holds a later change of the same object:
// the later change wins, and both stay in the trail. A station's own choice
// (no action) is simply made.
Status sendChange(AuditRow r, const QString &statements)
{
    if (r.action.isEmpty())
        return inTransaction([&] { return replay(statements); });
    return inTransaction([&] {
        const Result<QString> later =
            selectValue(QStringLiteral("select count(*) from orven.audit where object=? and at>?"),
                        {r.object, r.at});
        if (!later)
            return later.status();
        if (later.value.toInt() > 0) {
            r.action.chop(1);
            r.action += QStringLiteral("，未采用：服务器上有更晚的修改）");
            return appendAuditRow(r);
        }
        if (const Status st = replay(statements); !st)
            return st;
        return appendAuditRow(r);
    });
}

// A row whose commit reached the server while its answer did not (the
// server went away at that moment) is there already: never sent twice. Its
// time (to the millisecond), station, operator, object and contents say
// which; its action may say since how it ended ("…，未采用：…）").
Result<bool> alreadySent(const AuditRow &r)
{
    const Result<Rows> found = selectRows(
        QStringLiteral("select action from orven.audit where at=? and station=? and operator=? "
                       "and object=? and before=? and after=?"),
        {r.at, r.station, r.operatorName, r.object, r.before, r.after});
    if (!found)
        return base::failure(found.error);
    const QString stem = r.action.left(r.action.size() - 1) + QStringLiteral("，");
    for (const Row &row : found.value)
        if (row.value(0) == r.action || row.value(0).startsWith(stem))
            return true;
    return false;
}

} // namespace

void sendPendingAuditSoon(int delayMs)
{
    QTimer::singleShot(delayMs, Changes::instance(), [] {
        if (!databaseIsServer() || serverOffline())
            return; // the next return sends it
        const Result<int> sent = sendPendingAudit();
        emit Changes::instance()->changed();
        if (!sent)
            sendPendingAuditSoon(3000);
    });
}

Result<int> sendPendingAudit()
{
    if (!databaseIsServer() || serverOffline())
        return 0;
    int sent = 0;
    const Status st = onPendingTrail([&](QSqlDatabase &db) {
        const Result<Rows> rows = rowsOn(
            db, QStringLiteral("select n, at, station, operator, action, object, before, after, "
                               "statements from pending order by n"));
        if (!rows)
            return rows.status();
        for (const Row &row : rows.value) {
            AuditRow r;
            r.at = row.value(1);
            r.station = row.value(2);
            r.operatorName = row.value(3);
            r.action = row.value(4);
            r.object = row.value(5);
            r.before = row.value(6);
            r.after = row.value(7);
            const QString statements = row.value(8);
            const Result<bool> there = r.action.isEmpty() ? false : alreadySent(r);
            if (!there)
                return there.status();
            Status appended = there.value            ? Status()
                              : statements.isEmpty() ? appendAuditRow(r)
                                                     : sendChange(r, statements);
            // A change the server refuses (not one it could not be asked
            // for, nor one held back by another session for a moment) is
            // given up, and the trail says why.
            if (!appended && !statements.isEmpty() && !r.action.isEmpty() &&
                !momentary(appended.error) && serverReady() && !serverOffline()) {
                r.action.chop(1);
                r.action += QStringLiteral("，未能送出：%1）").arg(appended.error);
                appended = appendAuditRow(r);
            }
            if (!appended)
                return appended;
            QSqlQuery q(db);
            QString why;
            if (!runQuery(q, QStringLiteral("delete from pending where n=?"), {row.value(0)}, &why))
                return Status::failure(why);
            ++sent;
        }
        return Status();
    });
    if (!st)
        return base::failure(st.error);
    return sent;
}

Result<QList<AuditRow>> auditRows(const QString &from, const QString &to, const QString &object)
{
    QStringList where, binds;
    if (!from.isEmpty()) {
        where << QStringLiteral("at>=?");
        binds << from;
    }
    if (!to.isEmpty()) {
        where << QStringLiteral("at<=?");
        binds << to;
    }
    if (!object.isEmpty()) {
        where << QStringLiteral("object like ?");
        binds << QLatin1Char('%') + object + QLatin1Char('%');
    }
    const Result<Rows> rows = selectRows(
        // Every column: a trail of an older file, opened for reading only,
        // has no digests.
        QStringLiteral("select * from %1%2 order by seq")
            .arg(auditTable(),
                 where.isEmpty() ? QString()
                                 : QStringLiteral(" where ") + where.join(QStringLiteral(" and "))),
        binds);
    if (!rows)
        return base::failure(rows.error);
    QList<AuditRow> out;
    for (const Row &r : rows.value)
        out << auditRowOf(r);
    return out;
}

Result<AuditCheck> verifyAudit()
{
    const Result<QList<AuditRow>> rows = auditRows({}, {}, {});
    if (!rows)
        return base::failure(rows.error);
    const Result<QString> head = selectValue(
        QStringLiteral("select value from %1 where key='auditHead'").arg(labStateTable()), {});
    if (!head)
        return base::failure(head.error);
    AuditCheck check;
    check.rows = rows.value.size();
    QString prev;
    qint64 expected = 1;
    for (const AuditRow &r : rows.value) {
        QString why;
        qint64 bad = r.seq;
        if (r.seq > expected) {
            bad = expected;
            why = r.seq == expected + 1
                      ? QStringLiteral("缺少第 %1 条（被删除）").arg(expected)
                      : QStringLiteral("缺少第 %1～%2 条（被删除，或第 %3 条是插入的）")
                            .arg(expected)
                            .arg(r.seq - 1)
                            .arg(r.seq);
        } else if (r.seq < expected)
            why = QStringLiteral("第 %1 条的序号重复或倒退").arg(r.seq);
        else if (r.prev != prev)
            why = QStringLiteral("第 %1 条与前一条接不上（前一条被改动、删除，或插入了记录）")
                      .arg(r.seq);
        else if (auditHash(r) != r.hash)
            why = QStringLiteral("第 %1 条的内容被改动").arg(r.seq);
        if (!why.isEmpty()) {
            check.firstBad = bad;
            check.reason = why;
            return check;
        }
        prev = r.hash;
        ++expected;
    }
    const QString last = rows.value.isEmpty() ? QString()
                                              : QString::number(rows.value.last().seq) +
                                                    QLatin1Char(' ') + rows.value.last().hash;
    if (head.value != last) {
        const qint64 kept = head.value.section(QLatin1Char(' '), 0, 0).toLongLong();
        const qint64 end = rows.value.isEmpty() ? 0 : rows.value.last().seq;
        if (kept > end) {
            check.firstBad = end + 1;
            check.reason =
                QStringLiteral("最后 %1 条记录被删除（应到第 %2 条）").arg(kept - end).arg(kept);
        } else if (kept < end) {
            check.firstBad = kept + 1;
            check.reason = QStringLiteral("第 %1 条起的记录不是本程序写入的").arg(kept + 1);
        } else {
            check.firstBad = end;
            check.reason = QStringLiteral("第 %1 条被替换").arg(end);
        }
        return check;
    }
    // The audited tables as the last change left them.
    if (rows.value.isEmpty() || rows.value.last().digests.isEmpty())
        return check;
    const QMap<QString, QString> kept = digestsOf(rows.value.last().digests);
    QStringList changed;
    for (const DigestedTable &t : kDigested) {
        const auto was = kept.find(QLatin1String(t.name));
        if (was == kept.end())
            continue;
        const Result<QString> now = tableDigest(t);
        if (!now)
            return base::failure(now.error);
        if (now.value != *was)
            changed
                << QStringLiteral("%1（%2）").arg(QString::fromUtf8(t.said), QLatin1String(t.name));
    }
    if (!changed.isEmpty()) {
        check.firstBad = rows.value.last().seq + 1;
        check.reason = QStringLiteral("%1在程序之外被改动（与第 %2 条记录后的内容不同）")
                           .arg(changed.join(QStringLiteral("、")))
                           .arg(rows.value.last().seq);
    }
    return check;
}

} // namespace storage
