#include "storage/database.h"

#include "base/paths.h"
#include "storage/localcopy.h"
#include "storage/server.h"
#include "storage/spool.h"
#include "storage/sqlkit.h"
#include "storage/transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>
#include <QVariant>
#include <sqlite3.h>

static void initStorageResources()
{
    Q_INIT_RESOURCE(storage);
}

namespace storage {

DatabaseLocation databaseLocation(const QString &programDir)
{
    const QString env = qEnvironmentVariable("ORVEN_DB");
    if (isServerUrl(env))
        return {env, QStringLiteral("ORVEN_DB")};
    if (!env.isEmpty())
        return {QFileInfo(env).absoluteFilePath(), QStringLiteral("ORVEN_DB")};
    const QString set = QSettings().value(QStringLiteral("database/url")).toString().trimmed();
    if (isServerUrl(set))
        return {set, QStringLiteral("settings")};
    const QString dir = programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir;
    if (base::folderIsWritable(dir))
        return {dir + QStringLiteral("/ORVDB.db3"), QStringLiteral("program folder")};
    return {base::userDataFolder() + QStringLiteral("/ORVDB.db3"),
            QStringLiteral("user data folder")};
}

QString defaultDatabasePath()
{
    return databaseLocation().path;
}

static bool g_readOnly = false;
static bool g_server = false;
static QString g_path; // the file of the default connection, never a URI; or the server's URL

bool databaseIsServer()
{
    return g_server;
}

static Status runScript(const QSqlDatabase &db, const QString &script)
{
    // Comment lines first, then one statement per ';'.
    QStringList kept;
    for (const QString &line : script.split(QLatin1Char('\n')))
        if (!line.trimmed().startsWith(QLatin1String("--")))
            kept << line;
    const QStringList statements = kept.join(QLatin1Char('\n')).split(QLatin1Char(';'));
    for (const QString &text : statements) {
        const QString statement = text.trimmed();
        if (statement.isEmpty())
            continue;
        QSqlQuery q(db);
        if (!q.exec(statement))
            return Status::failure(q.lastError().text());
    }
    return {};
}

static Status ensureSingleRow(QSqlDatabase &db, const QString &table, const QString &insert)
{
    QSqlQuery count(db);
    if (!count.exec(QStringLiteral("select count(*) from ") + table))
        return Status::failure(count.lastError().text());
    if (count.next() && count.value(0).toInt() > 0)
        return {};
    QSqlQuery q(db);
    if (!q.exec(insert))
        return Status::failure(q.lastError().text());
    return {};
}

static Result<QString> fileSchema()
{
    initStorageResources();
    QFile file(QStringLiteral(":/storage/schema.sql"));
    if (!file.open(QIODevice::ReadOnly))
        return base::failure(QStringLiteral("schema script missing"));
    return QString::fromUtf8(file.readAll());
}

Status createFileTables(const QSqlDatabase &db)
{
    const Result<QString> script = fileSchema();
    return script ? runScript(db, script.value) : script.status();
}

// A trail written before the tables' digests were kept gets their column;
// its rows stay as they were (their digests leave it out).
static Status upgradeAudit(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select sql from sqlite_master where type='table' and "
                               "name='audit'")))
        return Status::failure(q.lastError().text());
    if (!q.next() || q.value(0).toString().contains(QLatin1String("digests")))
        return {};
    q.finish();
    if (!q.exec(QStringLiteral("ALTER TABLE audit ADD COLUMN digests TEXT")))
        return Status::failure(q.lastError().text());
    return {};
}

// A register written before amendments (one number per calibration, no
// documents kept) is rebuilt with the columns they need; its rows stay.
static Status upgradeRegister(QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("select sql from sqlite_master where type='table' and "
                               "name='certificate'")))
        return Status::failure(q.lastError().text());
    if (!q.next() || q.value(0).toString().contains(QLatin1String("fingerprint")))
        return {};
    q.finish();
    static const char *const steps[] = {
        "CREATE TABLE certificate_upgrade (number TEXT PRIMARY KEY, dtbegin TEXT, year INTEGER, "
        "seq INTEGER, issued TEXT, method TEXT, layout TEXT, prints INTEGER, lastprint TEXT, "
        "files TEXT, replaces TEXT, replacedby TEXT, fingerprint TEXT, content TEXT)",
        "INSERT INTO certificate_upgrade (number, dtbegin, year, seq, issued, method, layout, "
        "prints, lastprint, files) SELECT number, dtbegin, year, seq, issued, method, layout, "
        "prints, lastprint, files FROM certificate",
        "DROP TABLE certificate",
        "ALTER TABLE certificate_upgrade RENAME TO certificate",
    };
    for (const char *step : steps)
        if (!q.exec(QLatin1String(step)))
            return Status::failure(q.lastError().text());
    return {};
}

Status ensureSchema()
{
    QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    if (!db.isOpen())
        return Status::failure(db.lastError().text());
    const Result<QString> script = fileSchema();
    if (!script)
        return script.status();

    return inTransaction([&] {
        // On a server the tables are there (made when connecting); this
        // station's single rows may not be.
        Status st = g_server ? Status() : runScript(db, script.value);
        if (st && !g_server)
            st = upgradeRegister(db);
        if (st && !g_server)
            st = upgradeAudit(db);
        if (st)
            st = ensureSingleRow(
                db, QStringLiteral("secdevice"),
                QStringLiteral("insert into secdevice values('','','','','','','','','')"));
        if (st)
            st = ensureSingleRow(db, QStringLiteral("envirdata"),
                                 QStringLiteral("insert into envirdata values('25','60')"));
        return st;
    });
}

