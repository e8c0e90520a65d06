#include "tests/testkit.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include "pages/prompts.h"
#include "storage/database.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSqlError>
#include <QSqlRecord>

namespace testkit {

// $ORVEN_TEST_SERVER (a postgresql:// URL of a throw-away cluster) runs
// the suite against a fresh database on it instead of a file.
static QString testServer()
{
    return qEnvironmentVariable("ORVEN_TEST_SERVER");
}

bool onServer()
{
    return !testServer().isEmpty();
}

static bool onMaintenance(const QString &statement)
{
    const QString name = QStringLiteral("orven-test-maintenance");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        const QUrl u(testServer());
        db.setHostName(QUrlQuery(u).queryItemValue(QStringLiteral("host")));
        db.setUserName(u.userName());
        db.setDatabaseName(QStringLiteral("postgres"));
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(statement);
            if (!ok)
                qWarning() << statement << q.lastError().text();
        } else {
            qWarning() << "test server:" << db.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

// The rigs' windows open without a sign-in (it is tried on its own): the
// laboratory's choice, written as a laboratory that turned it off has it.
static bool withoutSignIn()
{
    return storage::databaseIsServer()
               ? sql(QStringLiteral("insert into orven.lab_state (key, value) values "
                                    "('signInRequired', '0') on conflict (key) do update set "
                                    "value = excluded.value"))
               : sql(QStringLiteral("insert or replace into orven_state (key, value) values "
                                    "('signInRequired', '0')"));
}

TempDatabase::TempDatabase()
{
    prompts::setScripted(true);
    storage::setAuditOperator(QString()); // nobody signed in from an earlier test
    // The rigs' runs record from the first reading; the settling time is
    // tried on its own.
    QSettings().setValue(QStringLiteral("run/settleMinutes"), 0);
    const QString shared = qEnvironmentVariable("ORVEN_TEST_SHARED_DB");
    if (!shared.isEmpty()) {
        // Another process's test database: a second station on it.
        m_path = shared;
        const base::Status st = storage::openDatabase(m_path);
        if (!st)
            qWarning() << "shared test database:" << st.error;
        m_ok = st.ok && withoutSignIn();
        return;
    }
    if (onServer()) {
        static int serial = 0;
        m_server =
            QStringLiteral("orven_t%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial);
        QUrl u(testServer());
        u.setPath(QLatin1Char('/') + m_server);
        m_path = u.toString();
        m_ok = onMaintenance(QStringLiteral("create database ") + m_server);
        const base::Status st = storage::openDatabase(m_path);
        if (!st)
            qWarning() << "test server:" << st.error;
        m_ok = m_ok && st.ok && withoutSignIn();
        return;
    }
    m_path = m_dir.path() + QStringLiteral("/ORVDB.db3");
    m_ok = storage::openDatabase(m_path).ok && withoutSignIn();
}

TempDatabase::~TempDatabase()
{
    storage::closeDatabase();
    if (!m_server.isEmpty())
        onMaintenance(QStringLiteral("drop database if exists %1 with (force)").arg(m_server));
}

bool refuseWrites(const QString &name, const QString &event, const QString &table)
{
    if (!storage::databaseIsServer())
        return sql(QStringLiteral("create trigger %1 before %2 on %3 begin "
                                  "select raise(abort, 'refused by the test'); end")
                       .arg(name, event, table));
    return sql(QStringLiteral("create or replace function orven.refuse() returns trigger "
                              "language plpgsql as $$ begin raise exception 'refused by the test'; "
                              "end $$")) &&
           sql(QStringLiteral("create trigger %1 before %2 on orven.%3 for each row execute "
                              "function orven.refuse()")
                   .arg(name, event, table));
}

ToolRun runReport(const QStringList &args, int timeoutMs)
{
    return runReportWith(args, QByteArray(), timeoutMs);
}

ToolRun runReportWith(const QStringList &args, const QByteArray &input, int timeoutMs)
{
    QProcess p;
    p.start(QStringLiteral(ORVEN_APP_DIR "/orven-report"), args);
    p.write(input);
    p.closeWriteChannel();
    ToolRun r;
    if (!p.waitForFinished(timeoutMs))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool allowWrites(const QString &name, const QString &table)
{
    return sql(storage::databaseIsServer()
                   ? QStringLiteral("drop trigger %1 on orven.%2").arg(name, table)
                   : QStringLiteral("drop trigger %1").arg(name));
}

bool fillTheDisk()
{
    if (storage::databaseIsServer())
        return refuseWrites(QStringLiteral("disk_full"), QStringLiteral("insert"),
                            QStringLiteral("data"));
    // The file may not grow: a full disk as far as SQLite can tell.
    if (!sql(QStringLiteral("pragma wal_checkpoint(truncate)")))
        return false;
    const int pages = rows(QStringLiteral("pragma page_count")).value(0).value(0).toInt();
    if (!sql(QStringLiteral("pragma max_page_count=%1").arg(pages)))
        return false;
    // Fill the last page of the sample table too.
    while (sql(QStringLiteral(
        "insert into data values('filler','','0000','','xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx')"))) {
    }
    return true;
}

bool makeRoom()
{
    if (storage::databaseIsServer())
        return allowWrites(QStringLiteral("disk_full"), QStringLiteral("data"));
    return sql(QStringLiteral("delete from data where equipname='filler'")) &&
           sql(QStringLiteral("pragma max_page_count=1000000"));
}

bool sql(const QString &statement)
{
    QSqlQuery q;
    const bool ok = q.exec(statement);
    if (!ok)
        qWarning() << statement << q.lastError().text();
    return ok;
}

storage::Rows rows(const QString &select)
{
    QSqlQuery q;
    storage::Rows out;
    if (!q.exec(select)) {
        qWarning() << select << q.lastError().text();
        return out;
    }
    while (q.next()) {
        storage::Row row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i).toString();
        out << row;
    }
    return out;
}

QStringList columnsOf(const QString &table)
{
    QStringList names;
    if (storage::databaseIsServer()) {
        // The shared table itself: the file's columns, then the station's.
        for (const storage::Row &r :
             rows(QStringLiteral("select column_name from information_schema.columns where "
                                 "table_schema='orven' and table_name='%1' order by "
                                 "ordinal_position")
                      .arg(table.toLower())))
            names << r.value(0);
        return names;
    }
    for (const storage::Row &r : rows(QStringLiteral("pragma table_info(%1)").arg(table)))
        names << r.value(1);
    return names;
}

storage::Equipment equipmentRow(const storage::Row &head, const QStringList &tem,
                                const QStringList &hum)
{
    storage::Row row = head.mid(0, storage::Equipment::kListColumns);
    while (row.size() < storage::Equipment::kListColumns)
        row << QString();
    for (const QStringList &points : {tem, hum})
        for (int i = 0; i < 10; ++i)
            row << points.value(i);
    return storage::Equipment::fromRow(row);
}

QList<storage::ChannelRow> channelRecords(const storage::Rows &rows)
{
    QList<storage::ChannelRow> out;
    for (const storage::Row &row : rows)
        out << storage::ChannelRow::fromRow(row);
    return out;
}

storage::Rows channelTable(storage::Device device)
{
    storage::Rows out;
    for (const storage::ChannelRow &r : storage::loadChannelTable(device).value)
        out << r.toRow();
    return out;
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
#ifdef ORVEN_SANITIZE
    ms *= 3; // the sanitizers make everything slower; the conditions stay the same
#endif
    QElapsedTimer clock;
    clock.start();
    // Asleep in the event loop between looks, woken by a timer every few
    // milliseconds: a wait that spins takes a core from the simulator, the
    // threads under test and the suites running beside it.
    QTimer wake;
    wake.start(2);
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

std::unique_ptr<sim::CollectorSim> startSim(const sim::Options &options)
{
    auto collector = std::make_unique<sim::CollectorSim>(options);
    QString error;
    if (!collector->start(&error)) {
        qWarning() << "simulator:" << error;
        return nullptr;
    }
    return collector;
}

void setExtraPorts(const QStringList &paths)
{
    qputenv("ORVEN_EXTRA_PORTS", paths.join(QLatin1Char(':')).toLocal8Bit());
}

QStringList shown()
{
    return prompts::aboutTexts();
}

QStringList firstLines()
{
    QStringList out;
    for (const QString &s : shown())
        out << s.section(QLatin1Char('\n'), 0, 0);
    return out;
}

QStringList asked()
{
    QStringList out;
    for (const prompts::Record &r : prompts::recordsOf(prompts::Kind::Question))
        out << r.title + QLatin1Char('|') + r.text;
    return out;
}

void click(QObject *parent, const QString &button)
{
    child<QAbstractButton>(parent, button)->click();
}

bool clickAndWait(QObject *parent, const QString &button, int ms)
{
    const int before = shown().size();
    click(parent, button);
    return waitUntil([&] { return shown().size() > before; }, ms);
}

} // namespace testkit

namespace testkit {

QString fullText(const QObject *label)
{
    const auto *l = qobject_cast<const QLabel *>(label);
    if (!l)
        return QString();
    return l->toolTip().isEmpty() ? l->text() : l->toolTip();
}

void signInThrough(QWidget *window, const QString &name, const QString &password,
                   const QString &again)
{
    child<QComboBox>(window, QStringLiteral("comboBox_operator"))->setCurrentText(name);
    child<QLineEdit>(window, QStringLiteral("lineEdit_password"))->setText(password);
    child<QLineEdit>(window, QStringLiteral("lineEdit_passwordAgain"))
        ->setText(again.isNull() ? password : again);
    click(child<QWidget>(window, QStringLiteral("signInPanel")),
          QStringLiteral("pushButton_signIn"));
}

} // namespace testkit

namespace testkit {

StallMeter::StallMeter(const QString &flag) : m_timer(new QTimer)
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_last.start();
    QObject::connect(m_timer, &QTimer::timeout, [this, flag] {
        const qint64 gap = m_last.restart();
        m_longest = std::max(m_longest, gap);
        if (!flag.isEmpty() && QFile::exists(flag))
            m_flagged = std::max(m_flagged, gap);
    });
    m_timer->start(5);
}

StallMeter::~StallMeter()
{
    delete m_timer;
}

} // namespace testkit
