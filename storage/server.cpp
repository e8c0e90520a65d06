#include "storage/server.h"

#include "base/paths.h"
#include "base/sharedtext.h"
#include "storage/database.h"
#include "storage/localcopy.h"
#include "storage/spool.h"
#include "storage/sqlkit.h"
#include "storage/statements.h"
#include "storage/transaction.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <libpq-fe.h>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <thread>

static void initServerResources()
{
    Q_INIT_RESOURCE(storage);
}

namespace storage {

static QString g_run; // the default connection's run, once set on its session
// How the default connection was opened, to open it again after the
// server went away.
static QString g_url, g_station;
static bool g_create = false, g_locked = false;
// Started without the server: running on the station's copy of its records.
static bool g_offline = false;
static bool g_wantsLock = false; // the station lock is taken once the server answers
static QString g_taken, g_offlineWhy;
static std::unique_ptr<QLockFile> g_offlineLock;
static bool g_needsSetUp = false;       // the default connection was lost
static const void *g_session = nullptr; // the libpq connection the session was set up on

static const void *handleOf(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant h = db.driver()->handle();
    return h.isValid() && h.data() ? *static_cast<void *const *>(h.data()) : nullptr;
}

bool isServerUrl(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) ||
           text.startsWith(QLatin1String("postgres://"));
}

QString serverDisplay(const QString &url)
{
    QUrl u(url);
    u.setPassword(QString());
    return u.toString();
}

QString databaseDisplay(const QString &pathOrUrl)
{
    return isServerUrl(pathOrUrl) ? serverDisplay(pathOrUrl) : pathOrUrl;
}

QString withoutPassword(const QString &text, const QString &pathOrUrl)
{
    if (!isServerUrl(pathOrUrl))
        return text;
    const QUrl u(pathOrUrl);
    QString out = text;
    out.replace(pathOrUrl, serverDisplay(pathOrUrl));
    const QString password = u.password();
    if (password.isEmpty())
        return out;
    const QString encoded = u.password(QUrl::FullyEncoded);
    for (const QString &p : {encoded, password})
        out.replace(QLatin1Char(':') + p + QLatin1Char('@'), QStringLiteral("@"));
    // A password of some length is never shown, whatever stands around it.
    if (password.size() >= 4) {
        out.replace(password, QStringLiteral("******"));
        out.replace(encoded, QStringLiteral("******"));
    }
    return out;
}

namespace {
base::SharedText g_refusal; // why the server refused this station's login
} // namespace

bool serverAnswers(const QString &url)
{
    QUrl u(url);
    QUrlQuery query(u);
    if (!query.hasQueryItem(QStringLiteral("connect_timeout")))
        query.addQueryItem(QStringLiteral("connect_timeout"), QStringLiteral("5"));
    u.setQuery(query);
    // PQping says whether a server accepts connections at all, without
    // logging in: a refused login, a missing database still answer.
    return PQping(u.toString(QUrl::FullyEncoded).toUtf8().constData()) == PQPING_OK;
}

// Opens `db`, once more when the first login fails on a server that
// answers: a server that held still through the first (its time-out) or
// restarted meanwhile takes the second. `refused`: it answers, and refused
// both: no outage.
static bool openOnce(QSqlDatabase &db, const QString &url, bool *refused)
{
    *refused = false;
    if (db.open())
        return true;
    if (!serverAnswers(url) || db.open())
        return db.isOpen();
    *refused = true;
    return false;
}

void noteRefusal(const QString &why)
{
    g_refusal.set(why);
}

QString serverRefusal()
{
    return g_refusal.get();
}

QString stationName()
{
    const QString env = qEnvironmentVariable("ORVEN_STATION").trimmed();
    if (!env.isEmpty())
        return env;
    const QString set = QSettings().value(QStringLiteral("database/station")).toString().trimmed();
    if (!set.isEmpty())
        return set;
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("station") : host;
}

