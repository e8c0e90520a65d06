#pragma once

// The sub-commands of orven-report, callable from tests without a process.

#include <QStringList>
#include <QTextStream>
#include <atomic>

namespace report {

// Runs one command line (without the program name); writes to `out` and
// `err` and returns the exit code: 0 done, 1 failed (one-line reason on
// `err`), 2 bad usage (the usage text on `err`).
int run(const QStringList &args, QTextStream &out, QTextStream &err);

QString usage();

// Set from a signal handler: an export in progress stops, its LibreOffice
// is killed and its private folders are removed before run() returns.
std::atomic<bool> &cancelRequested();
// True while an export that keeps files in the temporary folder runs.
std::atomic<bool> &writingFiles();

} // namespace report
