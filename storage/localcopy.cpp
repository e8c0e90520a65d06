#include "storage/localcopy.h"

#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"
#include "storage/statements.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace storage {

namespace {

const char kCopyConnection[] = "orven-copy";
const char kTakenKey[] = "localCopyTaken";

// The tables a run reads, the accounts a sign-in checks, and the list of
// calibrations (their headers, with the station that recorded each); the
// samples stay on the server.
struct CopiedTable
{
    const char *name, *select;
};
const CopiedTable kTables[] = {
    {"datacollect", "select * from datacollect"},
    {"collector_extra", "select * from collector_extra"},
    {"equipdata", "select * from equipdata"},
    {"equipment_extra", "select * from equipment_extra"},
    {"company", "select * from company"},
    {"secdevice", "select * from secdevice"},
    {"envirdata", "select * from envirdata"},
    {"deviceA", "select * from deviceA"},
    {"deviceB", "select * from deviceB"},
    {"orven_state", "select * from orven_state"},
    {"operator_account", "select * from operator_account"},
    {"datamark", "select num, dtbegin, dtend, pointnum, temset, humset, kindsA, kindsB, "
                 "collector, equipname, channum, samplenum, chanlist, envtem, envhum, "
                 "equiptype, typesA, typesB from datamark"},
    {"calibration_station", "select dtbegin, station from orven.datamark"},
    // The laboratory's own settings (the sign-in, the certificate number's
    // pattern).
    {"lab_state", "select key, value from orven.lab_state"},
};

QString defaultName()
{
    return QString::fromLatin1(QSqlDatabase::defaultConnection);
}

// What the copy takes, read from the server: each table's rows.
using Taken = QList<QPair<QString, Rows>>;

Result<Taken> readServer(const QSqlDatabase &server)
{
    Taken taken;
    for (const CopiedTable &table : kTables) {
        const QString name = QLatin1String(table.name);
        const Result<Rows> rows = rowsOn(server, QLatin1String(table.select));
        if (!rows)
            return base::failure(rows.error);
        taken.append({name, rows.value});
    }
    return taken;
}

// Written in one short transaction once everything is read: a server that
// holds still while it is read never keeps the copy locked.
Status writeCopy(QSqlDatabase &copy, const Taken &taken)
{
    if (const Status st = createFileTables(copy); !st)
        return st;
    QSqlQuery q(copy);
    QString why;
    if (!runQuery(q,
                  QStringLiteral("create table if not exists lab_state (key TEXT PRIMARY KEY, "
                                 "value TEXT)"),
                  {}, &why) ||
        !runQuery(q,
                  QStringLiteral("create table if not exists calibration_station (dtbegin TEXT "
                                 "PRIMARY KEY, station TEXT)"),
                  {}, &why))
        return base::failure(why);
    for (const auto &table : taken) {
        if (!runQuery(q, QStringLiteral("delete from ") + table.first, {}, &why))
            return base::failure(why);
        for (const Row &row : table.second) {
            QVariantList binds;
            for (const QString &v : row)
                binds << v;
            if (!runQuery(q,
                          QStringLiteral("insert into %1 values(%2)")
                              .arg(table.first, placeholders(int(row.size()))),
                          binds, &why))
                return base::failure(table.first + QStringLiteral("：") + why);
        }
    }
    if (!runQuery(q, QStringLiteral("insert or replace into orven_state values(?, ?)"),
                  {QLatin1String(kTakenKey),
                   QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
                  &why))
        return base::failure(why);
    return {};
}

} // namespace

// When the copy open on `db` was taken; empty when it is not whole.
static QString takenOn(const QSqlDatabase &db)
{
    const Result<Rows> when =
        rowsOn(db, QStringLiteral("select value from orven_state where key=?"),
               {QLatin1String(kTakenKey)}, 1);
    return when ? when.value.value(0).value(0) : QString();
}

QString localCopyPath()
{
    return stationFilePath(QStringLiteral("copy"));
}

namespace {

// The copier: a thread with its own session on the server and its own
// connection to the copy, so a server that hangs holds up nobody.
const char kCopierServer[] = "orven-copy-server";

struct Copier
{
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake, finished;
    bool stop = false;
    quint64 asked = 0, done = 0; // requests made and served
    Status last;
    QString url, station, path;
    std::atomic<int> socket{-1}; // its session's, while a copy is under way
    // What the copy was last written from (the server's rows and the file),
    // so an unchanged server writes nothing; the window writes the file
    // while it runs on it, and the next copy is written whatever it reads.
    QByteArray written;
    std::atomic<quint64> windowWrites{0};
    quint64 writtenAfter = 0;
} g_copier;

QByteArray digestOf(const Taken &taken, const QString &path)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(path.toUtf8());
    for (const auto &table : taken) {
        hash.addData(table.first.toUtf8() + '\x1d');
        for (const Row &row : table.second) {
            for (const QString &v : row)
                hash.addData(v.toUtf8() + (v.isNull() ? '\x1f' : '\x1e'));
            hash.addData("\n", 1);
        }
    }
    return hash.result();
}

Status copyOnce(const QString &url, const QString &station, const QString &path)
{
    Status st = openServerConnection(QLatin1String(kCopierServer), url, false, station);
    {
        QSqlDatabase server = QSqlDatabase::database(QLatin1String(kCopierServer), false);
        g_copier.socket = socketOf(server);
        if (st) {
            const Result<Taken> taken = readServer(server);
            const QByteArray digest = taken ? digestOf(taken.value, path) : QByteArray();
            const quint64 windowWrites = g_copier.windowWrites;
            const bool unchanged = taken && digest == g_copier.written &&
                                   windowWrites == g_copier.writtenAfter && QFile::exists(path);
            QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                          QLatin1String(kCopyConnection));
            copy.setDatabaseName(path);
            copy.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
            if (!taken) {
                st = taken.status();
            } else if (unchanged) {
                // the file holds what the server holds
            } else if (!copy.open()) {
                st = Status::failure(copy.lastError().text());
            } else if (!copy.transaction()) {
                st = Status::failure(copy.lastError().text());
            } else {
                st = writeCopy(copy, taken.value);
                if (!st || !copy.commit()) {
                    if (st)
                        st = Status::failure(copy.lastError().text());
                    copy.rollback();
                }
                g_copier.written = st ? digest : QByteArray();
                g_copier.writtenAfter = windowWrites;
            }
            copy.close();
        }
        g_copier.socket = -1;
        server.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kCopyConnection));
    QSqlDatabase::removeDatabase(QLatin1String(kCopierServer));
    if (!st)
        return Status::failure(QStringLiteral("本机记录副本 %1 没有更新：%2").arg(path, st.error));
    return st;
}

