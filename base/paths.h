#pragma once

// Where the workstation's files live.

#include <QString>

namespace base {

// True when a file can be made in `dir` (tried, not guessed from its mode).
bool folderIsWritable(const QString &dir);
// The user's data folder of the workstation (made when missing).
QString userDataFolder();

} // namespace base
