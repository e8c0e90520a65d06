#include "base/passwords.h"

#include <sodium.h>

namespace base {

namespace {

bool ready()
{
    static const bool ok = sodium_init() >= 0;
    return ok;
}

} // namespace

Result<QString> hashPassword(const QString &password)
{
    if (!ready())
        return failure(QStringLiteral("密码库不能初始化"));
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), quint64(utf8.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return failure(QStringLiteral("内存不足，不能保存密码"));
    return QString::fromLatin1(out);
}

bool passwordMatches(const QString &hash, const QString &password)
{
    if (!ready())
        return false;
    const QByteArray stored = hash.toLatin1();
    if (stored.isEmpty() || stored.size() >= int(crypto_pwhash_STRBYTES))
        return false;
    const QByteArray utf8 = password.toUtf8();
    return crypto_pwhash_str_verify(stored.constData(), utf8.constData(), quint64(utf8.size())) ==
           0;
}

} // namespace base
