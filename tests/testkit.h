#pragma once

// Shared fixtures: a temporary database as the default connection, scripted
// prompts, waiting on the event loop, and simulated collectors.

#include "sim/collectorsim.h"
#include "storage/statements.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

namespace testkit {

// A fresh ORVDB.db3 in a temporary folder, opened as the default connection,
// with prompts scripted.
class TempDatabase
{
public:
    TempDatabase();
    ~TempDatabase();
    QString path() const { return m_path; }
    QString dir() const { return m_dir.path(); }
    bool ok() const { return m_ok; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QString m_server; // the database made on the test server
    bool m_ok = false;
};
// True when the suite runs against a PostgreSQL server.
bool onServer();

// orven-report run as scripts run it: exit code, standard output and error
// (code -1 when it did not finish in time).
struct ToolRun
{
    int code = -1;
    QByteArray out, err;
};
ToolRun runReport(const QStringList &args, int timeoutMs = 240000);
// The same with `input` on its standard input.
ToolRun runReportWith(const QStringList &args, const QByteArray &input, int timeoutMs = 240000);

// Runs one statement on the default connection (test setup and checks only).
bool sql(const QString &statement);
// Makes the database refuse `event` ("insert", "update of roadtypeA") on
// `table`, as a full disk or a locked row would.
bool refuseWrites(const QString &name, const QString &event, const QString &table);
bool allowWrites(const QString &name, const QString &table);
// No sample can be stored until makeRoom(): a full disk.
bool fillTheDisk();
bool makeRoom();
// All rows of a select, values as text.
storage::Rows rows(const QString &select);
QStringList columnsOf(const QString &table);

// An equipment record: its first 16 columns, then the set points, each list
// padded to ten.
storage::Equipment equipmentRow(const storage::Row &head, const QStringList &tem,
                                const QStringList &hum);

// Channel layouts as the tests write them: one row of texts per channel.
QList<storage::ChannelRow> channelRecords(const storage::Rows &rows);
storage::Rows channelTable(storage::Device device); // as stored

// Processes events until `done` is true or `ms` pass; returns `done()`.
bool waitUntil(const std::function<bool()> &done, int ms = 5000);

// A started simulator whose port is listed through ORVEN_EXTRA_PORTS.
std::unique_ptr<sim::CollectorSim> startSim(const sim::Options &options = sim::Options());
void setExtraPorts(const QStringList &paths);

// Information boxes shown so far as "title|text".
QStringList shown();
// The same with each text cut at its first line: the texts the pages keep,
// without the reason or next step added on the second line.
QStringList firstLines();
// Questions asked so far, "title|text".
QStringList asked();

// A named child widget of a page; the test fails loudly when it is missing.
template <typename T> T *child(QObject *parent, const QString &name)
{
    T *w = parent->findChild<T *>(name);
    if (!w)
        qFatal("no child %s", qPrintable(name));
    return w;
}
void click(QObject *parent, const QString &button);
// Clicks a button that starts an exchange with a collector and processes
// events until the page has said how it ended (a new information box).
bool clickAndWait(QObject *parent, const QString &button, int ms = 15000);
// A label's whole text: a label too narrow for it shows it shortened and
// carries it as its tooltip.
QString fullText(const QObject *label);
// Fills the window's sign-in (the password twice where it asks for the
// first 管理员) and presses 登录.
void signInThrough(QWidget *window, const QString &name, const QString &password,
                   const QString &again = {});

// The longest time the event loop did not turn (a timer every few
// milliseconds measures it), overall and while the file `flag` existed.
class StallMeter
{
public:
    explicit StallMeter(const QString &flag = QString());
    ~StallMeter();
    StallMeter(const StallMeter &) = delete;
    StallMeter &operator=(const StallMeter &) = delete;
    qint64 longest() const { return m_longest; }
    qint64 longestFlagged() const { return m_flagged; }

private:
    QTimer *m_timer;
    QElapsedTimer m_last;
    qint64 m_longest = 0, m_flagged = 0;
};

} // namespace testkit