namespace {

QString connectionName(const QString &connection)
{
    return connection.isEmpty() ? QString::fromLatin1(QSqlDatabase::defaultConnection) : connection;
}

Status exec(QSqlDatabase &db, const QString &sql, const QVariantList &binds = {})
{
    QSqlQuery q(db);
    QString why;
    return runQuery(q, sql, binds, &why)
               ? Status()
               : Status::failure(sql.left(60) + QStringLiteral("：") + why);
}

Result<QString> value(QSqlDatabase &db, const QString &sql, const QVariantList &binds = {})
{
    const Result<Rows> rows = rowsOn(db, sql, binds, 1);
    if (!rows)
        return base::failure(rows.error);
    return rows.value.value(0).value(0);
}

// A script's statements, split at each ';' outside a $$-quoted body.
QStringList scriptStatements(const QString &script)
{
    QStringList out;
    QString current;
    bool quoted = false;
    for (int i = 0; i < script.size(); ++i) {
        if (QStringView(script).mid(i, 2) == QLatin1String("$$")) {
            quoted = !quoted;
            current += QLatin1String("$$");
            ++i;
        } else if (script[i] == QLatin1Char(';') && !quoted) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
        } else
            current += script[i];
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

// Creates what is missing, in one transaction that other stations wait for.
Status ensureServerSchema(QSqlDatabase &db)
{
    initServerResources();
    const Result<QString> known =
        value(db, QStringLiteral("select to_regclass('orven.orven_schema') is not null"));
    if (!known)
        return base::failure(known.error);
    if (known.value == QLatin1String("true")) {
        const Result<QString> v =
            value(db, QStringLiteral("select coalesce(max(version), 0) from orven.orven_schema"));
        if (!v)
            return base::failure(v.error);
        if (v.value.toInt() > kServerSchemaVersion)
            return Status::failure(
                QStringLiteral("服务器上的数据库结构（版本 %1）比本程序新（本程序支持到版本 %2），"
                               "请先升级本程序。")
                    .arg(v.value.toInt())
                    .arg(kServerSchemaVersion));
        if (v.value.toInt() == kServerSchemaVersion)
            return {};
    }
    QFile file(QStringLiteral(":/storage/schema-server.sql"));
    if (!file.open(QIODevice::ReadOnly))
        return Status::failure(QStringLiteral("schema script missing"));
    QStringList kept;
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
        if (!line.trimmed().startsWith(QLatin1String("--")))
            kept << line;
    if (!db.transaction())
        return Status::failure(db.lastError().text());
    Status st = exec(db, QStringLiteral("select pg_advisory_xact_lock(70200001)"));
    // "does not exist, skipping" and the like are no news.
    if (st)
        st = exec(db, QStringLiteral("set local client_min_messages = warning"));
    for (const QString &text : scriptStatements(kept.join(QLatin1Char('\n')))) {
        if (!st)
            break;
        st = exec(db, text);
    }
    if (st)
        st = exec(db, QStringLiteral("delete from orven.orven_schema"));
    if (st)
        st = exec(db, QStringLiteral("insert into orven.orven_schema values (?)"),
                  {kServerSchemaVersion});
    if (!st) {
        db.rollback();
        return st;
    }
    if (!db.commit())
        return Status::failure(db.lastError().text());
    return {};
}

// The session's views: the usual table names, this station's rows of the
// single-station tables, every station's calibrations.
Status createViews(QSqlDatabase &db)
{
    struct View
    {
        const char *name, *columns;
        bool ownStation;
    };
    const View views[] = {
        {"secdevice", "datacollect,equipdata,secA,roadA,roadtypeA,secB,roadB,roadtypeB,comnum",
         true},
        {"envirdata", "tem,hum", true},
        {"deviceA",
         "num,headtype,chantype,wiring,mxm,mxb,r0,compmode,cjtemp,coefa,coefb,coefc,coefa4,coefb4",
         true},
        {"deviceB",
         "num,headtype,chantype,wiring,mxm,mxb,r0,compmode,cjtemp,coefa,coefb,coefc,coefa4,coefb4",
         true},
        {"orven_state", "key,value", true},
        {"data", "equipname,jdnum,coltime,colname,coldata,rowid", true},
        {"datamark",
         "num,dtbegin,dtend,pointnum,temset,humset,kindsA,kindsB,collector,equipname,channum,"
         "samplenum,chanlist,envtem,envhum,equiptype,typesA,typesB",
         false},
    };
    for (const View &v : views) {
        const Status st = exec(
            db, QStringLiteral("create or replace temp view %1 as select %2 from orven.%1%3")
                    .arg(QLatin1String(v.name), QLatin1String(v.columns),
                         v.ownStation
                             ? QStringLiteral(" where station=current_setting('orven.station')")
                             : QString()));
        if (!st)
            return st;
    }
    return {};
}

// Host (or socket folder), port, user, password and database of `u`.
void configure(QSqlDatabase &db, const QUrl &u)
{
    QString host = QUrl::fromPercentEncoding(u.host(QUrl::FullyEncoded).toUtf8());
    const QUrlQuery query(u);
    if (query.hasQueryItem(QStringLiteral("host")))
        host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (!host.isEmpty())
        db.setHostName(host);
    if (u.port() > 0)
        db.setPort(u.port());
    db.setUserName(u.userName());
    db.setPassword(u.password());
    db.setDatabaseName(u.path().mid(1));
    // A server that went away is noticed within seconds, not minutes.
    // A network that drops while a statement is under way ends it within
    // two seconds (what was sent but not acknowledged), rather than after
    // the system's retransmissions (minutes).
    db.setConnectOptions(QStringLiteral("connect_timeout=5;keepalives=1;keepalives_idle=5;"
                                        "keepalives_interval=2;keepalives_count=2;"
                                        "tcp_user_timeout=2000"));
}

// What every session needs: the schema on the path, the station, the
// views; the default connection also never waits long for a lock.
Status setUpSession(QSqlDatabase &db, bool isDefault, bool create, const QString &station)
{
    Status st = exec(db, QStringLiteral("set search_path = orven"));
    if (st)
        st = exec(db, QStringLiteral("select set_config('orven.station', ?, false)"),
                  {station.isEmpty() ? stationName() : station});
    if (st)
        st = exec(db, QStringLiteral("select set_config('orven.run', '', false)"));
    // A lock held elsewhere must never freeze the window: give up after
    // 100 ms and let the caller keep what it could not write.
    if (st && isDefault)
        st = exec(db, QStringLiteral("set lock_timeout = '100ms'"));
    if (st)
        st = createViews(db);
    // Readers, and a workstation opened for viewing, never write.
    if (st && !create)
        st = exec(db, QStringLiteral("set default_transaction_read_only = on"));
    return st;
}

} // namespace

Status openServerConnection(const QString &connection, const QString &url, bool create,
                            const QString &station, bool *unreachable)
{
    const QUrl u(url);
    if (!u.isValid() || !isServerUrl(url))
        return Status::failure(QStringLiteral("数据库地址无效：%1").arg(serverDisplay(url)));
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName(connection));
    if (!db.isValid())
        return Status::failure(
            QStringLiteral("没有 PostgreSQL 的 Qt 驱动（Debian 软件包 libqt5sql5-psql）"));
    configure(db, u);
    bool refused = false;
    if (!openOnce(db, url, &refused)) {
        const QString why = withoutPassword(db.lastError().text().trimmed(), url);
        // A server that answers but refuses (the password, the user, the
        // database) is no outage: waiting for it changes nothing.
        if (refused) {
            noteRefusal(why);
            return Status::failure(
                QStringLiteral("数据库服务器 %1 拒绝了连接（用户名、密码或数据库名不对？）：%2\n"
                               "请改正数据库设置后重新启动工作站。")
                    .arg(serverDisplay(url), why));
        }
        if (unreachable)
            *unreachable = true;
        return Status::failure(
            QStringLiteral("连接数据库服务器 %1 失败：%2").arg(serverDisplay(url), why));
    }
    if (create) {
        if (const Status st = ensureServerSchema(db); !st)
            return st;
    } else {
        // The version table is named only once it is known to be there: a
        // statement naming a missing table fails as a whole.
        Result<QString> v = value(
            db, QStringLiteral("select case when to_regclass('orven.orven_schema') is null "
                               "then 0 else 1 end"));
        if (v && v.value.toInt() != 0)
            v = value(db,
                      QStringLiteral("select coalesce(max(version),0) from orven.orven_schema"));
        if (!v)
            return base::failure(v.error);
        if (v.value.toInt() != kServerSchemaVersion)
            return Status::failure(
                v.value.toInt() == 0
                    ? QStringLiteral("服务器上还没有工作站的数据")
                    : QStringLiteral("服务器上的数据库结构版本 %1，本程序为版本 %2")
                          .arg(v.value.toInt())
                          .arg(kServerSchemaVersion));
    }
    if (connection.isEmpty()) {
        g_run.clear();
        g_url = url;
        g_station = station;
        g_create = create;
        g_locked = false;
        g_needsSetUp = false;
    }
    const Status st = setUpSession(db, connection.isEmpty(), create, station);
    if (connection.isEmpty())
        g_session = handleOf(db);
    return st;
}

