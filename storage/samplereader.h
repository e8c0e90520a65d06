#pragma once

// Bulk reads of samples on a connection of their own. Made for worker
// threads and command-line tools: the texts arrive as the UTF-8 bytes SQLite
// holds, without a detour through QVariant, and nothing here touches the
// program's default connection.

#include "storage/records.h"
#include "storage/result.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct sqlite3;

namespace storage {

// A stretch of UTF-8 bytes owned by the reader; valid during the callback.
struct TextRef
{
    const char *data = nullptr;
    int size = 0;
    QByteArray bytes() const { return QByteArray(data, size); }
    QString text() const { return QString::fromUtf8(data, size); }
};

class SampleReader
{
public:
    SampleReader() = default;
    ~SampleReader();
    SampleReader(const SampleReader &) = delete;
    SampleReader &operator=(const SampleReader &) = delete;

    // Opens `path` read-only; a missing file is an error, never created.
    // A server's postgresql:// URL opens a connection of this reader's own.
    Status open(const QString &path);
    // The socket of this reader's server session (-1 on a file), and ending
    // a read blocked on it from another thread (a server that hangs, the
    // reader cancelled): the read fails at once.
    int serverSocket() const;
    static void interrupt(int socket);
    bool isOpen() const { return m_db != nullptr || !m_connection.isEmpty(); }

    // Samples whose coltime lies in [from, to], oldest first. On a server,
    // when a calibration spans exactly that window, of its run: its own
    // samples, whichever station recorded at the same time, and whichever
    // station reads them; otherwise this station's.
    Result<qint64> countInWindow(const QString &from, const QString &to);
    using Visitor = std::function<bool(TextRef jdnum, TextRef coltime, TextRef coldata)>;
    // Stops early (without error) when the visitor returns false.
    Status forEachInWindow(const QString &from, const QString &to, const Visitor &visit);

    // The first header with that dtbegin; ok with found = false when none.
    Result<FoundHeader> header(const QString &dtbegin);
    // Every header, ordered by dtbegin.
    Result<QList<RunHeader>> headers();

    // Records the documents are written from, as stored; an empty record
    // when there is none.
    Result<Equipment> equipmentRecord(const QString &name);
    Result<Collector> collectorRecord(const QString &serial);
    Result<Company> companyRecord();
    // The channel rows of collector one or two, in table order.
    Result<QList<ChannelRow>> channelRows(bool collectorTwo);
    // The evaluation settings kept with a calibration; empty when there are
    // none (or the file predates them).
    Result<QString> evaluationSettings(const QString &dtbegin);
    // The records kept when the calibration was processed; not found for a
    // calibration processed before they were kept.
    Result<FoundSnapshot> snapshot(const QString &dtbegin);
    // The certificates issued for a calibration (number, prints, method, layout,
    // issued, replaces, replacedby), the one in force last.
    Result<Rows> certificates(const QString &dtbegin);

private:
    QString lastError() const;
    Result<Rows> rows(const char *sql, const QStringList &binds, int limit = -1);
    template <typename R> Result<QList<R>> records(const char *sql, const QStringList &binds);
    template <typename R> Result<R> record(const char *sql, const QStringList &binds);
    void close();
    sqlite3 *m_db = nullptr;
    QString m_connection; // a server connection's name
    // The run of the calibration spanning a window (server), found once.
    Result<QString> runOf(const QString &from, const QString &to);
    QString m_window, m_run;
};

} // namespace storage