void copierLoop()
{
    std::unique_lock<std::mutex> lock(g_copier.mutex);
    for (;;) {
        g_copier.wake.wait(lock, [] { return g_copier.stop || g_copier.asked > g_copier.done; });
        if (g_copier.stop)
            break;
        const quint64 serving = g_copier.asked;
        const QString url = g_copier.url, station = g_copier.station, path = g_copier.path;
        lock.unlock();
        const Status st = copyOnce(url, station, path);
        lock.lock();
        g_copier.last = st;
        g_copier.done = serving;
        g_copier.finished.notify_all();
    }
}

void stopCopier()
{
    if (!g_copier.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_copier.mutex);
        g_copier.stop = true;
    }
    g_copier.wake.notify_all();
    cutOff(g_copier.socket); // a copy under way on a server that hangs ends now
    g_copier.thread.join();
    g_copier.stop = false;
    g_copier.asked = g_copier.done = 0;
}

struct CopierAtExit
{
    ~CopierAtExit() { stopCopier(); }
} g_copierAtExit;

// Asks for a copy of what the server holds now; returns the request's number.
quint64 askForCopy()
{
    std::lock_guard<std::mutex> lock(g_copier.mutex);
    if (!g_copier.thread.joinable()) {
        static bool registered = false;
        if (!registered && QCoreApplication::instance()) {
            qAddPostRoutine(stopCopier);
            registered = true;
        }
        g_copier.thread = std::thread(copierLoop);
    }
    // The station's session settings, as the window opened the server.
    g_copier.url = openedDatabasePath();
    g_copier.station = stationName();
    g_copier.path = localCopyPath();
    g_copier.wake.notify_all();
    return ++g_copier.asked;
}

} // namespace

Status refreshLocalCopy(int waitMs)
{
    if (!databaseIsServer() || databaseIsReadOnly())
        return {};
    const quint64 asked = askForCopy();
    std::unique_lock<std::mutex> lock(g_copier.mutex);
    if (!g_copier.finished.wait_for(lock, std::chrono::milliseconds(waitMs),
                                    [asked] { return g_copier.done >= asked; }))
        return Status::failure(
            QStringLiteral("本机记录副本还在更新（服务器 %1 毫秒内没有给完）").arg(waitMs));
    return g_copier.last;
}

void refreshLocalCopySoon()
{
    if (databaseIsServer() && !databaseIsReadOnly() && !serverOffline())
        askForCopy();
}

void noteCopyWrittenHere()
{
    ++g_copier.windowWrites;
}

void endLocalCopies()
{
    stopCopier();
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
    const QString when = takenOn(db);
    if (when.isEmpty()) {
        db.close();
        return Status::failure(QStringLiteral("本机记录副本 %1 不完整").arg(path));
    }
    if (taken)
        *taken = when;
    return {};
}

bool localCopyReadable()
{
    const QString name = QStringLiteral("orven-copy-check");
    bool whole = false;
    if (QFile::exists(localCopyPath())) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(localCopyPath());
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=100;QSQLITE_OPEN_READONLY"));
        whole = db.open() && !takenOn(db).isEmpty();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return whole;
}

bool copyAnswers(const QString &select)
{
    static const QRegularExpression tables(QStringLiteral("\\b(?:from|join)\\s+([\\w.]+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    bool any = false;
    for (auto it = tables.globalMatch(select); it.hasNext();) {
        const QString name = it.next().captured(1);
        bool held = false;
        for (const CopiedTable &table : kTables)
            held = held || name.compare(QLatin1String(table.name), Qt::CaseInsensitive) == 0;
        if (!held)
            return false;
        any = true;
    }
    return any;
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