Status grantStationRole(const QString &url, const QString &role, const QString &password)
{
    if (role.trimmed().isEmpty() || role.size() > 63)
        return Status::failure(QStringLiteral("角色名不能为空，最长 63 个字符"));
    if (password.size() < 8)
        return Status::failure(QStringLiteral("角色的密码至少 8 个字符"));
    const QString connection = QStringLiteral("orven-grant");
    Status st = openServerConnection(connection, url, true);
    if (st) {
        QSqlDatabase db = QSqlDatabase::database(connectionName(connection), false);
        // DDL takes no bound values: the server quotes the name and the
        // password itself (format's %I and %L), and each text is run as made.
        // Each step's values: r the role, p the password.
        struct Step
        {
            const char *sql, *values;
        };
        const Step steps[] = {
            {"select case when exists (select 1 from pg_roles where rolname = ?) "
             "then format('alter role %I login password %L', ?::text, ?::text) "
             "else format('create role %I login password %L', ?::text, ?::text) end",
             "rrprp"},
            {"select format('grant connect, temporary on database %I to %I', "
             "current_database(), ?::text)",
             "r"},
            {"select format('grant usage on schema orven to %I', ?::text)", "r"},
            {"select format('grant select, insert, update, delete on all tables in schema "
             "orven to %I', ?::text)",
             "r"},
            {"select format('grant usage, select on all sequences in schema orven to %I', ?::text)",
             "r"},
            // The trail: read and appended to, never changed or emptied.
            {"select format('revoke update, delete, truncate on orven.audit from %I', ?::text)",
             "r"},
            {"select format('revoke insert, update, delete on orven.orven_schema from %I', "
             "?::text)",
             "r"},
        };
        if (!db.transaction())
            st = Status::failure(db.lastError().text());
        for (const Step &step : steps) {
            if (!st)
                break;
            QVariantList binds;
            for (const char *v = step.values; *v; ++v)
                binds << (*v == 'p' ? password : role.trimmed());
            const Result<QString> statement = value(db, QLatin1String(step.sql), binds);
            st = statement ? exec(db, statement.value) : statement.status();
        }
        if (st && !db.commit())
            st = Status::failure(db.lastError().text());
        if (!st)
            db.rollback();
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName(connection));
    // The password appears in no reason given.
    if (!st && !password.isEmpty())
        st.error.replace(password, QStringLiteral("***"));
    return st;
}

