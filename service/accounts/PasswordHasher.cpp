#include "service/accounts/PasswordHasher.h"

#include <sodium.h>

namespace quiro::service::PasswordHasher {

namespace {

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Interactive limits (about 64 MiB and a fraction of a second): the service runs on the user's
// own machine and answers one person.
constexpr auto opsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr auto memLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

} // namespace

std::optional<QByteArray> hash(const QString& password)
{
    if (!sodiumReady())
        return std::nullopt;
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), quint64(utf8.size()), opsLimit, memLimit) != 0)
        return std::nullopt;
    return QByteArray(out);
}

bool verify(const QByteArray& storedHash, const QString& password)
{
    if (!sodiumReady() || storedHash.isEmpty())
        return false;
    const QByteArray utf8 = password.toUtf8();
    // crypto_pwhash_str_verify reads a NUL-terminated string; QByteArray guarantees the terminator.
    return crypto_pwhash_str_verify(storedHash.constData(), utf8.constData(), quint64(utf8.size())) == 0;
}

const QByteArray& decoyHash()
{
    static const QByteArray decoy = [] {
        QByteArray random(16, Qt::Uninitialized);
        if (sodiumReady())
            randombytes_buf(random.data(), size_t(random.size()));
        return hash(QString::fromLatin1(random.toHex())).value_or(QByteArray());
    }();
    return decoy;
}

} // namespace quiro::service::PasswordHasher
