#include "storage/spool.h"

#include "base/sharedtext.h"
#include "storage/database.h"
#include "storage/server.h"
#include "storage/sqlkit.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace storage {

namespace {

const char kConnection[] = "orven-spool";          // the window's
const char kSenderSpool[] = "orven-spool-sender";  // the sender's own
const char kSenderServer[] = "orven-spool-server"; // the sender's session on the server

QString g_token; // the window's spool file's own
base::SharedText g_lastError;
// One sender at a time: the thread, or the window before processing.
std::timed_mutex g_sending;

void setLastError(const QString &why)
{
    g_lastError.set(why);
}

QString lastError()
{
    return g_lastError.get();
}

// The spool file on the connection `name` (made on first use).
QSqlDatabase openSpool(const QString &name, const QString &path, QString *token, QString *why)
{
    QSqlDatabase db = QSqlDatabase::database(name, false);
    if (db.isValid() && db.isOpen() && db.databaseName() == path)
        return db;
    if (!db.isValid())
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.close();
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
    if (!db.open()) {
        *why = db.lastError().text();
        return db;
    }
    QSqlQuery q(db);
    // The file's own token makes its numbers unique on the server, even
    // when a spool file is removed and made again.
    if (!q.exec(QStringLiteral("pragma journal_mode=WAL")) ||
        !q.exec(QStringLiteral("pragma synchronous=NORMAL")) ||
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
    *token = q.value(0).toString();
    return db;
}

QSqlDatabase spool(QString *why)
{
    return openSpool(QLatin1String(kConnection), spoolPath(), &g_token, why);
}

int countWaiting(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("select count(*) from spool")) && q.next() ? q.value(0).toInt()
                                                                            : 0;
}

// Sends what waits in `from` to `server`, oldest first, a hundred rows in
// one statement at a time. `run`: the station's run, for rows spooled
// before it was known.
Status sendFrom(const QSqlDatabase &from, QSqlDatabase &server, const QString &token,
                const std::function<Result<QString>()> &run)
{
    for (;;) {
        QSqlQuery rows(from);
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
        if (batch.isEmpty())
            return {};
        QString current;
        QStringList tuples;
        QVariantList binds;
        for (const QVariantList &r : batch) {
            QString rowRun = r.value(6).toString();
            if (rowRun.isEmpty()) {
                if (current.isEmpty()) {
                    const Result<QString> known = run();
                    if (!known)
                        return known.status();
                    current = known.value;
                }
                rowRun = current;
            }
            tuples << QStringLiteral("(?,?,?,?,?,current_setting('orven.station'),?,?)");
            for (int i = 1; i <= 5; ++i)
                binds << r.value(i).toString();
            binds << rowRun << token + QLatin1Char(':') + r.value(0).toString();
        }
        // Rows take their numbers in the order of the list: the spool's.
        if (!server.transaction())
            return Status::failure(server.lastError().text());
        QSqlQuery q(server);
        QString why;
        if (!runQuery(q,
                      QStringLiteral("insert into orven.data (equipname, jdnum, coltime, colname, "
                                     "coldata, station, run, spoolkey) values ") +
                          tuples.join(QLatin1Char(',')) +
                          QStringLiteral(" on conflict (station, spoolkey) where spoolkey is not "
                                         "null do nothing"),
                      binds, &why) ||
            !server.commit()) {
            if (why.isEmpty())
                why = server.lastError().text();
            server.rollback();
            return Status::failure(why);
        }
        // On the server now: leave the spool. A cut here sends them again,
        // and the server ignores what it has.
        QSqlQuery del(from);
        del.prepare(QStringLiteral("delete from spool where seq<=?"));
        del.addBindValue(batch.last().value(0));
        if (!del.exec())
            return Status::failure(del.lastError().text());
    }
}

// ---- the sender: a thread of its own with its own session on the server,
// so a slow or silent server never holds up the window ----

std::thread g_sender;
std::atomic<bool> g_senderStop{false};
std::atomic<bool> g_senderDone{false};
std::atomic<int> g_senderSocket{-1}; // the sender's session on the server, while open
std::mutex g_wakeMutex;
std::condition_variable g_wake;
bool g_kicked = false;

void senderLoop(const QString &url, const QString &station, const QString &path)
{
    QString token;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(g_wakeMutex);
            g_wake.wait_for(lock, std::chrono::seconds(1),
                            [] { return g_kicked || g_senderStop.load(); });
            g_kicked = false;
        }
        if (g_senderStop)
            break;
        if (!QFile::exists(path))
            continue;
        // Opened afresh every time: the file may have been made again.
        QString why;
        QSqlDatabase from = openSpool(QLatin1String(kSenderSpool), path, &token, &why);
        const bool waiting = from.isOpen() && countWaiting(from) > 0;
        if (waiting) {
            QSqlDatabase server = QSqlDatabase::database(QLatin1String(kSenderServer), false);
            if (!server.isOpen() && !serverRefusal().isEmpty()) {
                setLastError(serverAwayText()); // refused: no login again until restarted
            } else if (!server.isOpen()) {
                server = QSqlDatabase();
                QSqlDatabase::removeDatabase(QLatin1String(kSenderServer));
                const Status st =
                    openServerConnection(QLatin1String(kSenderServer), url, true, station);
                server = QSqlDatabase::database(QLatin1String(kSenderServer), false);
                // A lock held elsewhere is waited for a while, then tried
                // again: the thread never hangs on it.
                QSqlQuery set(server);
                if (!st)
                    setLastError(st.error);
                else if (!set.exec(QStringLiteral("set lock_timeout = '2s'")))
                    server.close();
                g_senderSocket = server.isOpen() ? socketOf(server) : -1;
            }
            if (server.isOpen()) {
                std::unique_lock<std::timed_mutex> sending(g_sending);
                const Status st =
                    sendFrom(from, server, token, [&] { return stationRunOn(server); });
                if (st) {
                    setLastError(QString());
                } else {
                    setLastError(st.error);
                    g_senderSocket = -1;
                    server.close(); // opened again next time
                }
            }
        }
        from.close();
    }
    g_senderSocket = -1;
    QSqlDatabase::removeDatabase(QLatin1String(kSenderSpool));
    QSqlDatabase::removeDatabase(QLatin1String(kSenderServer));
    g_senderDone = true;
}

