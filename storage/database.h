#pragma once

#include "storage/result.h"

#include <QString>

class QSqlDatabase;
struct sqlite3;

namespace storage {

// Where ORVDB.db3 lives: $ORVEN_DB when set (a file, or a server's
// postgresql:// URL); else a server URL in the settings ("database/url");
// else beside the program when
// its folder can be written (as it always was, so existing folders keep
// working); else in the user's data folder, which is made when missing.
struct DatabaseLocation
{
    QString path;
    QString why; // "ORVEN_DB", "settings", "program folder" or "user data folder"
};
DatabaseLocation databaseLocation(const QString &programDir = QString());
QString defaultDatabasePath();

// Opens `path` as the default connection and makes sure the nine tables, the
// two single rows and the time indexes exist. Existing tables and rows are
// used as they are. The connection stays registered even when this fails, so
// later statements fail (and report) instead of crashing.
enum class Access { ReadWrite, ReadOnly };
Status openDatabase(const QString &path, Access access = Access::ReadWrite);
// The file the default connection was opened on.
QString openedDatabasePath();
// True when the default connection was opened read-only.
bool databaseIsReadOnly();
// True when the default connection is the laboratory's server.
bool databaseIsServer();

// The tables of the file format (and those beside them) on `db`.
Status createFileTables(const QSqlDatabase &db);

// Creates what is missing on the default connection.
Status ensureSchema();

// Folds the write-ahead log back into the database file, so the file alone
// is complete, then closes and removes the default connection (the program
// ends, or tests reopen with another file).
void closeDatabase();

// Opens `path` for reading with SQLite's own API: read-write when the file
// and its folder allow it (a WAL file then gets its shared-memory index),
// else read-only, else, in a folder nobody may write, as an unchanging file.
// Null with the reason in `why` when it cannot be read at all.
sqlite3 *openForReading(const QString &path, QString *why);

} // namespace storage
