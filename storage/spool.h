#pragma once

// Samples that could not reach the laboratory's server wait on this
// station's disk (an SQLite file in the user's data folder, one per
// station), in order, until the server answers again; they are sent oldest
// first and each exactly once (the server keeps the spool's number with the
// row and ignores a row it already has, so a send cut between the server's
// commit and the spool's delete is harmless). Only used on a server.

#include "storage/records.h"
#include "storage/result.h"

#include <QString>

namespace storage {

// Where this station's spool lives.
QString spoolPath();

// Keeps `sample` (of `run`, empty when not known yet) at the end of the spool.
Status spoolSample(const Sample &sample, const QString &run);
// How many wait, and when the oldest was taken ("yyyy-MM-dd HH:mm:ss").
struct SpoolState
{
    int waiting = 0;
    QString since;
    QString lastError; // why the last send failed
};
SpoolState spoolState();
// Sends what waits, oldest first, while the server takes it. The spool is
// empty after when everything went. With `budgetMs` it stops after the
// batch that used up that time (a run's tick sends a part, the next tick
// goes on), so a long spool never holds up the window.
Status flushSpool(int budgetMs = -1);
// What a tick may spend sending: a batch or two.
constexpr int kSpoolPartMs = 10;

// Closes the spool's own connection (the program ends, or a test starts
// afresh).
void closeSpool();

} // namespace storage