static bool isReadOnly(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *h = *static_cast<sqlite3 *const *>(handle.data());
    return h && sqlite3_db_readonly(h, "main") == 1;
}

QString openedDatabasePath()
{
    return g_path;
}

bool databaseIsReadOnly()
{
    return g_readOnly;
}

// A WAL database in a folder that cannot be written has no shared-memory
// index: SQLite then reads it only as an immutable file.
static QString immutableUri(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded) +
           QStringLiteral("?immutable=1");
}

static Status openReadOnly(QSqlDatabase &db, const QString &path)
{
    g_readOnly = true;
    for (const QString &name : {path, immutableUri(path)}) {
        db.close();
        db.setDatabaseName(name);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=100"));
        if (!db.open())
            continue;
        QSqlQuery probe(db);
        if (probe.exec(QStringLiteral("select count(*) from sqlite_master")) && probe.next())
            return {};
    }
    const QString why = db.lastError().text().trimmed();
    return Status::failure(why.isEmpty() ? QStringLiteral("无法打开") : why);
}

// The server does not answer: the station starts on its copy of the
// records, and goes back to the server when it answers.
static Status openOffline(const QString &url, const QString &why)
{
    QSqlDatabase::removeDatabase(QString::fromLatin1(QSqlDatabase::defaultConnection));
    QString taken;
    const Status copy = openLocalCopy(&taken);
    if (!copy)
        return Status::failure(why + QStringLiteral("\n") + copy.error);
    const Result<Rows> run =
        rowsOn(QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false),
               QStringLiteral("select value from orven_state where key='currentRun'"), {}, 1);
    enterOffline(url, true, run && !run.value.isEmpty() ? run.value.first().value(0) : QString(),
                 taken, why);
    // What a station kept goes as soon as the server takes it.
    if (spoolState().waiting > 0)
        sendSpoolSoon();
    return {};
}

Status openDatabase(const QString &path, Access access)
{
    closeDatabase();
    g_readOnly = false;
    g_server = isServerUrl(path);
    g_path = path;
    if (g_server) {
        g_readOnly = access == Access::ReadOnly;
        bool unreachable = false;
        const Status st =
            openServerConnection(QString(), path, !g_readOnly, QString(), &unreachable);
        if (!st && unreachable && !g_readOnly)
            return openOffline(path, st.error);
        if (!st || g_readOnly)
            return st;
        // Taken whenever the server answers: what the station starts on
        // when it does not.
        refreshLocalCopy();
        const Status schema = ensureSchema();
        if (schema) {
            // Samples a station kept (before a cut, even) go first, so what
            // the window reads at start is complete; what the server does
            // not take yet goes later.
            flushSpool();
            if (spoolState().waiting > 0)
                sendSpoolSoon();
        }
        return schema;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    if (access == Access::ReadOnly)
        return openReadOnly(db, path);
    db.setDatabaseName(path);
    // A lock held elsewhere must never freeze the window: give up after 100 ms
    // and let the caller keep what it could not write.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100"));
    if (!db.open()) {
        const QString why = db.lastError().text().trimmed();
        return Status::failure(why.isEmpty() ? QStringLiteral("无法打开") : why);
    }
    if (isReadOnly(db))
        return Status::failure(QStringLiteral("数据库文件只读，不能保存任何数据"));
    // Readers on other threads never block the writer, and a commit does not
    // wait for the disk on every sample.
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("pragma journal_mode=WAL")))
            return Status::failure(q.lastError().text());
        if (!q.exec(QStringLiteral("pragma synchronous=NORMAL")))
            return Status::failure(q.lastError().text());
    }
    return ensureSchema();
}

void closeDatabase()
{
    // The copy follows what the station last saw on the server.
    if (g_server && !g_readOnly && !serverOffline())
        refreshLocalCopy();
    endLocalCopies();
    closeSpool();
    stopWatchdog();
    stopProbe();
    endOffline();
    const QString name = QString::fromLatin1(QSqlDatabase::defaultConnection);
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (db.isOpen()) {
            if (!g_readOnly && !g_server) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("pragma wal_checkpoint(truncate)"));
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
}

sqlite3 *openForReading(const QString &path, QString *why)
{
    const QByteArray name = path.toUtf8();
    const QByteArray immutable = immutableUri(path).toUtf8();
    struct Try
    {
        const char *name;
        int flags;
    };
    const Try tries[] = {{name.constData(), SQLITE_OPEN_READWRITE},
                         {name.constData(), SQLITE_OPEN_READONLY},
                         {immutable.constData(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI}};
    QString reason;
    for (const Try &t : tries) {
        sqlite3 *db = nullptr;
        const int rc = sqlite3_open_v2(t.name, &db, t.flags, nullptr);
        if (rc == SQLITE_OK && sqlite3_exec(db, "select count(*) from sqlite_master", nullptr,
                                            nullptr, nullptr) == SQLITE_OK)
            return db;
        reason = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
    }
    if (why)
        *why = QStringLiteral("%1: %2").arg(path, reason);
    return nullptr;
}

} // namespace storage
