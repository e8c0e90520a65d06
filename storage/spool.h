#pragma once

// On a server every sample is first kept on this station's disk (an
// SQLite file in the user's data folder, one per station and server), in
// order, and sent from there by a thread of its own as soon as the server
// takes it: the window never waits for the network, and what the server
// cannot take (it is away, it refuses) waits there until it can. Samples
// are sent oldest first and each exactly once (the server keeps the
// spool's number with the row and ignores a row it already has, so a send
// cut between the server's commit and the spool's delete is harmless).

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
// Sends what waits from the window's thread, oldest first, while the
// server takes it (before processing: a calibration is made only of what
// the server holds). The spool is empty after when everything went.
Status flushSpool();

// Wakes the sender: a thread with a session of its own on the server that
// sends what waits as soon as the server takes it, so the window never
// waits for the server. Started by the first call.
void sendSpoolSoon();

// Stops the sender and closes the spool's own connection (the program
// ends, or a test starts afresh).
void closeSpool();

} // namespace storage