QString stationFilePath(const QString &kind)
{
    QString station = stationName();
    for (QChar &c : station)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_'))
            c = QLatin1Char('_');
    const QByteArray server = QCryptographicHash::hash(serverDisplay(openedDatabasePath()).toUtf8(),
                                                       QCryptographicHash::Sha1)
                                  .toHex()
                                  .left(10);
    return base::userDataFolder() +
           QStringLiteral("/%1-%2-%3.db3").arg(kind, station, QString::fromLatin1(server));
}

static QString lockedText()
{
    return QStringLiteral("工作站“%1”已经在另一台电脑或另一个窗口里运行，"
                          "一个工作站名只能由一个程序使用。\n"
                          "请在设置中给这台电脑另起一个工作站名。")
        .arg(stationName());
}

// Without the server, two programs of one station on this computer are
// kept apart by a lock file beside the copy; the server's lock is taken
// when it answers.
static Status lockOffline()
{
    if (!g_offlineLock) {
        auto lock = std::make_unique<QLockFile>(localCopyPath() + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0))
            return Status::failure(lockedText());
        g_offlineLock = std::move(lock);
    }
    g_wantsLock = true;
    return {};
}

Status lockStation(const QString &connection)
{
    if (connection.isEmpty() && g_offline)
        return lockOffline();
    std::optional<WindowDeadline> deadline;
    if (connection.isEmpty())
        deadline.emplace();
    QSqlDatabase db = QSqlDatabase::database(connectionName(connection), false);
    const Result<QString> got =
        value(db, QStringLiteral("select pg_try_advisory_lock(hashtext('orven-station:' || ?))"),
              {stationName()});
    if (!got)
        return base::failure(got.error);
    if (got.value == QLatin1String("true") && connection.isEmpty())
        g_locked = true;
    if (got.value != QLatin1String("true"))
        return Status::failure(lockedText());
    return {};
}

static const char kRunKey[] = "currentRun";

Result<QString> stationRunOn(const QSqlDatabase &db)
{
    // Unique across stations and restarts; whoever asks first (the window
    // or the spool's sender) makes it.
    const QString fresh =
        QStringLiteral("%1/%2/%3")
            .arg(stationName(),
                 QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmsszzz")))
            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    QSqlDatabase on = db;
    if (const Status st = exec(on,
                               QStringLiteral("insert into orven.orven_state (key, value) values "
                                              "(?, ?) on conflict do nothing"),
                               {QLatin1String(kRunKey), fresh});
        !st)
        return base::failure(st.error);
    return value(on,
                 QStringLiteral("select value from orven.orven_state where "
                                "station=current_setting('orven.station') and key=?"),
                 {QLatin1String(kRunKey)});
}

Result<QString> currentRun()
{
    if (!g_run.isEmpty())
        return g_run;
    WindowDeadline deadline;
    QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    const Result<QString> run = stationRunOn(db);
    if (!run)
        return run;
    if (const Status st =
            exec(db, QStringLiteral("select set_config('orven.run', ?, false)"), {run.value});
        !st)
        return base::failure(st.error);
    g_run = run.value;
    return run;
}

QString knownRun()
{
    return g_run;
}

Status endRun()
{
    g_run.clear();
    WindowDeadline deadline;
    QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    Status st =
        exec(db, QStringLiteral("delete from orven_state where key=?"), {QLatin1String(kRunKey)});
    if (st)
        st = exec(db, QStringLiteral("select set_config('orven.run', '', false)"));
    return st;
}

} // namespace storage

