#include "storage/samplereader.h"

#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>

namespace storage {

namespace {

// A prepared statement that finalizes itself.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_st, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_st); }
    bool ok() const { return m_rc == SQLITE_OK && m_st; }
    sqlite3_stmt *get() const { return m_st; }
    void bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_st, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
    }

private:
    sqlite3_stmt *m_st = nullptr;
    int m_rc = SQLITE_ERROR;
};

TextRef column(sqlite3_stmt *st, int i)
{
    TextRef t;
    t.data = reinterpret_cast<const char *>(sqlite3_column_text(st, i));
    t.size = sqlite3_column_bytes(st, i);
    if (!t.data) {
        t.data = "";
        t.size = 0;
    }
    return t;
}

} // namespace

SampleReader::~SampleReader()
{
    close();
}

void SampleReader::close()
{
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
    if (!m_connection.isEmpty()) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_connection.clear();
    m_window.clear();
    m_run.clear();
}

QString SampleReader::lastError() const
{
    if (!m_connection.isEmpty())
        return QSqlDatabase::database(m_connection, false).lastError().text();
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("database not open");
}

Status SampleReader::open(const QString &path)
{
    close();
    if (isServerUrl(path)) {
        static QAtomicInt serial;
        const QString name = QStringLiteral("orven-reader-%1").arg(serial.fetchAndAddRelaxed(1));
        const Status st = openServerConnection(name, path, false);
        if (!st) {
            QSqlDatabase::removeDatabase(name);
            return st;
        }
        m_connection = name;
        return {};
    }
    QString why;
    sqlite3 *db = openForReading(path, &why);
    if (!db)
        return Status::failure(why);
    // Off the GUI thread a writer's lock may be waited for.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "pragma query_only=1", nullptr, nullptr, nullptr);
    m_db = db;
    return {};
}

Result<qint64> SampleReader::countInWindow(const QString &from, const QString &to)
{
    if (!m_connection.isEmpty()) {
        if (const Result<QString> run = runOf(from, to); !run)
            return base::failure(run.error);
        const Result<Rows> n =
            m_run.isEmpty()
                ? rows("select count(*) from data where coltime>=? and coltime<=?", {from, to})
                : rows("select count(*) from orven.data where run=? and coltime>=? and coltime<=?",
                       {m_run, from, to});
        if (!n)
            return base::failure(n.error);
        return n.value.value(0).value(0).toLongLong();
    }
    Statement st(m_db, "select count(*) from data where coltime>=? and coltime<=?");
    if (!st.ok())
        return Result<qint64>::failure(lastError());
    st.bind(1, from);
    st.bind(2, to);
    if (sqlite3_step(st.get()) != SQLITE_ROW)
        return Result<qint64>::failure(lastError());
    return qint64(sqlite3_column_int64(st.get(), 0));
}

Status SampleReader::forEachInWindow(const QString &from, const QString &to, const Visitor &visit)
{
    if (!m_connection.isEmpty()) {
        if (const Result<QString> run = runOf(from, to); !run)
            return run.status();
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.setForwardOnly(true);
        const bool byRun = !m_run.isEmpty();
        q.prepare(byRun ? QStringLiteral("select jdnum,coltime,coldata from orven.data where run=? "
                                         "and coltime>=? and coltime<=? order by coltime, rowid")
                        : QStringLiteral("select jdnum,coltime,coldata from data where "
                                         "coltime>=? and coltime<=? order by coltime, rowid"));
        if (byRun)
            q.addBindValue(m_run);
        q.addBindValue(from);
        q.addBindValue(to);
        if (!q.exec())
            return Status::failure(q.lastError().text());
        while (q.next()) {
            const QByteArray a = q.value(0).toString().toUtf8(), b = q.value(1).toString().toUtf8(),
                             c = q.value(2).toString().toUtf8();
            if (!visit(TextRef{a.constData(), int(a.size())}, TextRef{b.constData(), int(b.size())},
                       TextRef{c.constData(), int(c.size())}))
                return {};
        }
        if (q.lastError().isValid())
            return Status::failure(q.lastError().text());
        return {};
    }
    Statement st(m_db, "select jdnum,coltime,coldata from data where coltime>=? and coltime<=? "
                       "order by coltime");
    if (!st.ok())
        return Status::failure(lastError());
    st.bind(1, from);
    st.bind(2, to);
    for (;;) {
        const int rc = sqlite3_step(st.get());
        if (rc == SQLITE_DONE)
            return {};
        if (rc != SQLITE_ROW)
            return Status::failure(lastError());
        if (!visit(column(st.get(), 0), column(st.get(), 1), column(st.get(), 2)))
            return {};
    }
}

Result<FoundHeader> SampleReader::header(const QString &dtbegin)
{
    const Result<QList<RunHeader>> found =
        records<RunHeader>("select * from datamark where dtbegin=? limit 1", {dtbegin});
    if (!found)
        return base::failure(found.error);
    FoundHeader h;
    h.found = !found.value.isEmpty();
    if (h.found)
        h.header = found.value.first();
    return h;
}

Result<QString> SampleReader::runOf(const QString &from, const QString &to)
{
    const QString window = from + QLatin1Char('|') + to;
    if (window == m_window)
        return m_run;
    const Result<Rows> run =
        rows("select run from orven.datamark where dtbegin=? and dtend=? order by run desc",
             {from, to}, 1);
    if (!run)
        return base::failure(run.error);
    m_window = window;
    m_run = run.value.value(0).value(0);
    return m_run;
}

