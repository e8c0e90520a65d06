#pragma once

// Runs a storage body inside one transaction on the default connection:
// commits when it succeeds, rolls back otherwise; a body run inside another
// is part of the outer transaction. On a server whose session
// was cut before the commit (it restarted), nothing of the body was stored:
// the session is opened again and the whole body tried once more.

#include "storage/result.h"
#include "storage/server.h"

#include <QSqlDatabase>
#include <QSqlError>

namespace storage {

// True while a body of inTransaction runs: a statement that fails then is
// not tried again on its own.
bool inTransactionNow();
void enterTransaction(bool entering);

template <typename F> Status inTransaction(F body)
{
    struct Scope
    {
        Scope() { enterTransaction(true); }
        ~Scope() { enterTransaction(false); }
    };
    // Inside another body: part of its transaction, committed with it.
    if (inTransactionNow())
        return body();
    for (int attempt = 0;; ++attempt) {
        QSqlDatabase db =
            QSqlDatabase::database(QString::fromLatin1(QSqlDatabase::defaultConnection), false);
        Status st;
        // The whole transaction within the window's deadline (a caller that
        // knows it is long has opened a longer one around it).
        WindowDeadline deadline;
        {
            Scope scope;
            if (!db.transaction()) {
                const QString reason = db.lastError().text().trimmed();
                st = Status::failure(reason.isEmpty() ? QStringLiteral("cannot begin a transaction")
                                                      : reason);
            } else {
                st = body();
                if (!st)
                    db.rollback();
            }
        }
        if (!st) {
            // The server holds still: the station goes on on its copy.
            if (deadline.expired()) {
                db = QSqlDatabase(); // nothing holds the server's connection
                goOffline(deadlineText());
                return Status::failure(deadlineText());
            }
            if (attempt == 0 && reopenIfBroken())
                continue;
            return st;
        }
        // A commit cut off is not tried again: it may have been stored.
        if (!db.commit()) {
            const bool expired = deadline.expired();
            const QString reason = expired ? deadlineText() : db.lastError().text();
            db.rollback();
            if (expired) {
                db = QSqlDatabase();
                goOffline(reason);
            }
            return Status::failure(reason);
        }
        return {};
    }
}

} // namespace storage