namespace storage {

// Whether the server answers, found out on a thread of its own: a host
// that does not answer must never hold up the window for the connection
// timeout.
static std::atomic<bool> g_answers{false};
static std::atomic<bool> g_probing{false};
static std::thread g_probe;

static void stopProbeAtExit()
{
    if (g_probe.joinable())
        g_probe.join();
}

static void startProbe()
{
    if (g_probing.exchange(true))
        return;
    // Joined before the application object goes, whoever forgets to close.
    static bool registered = false;
    if (!registered && QCoreApplication::instance()) {
        qAddPostRoutine(stopProbeAtExit);
        registered = true;
    }
    if (g_probe.joinable())
        g_probe.join();
    const QString url = g_url;
    g_probe = std::thread([url] {
        const QString name = QStringLiteral("orven-probe");
        bool ok = false;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            configure(db, QUrl(url));
            db.setConnectOptions(QStringLiteral("connect_timeout=5"));
            bool refused = false;
            ok = openOnce(db, url, &refused);
            if (refused)
                noteRefusal(withoutPassword(db.lastError().text().trimmed(), url));
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (!ok)
            std::this_thread::sleep_for(std::chrono::seconds(1)); // not more than once a second
        g_answers = ok;
        g_probing = false;
    });
}

void stopProbe()
{
    if (g_probe.joinable())
        g_probe.join();
    g_probing = false;
    g_answers = false;
    noteRefusal(QString()); // the settings may have changed: ask again
}

void enterOffline(const QString &url, bool create, const QString &run, const QString &taken,
                  const QString &why)
{
    g_url = url;
    g_station.clear();
    g_create = create;
    g_locked = false;
    g_wantsLock = false;
    g_needsSetUp = true;
    g_session = nullptr;
    g_run = run;
    g_offline = true;
    g_taken = taken;
    g_offlineWhy = why;
    g_answers = false;
    noteCopyWrittenHere();
}

void endOffline()
{
    g_offline = false;
    g_wantsLock = false;
    g_offlineLock.reset();
}

bool serverOffline()
{
    return g_offline;
}

OfflineState offlineState()
{
    return {g_offline, g_taken, g_offlineWhy};
}

QString offlineWriteText()
{
    return QStringLiteral("数据库服务器现在无法连接，工作站用本机的记录副本（%1 取自服务器）运行："
                          "这一操作要等服务器恢复后才能进行（可以校准，样本暂存在本机；"
                          "采集器、试验设备、检定单位、通道的修改和所选的设备先存在本机，服务器恢复后送出）。")
        .arg(g_taken);
}

// The server answers again: the default connection goes back to it, the
// station's lock and single rows with it; the pages read again.
static bool goOnline()
{
    const QString run = g_run;
    closeLocalCopy();
    g_offline = false;
    Status st = openServerConnection(QString(), g_url, g_create, g_station);
    if (st)
        st = ensureSchema();
    if (st && g_wantsLock)
        st = lockStation(QString());
    if (!st) {
        // Back on the copy; tried again later.
        closeLocalCopy();
        QString taken;
        openLocalCopy(&taken);
        g_run = run;
        g_needsSetUp = true;
        g_offline = true;
        g_offlineWhy = st.error;
        return false;
    }
    g_offlineLock.reset();
    refreshLocalCopySoon();
    // What waits in the spool goes; once the statement that found the
    // server back is done, the pages read again.
    sendSpoolSoon();
    // What the trail kept meanwhile goes first (the pages then read again).
    sendPendingAuditSoon();
    return true;
}

bool goOffline(const QString &why)
{
    if (g_offline || !databaseIsServer() || databaseIsReadOnly() || inTransactionNow() ||
        g_url.isEmpty() || !localCopyReadable())
        return false;
    const QString url = g_url, station = g_station, run = g_run;
    const bool create = g_create, wantsLock = g_locked || g_wantsLock;
    // The session is given up without a word to the server (its socket
    // was cut, or the server does not answer).
    {
        QSqlDatabase db =
            QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QString::fromLatin1(QSqlDatabase::defaultConnection));
    QString taken;
    const Status copy = openLocalCopy(&taken);
    enterOffline(url, create, run, taken, copy ? why : why + QLatin1Char('\n') + copy.error);
    g_station = station;
    if (wantsLock)
        lockOffline();
    QTimer::singleShot(0, Changes::instance(), [] { emit Changes::instance()->changed(); });
    return true;
}

// Whether the server answers, as the probe thread found out; asked for
// again, and waited for up to `waitMs`.
static bool serverAnswered(int waitMs)
{
    if (!g_answers) {
        startProbe();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (g_probing && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!g_answers)
        return false;
    g_answers = false;
    return true;
}

bool connectionBroken()
{
    QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    const void *conn = handleOf(db);
    if (!conn)
        return false;
    if (PQstatus(static_cast<const PGconn *>(conn)) == CONNECTION_BAD)
        return true;
    // libpq does not always mark a session the server closed: one that
    // cannot run the smallest statement is cut off (a closed socket fails
    // at once).
    QSqlQuery probe(db);
    return !probe.exec(QStringLiteral("select 1"));
}

bool reopenIfBroken()
{
    return databaseIsServer() && !g_offline && connectionBroken() && reconnectIfLost(150);
}

bool reconnectIfLost(int waitMs)
{
    // Refused, not away: asking again would only be refused again.
    if (!serverRefusal().isEmpty())
        return false;
    if (g_offline)
        return serverAnswered(waitMs) && goOnline();
    QSqlDatabase db =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    if (!db.isValid() || g_url.isEmpty())
        return false;
    if (!g_needsSetUp) {
        QSqlQuery probe(db);
        if (db.isOpen() && probe.exec(QStringLiteral("select 1")))
            return true; // the connection holds; the statement failed on its own
        g_needsSetUp = true;
        g_answers = false;
        db.close();
    }
    if (!db.isOpen()) {
        if (!serverAnswered(waitMs) || !db.open())
            return false;
    }
    g_run.clear(); // set again on the new session by the next sample
    Status st = setUpSession(db, true, g_create, g_station);
    if (st && g_locked)
        st = lockStation(QString());
    if (!st) {
        db.close();
        return false;
    }
    g_needsSetUp = false;
    g_session = handleOf(db);
    return true;
}

QString serverAwayText()
{
    if (const QString refused = serverRefusal(); !refused.isEmpty())
        return QStringLiteral("数据库服务器拒绝了这个工作站的登录（用户名、密码或数据库名不对？），"
                              "请改正数据库设置后重新启动工作站：") +
               refused;
    const QString why =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false)
            .lastError()
            .text()
            .trimmed();
    return QStringLiteral("数据库服务器暂时无法连接") +
           (why.isEmpty() ? QString() : QStringLiteral("：") + why);
}

bool serverReady()
{
    // Qt opens a closed connection again by itself when a statement is
    // made on it: such a session has none of this station's settings yet.
    if (!g_needsSetUp &&
        handleOf(QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection),
                                        false)) != g_session)
        g_needsSetUp = true;
    return !g_needsSetUp || reconnectIfLost();
}