Result<QList<RunHeader>> SampleReader::headers()
{
    return records<RunHeader>("select * from datamark order by dtbegin", {});
}

// Whether the file has the table `name` (a file from before it was added
// has not, and a read-only one cannot get it).
static Result<bool>
hasTable(const std::function<Result<Rows>(const char *, const QStringList &)> &rows,
         const QString &name)
{
    const Result<Rows> found =
        rows("select 1 from sqlite_master where type='table' and name=?", {name});
    if (!found)
        return base::failure(found.error);
    return !found.value.isEmpty();
}

Result<FoundSnapshot> SampleReader::snapshot(const QString &dtbegin)
{
    auto query = [this](const char *sql, const QStringList &binds) { return rows(sql, binds, 1); };
    const Result<bool> exists = hasTable(query, QStringLiteral("snapshot"));
    if (!exists)
        return base::failure(exists.error);
    FoundSnapshot f;
    if (!exists.value)
        return f;
    const Result<Rows> found = rows("select records from snapshot where dtbegin=?", {dtbegin}, 1);
    if (!found)
        return base::failure(found.error);
    if (!found.value.isEmpty())
        f.found = Snapshot::fromJson(found.value.first().value(0), &f.snapshot);
    return f;
}

Result<Rows> SampleReader::certificates(const QString &dtbegin)
{
    auto query = [this](const char *sql, const QStringList &binds) { return rows(sql, binds, 1); };
    const Result<bool> exists = hasTable(query, QStringLiteral("certificate"));
    if (!exists)
        return base::failure(exists.error);
    if (!exists.value)
        return Rows();
    // A register written before amendments has no replaces / replacedby.
    const Result<Rows> amended =
        rows("select number, prints, method, layout, issued, coalesce(replaces,''), "
             "coalesce(replacedby,'') from certificate where dtbegin=? order by year, seq",
             {dtbegin});
    if (amended)
        return amended;
    return rows("select number, prints, method, layout, issued from certificate where dtbegin=? "
                "order by number",
                {dtbegin});
}

Result<QString> SampleReader::evaluationSettings(const QString &dtbegin)
{
    auto query = [this](const char *sql, const QStringList &binds) { return rows(sql, binds, 1); };
    const Result<bool> exists = hasTable(query, QStringLiteral("evaluation"));
    if (!exists)
        return base::failure(exists.error);
    if (!exists.value)
        return QString();
    const Result<Rows> found =
        rows("select settings from evaluation where dtbegin=?", {dtbegin}, 1);
    if (!found)
        return base::failure(found.error);
    return found.value.isEmpty() ? QString() : found.value.first().value(0);
}

Result<Rows> SampleReader::rows(const char *sql, const QStringList &binds, int limit)
{
    if (!m_connection.isEmpty()) {
        // Tables a server always has, asked for as SQLite would be.
        if (qstrncmp(sql, "select 1 from sqlite_master", 27) == 0)
            return Rows{Row{QStringLiteral("1")}};
        return rowsOn(QSqlDatabase::database(m_connection, false), QString::fromUtf8(sql),
                      QVariantList(binds.cbegin(), binds.cend()), limit);
    }
    Statement st(m_db, sql);
    if (!st.ok())
        return base::failure(lastError());
    for (int i = 0; i < binds.size(); ++i)
        st.bind(i + 1, binds[i]);
    Rows out;
    while (limit < 0 || out.size() < limit) {
        const int rc = sqlite3_step(st.get());
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            return base::failure(lastError());
        Row row;
        for (int i = 0; i < sqlite3_column_count(st.get()); ++i)
            row << column(st.get(), i).text();
        out << row;
    }
    return out;
}

template <typename R>
Result<QList<R>> SampleReader::records(const char *sql, const QStringList &binds)
{
    const Result<Rows> found = rows(sql, binds);
    if (!found)
        return base::failure(found.error);
    QList<R> out;
    for (const Row &row : found.value)
        out << R::fromRow(row);
    return out;
}

template <typename R> Result<R> SampleReader::record(const char *sql, const QStringList &binds)
{
    const Result<QList<R>> found = records<R>(sql, binds);
    if (!found)
        return base::failure(found.error);
    return found.value.isEmpty() ? R() : found.value.first();
}

Result<Equipment> SampleReader::equipmentRecord(const QString &name)
{
    return record<Equipment>("select * from equipdata where name=? limit 1", {name});
}

Result<Collector> SampleReader::collectorRecord(const QString &serial)
{
    return record<Collector>("select * from datacollect where serialnum=? limit 1", {serial});
}

Result<Company> SampleReader::companyRecord()
{
    return record<Company>("select * from company limit 1", {});
}

Result<QList<ChannelRow>> SampleReader::channelRows(bool collectorTwo)
{
    return records<ChannelRow>(collectorTwo ? "select * from deviceB" : "select * from deviceA",
                               {});
}

int SampleReader::serverSocket() const
{
    return m_connection.isEmpty() ? -1 : socketOf(QSqlDatabase::database(m_connection, false));
}

void SampleReader::interrupt(int socket)
{
    cutOff(socket);
}

} // namespace storage
