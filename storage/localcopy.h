#pragma once

// What a station needs to calibrate, as it last saw it on the laboratory's
// server: the collectors, the equipment, the laboratory, this station's
// selection, ambient values and channel tables, the list of calibrations
// (not their samples). Kept in an SQLite file on
// the station's own disk (beside its spool), taken whenever the server
// answers, so the workstation can start and record while the server is
// down; the samples then wait in the spool.

#include "storage/result.h"

#include <QString>

namespace storage {

QString localCopyPath();

// Copies the records from the server to the station's file, in one
// transaction, on a thread of its own with its own session (a server that
// hangs holds up nobody); waits up to `waitMs` for it to end.
Status refreshLocalCopy(int waitMs = 3000);

// A record changed on the server: the copy follows a moment later, on that
// thread (many changes in a row make few copies).
void refreshLocalCopySoon();

// The window runs on the copy and may change it: the next copy is written
// even when the server holds what it held before.
void noteCopyWrittenHere();

// Stops that thread (a copy under way on a server that hangs is cut off);
// the database closes.
void endLocalCopies();

// Opens the station's file as the default connection (records are read
// from it; nothing is written to it). `taken`: when it was copied.
// Fails when this station never had a copy.
Status openLocalCopy(QString *taken);

// Whether this station has a whole copy to go on with (read apart).
bool localCopyReadable();

// Removes the default connection opened on the copy.
void closeLocalCopy();

// Whether a select reads only what the copy holds (so it may be answered
// from the copy when the server does not answer).
bool copyAnswers(const QString &select);

} // namespace storage