// ---- the window's deadline: a watchdog thread that cuts off a statement
// the server does not answer in time ----
//
// A statement may be long on a server that is there (a lock, a large
// deletion); one on a server that stopped (a frozen host, a paused
// machine) never ends. To tell the two apart at once, a statement still
// running after a moment has the heartbeat ask the server, on a session of
// its own, the smallest question: unanswered within a moment, the server
// is taken to hold still and the statement is cut off, long before its
// deadline.

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kAskAfter = std::chrono::milliseconds(20);
constexpr auto kAnswerWithin = std::chrono::milliseconds(130);
constexpr auto kAskEvery = std::chrono::milliseconds(50);

struct Heartbeat
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool connected = false;     // a session to ask on
    SteadyClock::time_point asked, answered; // when last asked; when the last answered question was sent
    QByteArray url;
} g_heart;

PGconn *heartbeatConnect(const QByteArray &url)
{
    PGconn *conn = PQconnectStart(url.constData());
    if (!conn)
        return nullptr;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    const auto until = SteadyClock::now() + std::chrono::seconds(5);
    while (PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK &&
           state != PGRES_POLLING_FAILED && SteadyClock::now() < until) {
        pollfd p{PQsocket(conn), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (::poll(&p, 1, 50) > 0)
            state = PQconnectPoll(conn);
        std::lock_guard<std::mutex> lock(g_heart.mutex);
        if (g_heart.stop)
            break;
    }
    if (state == PGRES_POLLING_OK && PQstatus(conn) == CONNECTION_OK)
        return conn;
    PQfinish(conn);
    return nullptr;
}

void wakeWatchdog();

void heartbeatLoop()
{
    PGconn *conn = nullptr;
    bool busy = false; // a question sent, its answer not read yet
    SteadyClock::time_point sent;
    const auto drop = [&] {
        PQfinish(conn);
        conn = nullptr;
        busy = false;
        std::lock_guard<std::mutex> lock(g_heart.mutex);
        g_heart.connected = false;
    };
    for (;;) {
        QByteArray url;
        {
            std::unique_lock<std::mutex> lock(g_heart.mutex);
            if (g_heart.stop)
                break;
            url = g_heart.url;
            if (conn && !busy) {
                // Idle until a statement of the window's wants an answer.
                g_heart.wake.wait(lock, [&] { return g_heart.stop || g_heart.asked > sent; });
                if (g_heart.stop)
                    break;
                sent = SteadyClock::now();
            }
        }
        if (!conn) {
            conn = heartbeatConnect(url);
            std::unique_lock<std::mutex> lock(g_heart.mutex);
            g_heart.connected = conn != nullptr;
            if (!conn)
                g_heart.wake.wait_for(lock, std::chrono::milliseconds(500),
                                      [] { return g_heart.stop; });
            continue;
        }
        if (!busy) {
            if (!PQsendQuery(conn, "select 1")) {
                drop();
                continue;
            }
            busy = true;
        }
        pollfd p{PQsocket(conn), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        if (!PQconsumeInput(conn)) {
            drop();
            continue;
        }
        while (busy && !PQisBusy(conn)) {
            PGresult *r = PQgetResult(conn);
            if (r) {
                PQclear(r);
                continue;
            }
            busy = false;
            {
                std::lock_guard<std::mutex> lock(g_heart.mutex);
                g_heart.answered = sent;
            }
            wakeWatchdog();
        }
        if (PQstatus(conn) == CONNECTION_BAD)
            drop();
    }
    if (conn)
        PQfinish(conn);
    std::lock_guard<std::mutex> lock(g_heart.mutex);
    g_heart.connected = false;
}

// Asks the server now; the time asked, for heartbeatMissed().
SteadyClock::time_point heartbeatAsk()
{
    std::lock_guard<std::mutex> lock(g_heart.mutex);
    g_heart.asked = SteadyClock::now();
    g_heart.wake.notify_all();
    return g_heart.asked;
}

// The question asked at `asked` (or a later one) has no answer yet, on a
// session that was there to ask on.
bool heartbeatMissed(SteadyClock::time_point asked)
{
    std::lock_guard<std::mutex> lock(g_heart.mutex);
    return g_heart.connected && g_heart.answered < asked;
}

bool heartbeatAnswered(SteadyClock::time_point asked)
{
    std::lock_guard<std::mutex> lock(g_heart.mutex);
    return g_heart.answered >= asked;
}

void stopHeartbeat();

// A heartbeat on `url` (one on another server, opened before, is ended).
void startHeartbeat(const QString &url)
{
    static QString running; // the window's statements ask with the same url
    if (g_heart.thread.joinable() && url == running)
        return;
    running = url;
    QUrl u(url);
    QUrlQuery query(u);
    for (const auto &[key, value] : {std::pair<const char *, const char *>{"connect_timeout", "5"},
                                      {"application_name", "orven-heartbeat"}})
        if (!query.hasQueryItem(QLatin1String(key)))
            query.addQueryItem(QLatin1String(key), QLatin1String(value));
    u.setQuery(query);
    stopHeartbeat();
    std::lock_guard<std::mutex> lock(g_heart.mutex);
    g_heart.url = u.toString(QUrl::FullyEncoded).toUtf8();
    g_heart.stop = false;
    g_heart.connected = false;
    g_heart.asked = g_heart.answered = SteadyClock::time_point();
    g_heart.thread = std::thread(heartbeatLoop);
}

void stopHeartbeat()
{
    if (!g_heart.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_heart.mutex);
        g_heart.stop = true;
    }
    g_heart.wake.notify_all();
    g_heart.thread.join();
}

struct Watchdog
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false, armed = false, fired = false;
    quint64 generation = 0;
    SteadyClock::time_point since, until;
    int socket = -1;
} g_watchdog;

