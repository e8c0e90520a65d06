#pragma once

// Passwords are kept only as salted hashes made by libsodium (Argon2id, its
// parameters in the stored text), never as themselves.

#include "base/result.h"

#include <QString>

namespace base {

// The hash to keep for `password`.
Result<QString> hashPassword(const QString &password);
// Whether `password` is the one `hash` was made from; false for a hash that
// is not one.
bool passwordMatches(const QString &hash, const QString &password);

} // namespace base