// Asks the sender to stop and waits for it. A statement under way on a
// server that does not answer is cut off by closing its socket under it,
// so the program never waits on the network to end.
void stopSender()
{
    if (!g_sender.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        g_senderStop = true;
    }
    g_wake.notify_all();
    for (int i = 0; i < 100 && !g_senderDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!g_senderDone)
        cutOff(g_senderSocket);
    g_sender.join();
    g_senderStop = false;
}

// A program that ends without closing the database (a tool, a window that
// is simply destroyed) still stops the sender before anything it uses is
// torn down: when the application object goes, and at the latest with the
// program's statics.
void stopSenderAtExit()
{
    stopSender();
}

struct SenderAtExit
{
    ~SenderAtExit() { stopSender(); }
} g_senderAtExit;

} // namespace

QString spoolPath()
{
    return stationFilePath(QStringLiteral("spool"));
}

void sendSpoolSoon()
{
    if (!databaseIsServer() || databaseIsReadOnly())
        return;
    if (!g_sender.joinable()) {
        static bool registered = false;
        if (!registered && QCoreApplication::instance()) {
            qAddPostRoutine(stopSenderAtExit);
            registered = true;
        }
        g_senderDone = false;
        g_sender = std::thread(senderLoop, openedDatabasePath(), stationName(), spoolPath());
    }
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        g_kicked = true;
    }
    g_wake.notify_all();
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
    return {};
}

// Nothing waits when the file is not there (it is made by the first
// sample that needs it).
static bool nothingWaits()
{
    return !QFile::exists(spoolPath());
}

SpoolState spoolState()
{
    SpoolState s;
    s.lastError = lastError();
    if (!databaseIsServer() || nothingWaits())
        return s;
    QString why;
    QSqlDatabase db = spool(&why);
    if (!db.isOpen())
        return s;
    s.waiting = countWaiting(db);
    if (s.waiting > 0) {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("select coltime from spool order by seq limit 1")) && q.next())
            s.since = q.value(0).toString();
    }
    return s;
}

Status flushSpool()
{
    if (!databaseIsServer() || nothingWaits())
        return {};
    QString why;
    QSqlDatabase db = spool(&why);
    if (!db.isOpen())
        return Status::failure(why);
    if (countWaiting(db) == 0)
        return {};
    if (!serverReady()) {
        setLastError(serverAwayText());
        return Status::failure(lastError());
    }
    // The sender may be in the middle of a batch: it is waited for a moment
    // (never on a tick).
    std::unique_lock<std::timed_mutex> sending(g_sending, std::defer_lock);
    if (!sending.try_lock_for(std::chrono::milliseconds(300)))
        return Status::failure(QStringLiteral("样本正在送往服务器，请稍候再试"));
    QSqlDatabase server =
        QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
    // From the window's thread: within its deadline, a little longer for a
    // long spool (an hour of samples goes in a few tenths of a second).
    WindowDeadline deadline(kWindowDeadlineMs + countWaiting(db) / 5);
    Status st = sendFrom(db, server, g_token, [] { return currentRun(); });
    if (!st && deadline.expired())
        st = Status::failure(deadlineText());
    if (!st) {
        setLastError(st.error);
        reconnectIfLost();
        return st;
    }
    if (countWaiting(db) == 0)
        setLastError(QString());
    return {};
}

void closeSpool()
{
    stopSender();
    {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(kConnection), false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    setLastError(QString());
}

} // namespace storage