thread_local int g_deadlineDepth = 0; // guards open on this thread
bool g_lastExpired = false;           // the last guarded statement was cut off
std::atomic<bool> g_heldStill{false}; // ... because the heartbeat had no answer
int g_allowMs = kWindowDeadlineMs;    // of the outermost guard

void wakeWatchdog()
{
    // Taken and let go first, so the wake-up cannot fall between the
    // watchdog's look and its wait.
    { std::lock_guard<std::mutex> lock(g_watchdog.mutex); }
    g_watchdog.wake.notify_all();
}

void watchdogLoop()
{
    std::unique_lock<std::mutex> lock(g_watchdog.mutex);
    while (!g_watchdog.stop) {
        if (!g_watchdog.armed) {
            g_watchdog.wake.wait(lock);
            continue;
        }
        const quint64 generation = g_watchdog.generation;
        const auto ended = [generation] {
            return g_watchdog.stop || !g_watchdog.armed || g_watchdog.generation != generation;
        };
        const auto until = g_watchdog.until;
        // Asked again and again while the statement runs: a server that
        // stops in the middle of a long one is found as soon.
        auto next = std::min(g_watchdog.since + kAskAfter, until);
        bool over = false;
        for (;;) {
            if ((over = g_watchdog.wake.wait_until(lock, next, ended)))
                break;
            if (SteadyClock::now() >= until)
                break;
            const auto asked = heartbeatAsk();
            // Woken by the answer (or the statement's end).
            g_watchdog.wake.wait_until(lock, std::min(asked + kAnswerWithin, until),
                                       [&] { return ended() || heartbeatAnswered(asked); });
            if ((over = ended()))
                break;
            if (SteadyClock::now() >= until)
                break;
            if (heartbeatMissed(asked)) {
                g_heldStill = true;
                break;
            }
            next = std::min(std::max(SteadyClock::now(), asked + kAskEvery), until);
        }
        if (over)
            continue;
        // Still waiting on the server: its socket is closed under the
        // statement, which then ends at once with an error.
        cutOff(g_watchdog.socket);
        g_watchdog.fired = true;
        g_watchdog.armed = false;
    }
}

} // namespace

void stopWatchdog()
{
    stopHeartbeat();
    if (!g_watchdog.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_watchdog.mutex);
        g_watchdog.stop = true;
    }
    g_watchdog.wake.notify_all();
    g_watchdog.thread.join();
    g_watchdog.stop = false;
    g_watchdog.armed = false;
}

WindowDeadline::WindowDeadline(int allowMs)
{
    // The window's thread only: other threads have sessions and limits of
    // their own.
    if (g_deadlineDepth++ > 0 || !databaseIsServer() || g_offline ||
        !QCoreApplication::instance() ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    const int socket = socketOf(
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false));
    if (socket < 0)
        return;
    g_allowMs = allowMs > 0 ? allowMs : kWindowDeadlineMs;
    // Before the watchdog's lock: a heartbeat ended here may be waking the
    // watchdog.
    startHeartbeat(g_url);
    std::lock_guard<std::mutex> lock(g_watchdog.mutex);
    if (!g_watchdog.thread.joinable()) {
        static bool registered = false;
        if (!registered && QCoreApplication::instance()) {
            qAddPostRoutine(stopWatchdog);
            registered = true;
        }
        g_watchdog.thread = std::thread(watchdogLoop);
    }
    g_watchdog.armed = true;
    g_watchdog.fired = false;
    ++g_watchdog.generation;
    g_watchdog.since = SteadyClock::now();
    g_watchdog.until = g_watchdog.since + std::chrono::milliseconds(g_allowMs);
    g_watchdog.socket = socket;
    g_watchdog.wake.notify_all();
    m_armed = true;
    g_lastExpired = false;
    g_heldStill = false;
}

WindowDeadline::~WindowDeadline()
{
    --g_deadlineDepth;
    if (!m_armed)
        return;
    std::lock_guard<std::mutex> lock(g_watchdog.mutex);
    g_watchdog.armed = false;
    g_lastExpired = g_watchdog.fired;
    g_watchdog.wake.notify_all();
}

bool WindowDeadline::expired() const
{
    if (!m_armed)
        return false;
    std::lock_guard<std::mutex> lock(g_watchdog.mutex);
    return g_watchdog.fired;
}

bool lastDeadlineExpired()
{
    return g_lastExpired;
}

QString deadlineText()
{
    if (g_heldStill)
        return QStringLiteral("数据库服务器没有应答（服务器可能停住了，或网络中断），"
                              "这一步没有完成；服务器恢复后请再试一次。");
    return QStringLiteral("数据库服务器 %1 秒内没有应答（服务器可能停住了，或网络中断），"
                          "这一步没有完成；服务器恢复后请再试一次。")
        .arg(g_allowMs / 1000.0, 0, 'g', 3);
}

} // namespace storage
