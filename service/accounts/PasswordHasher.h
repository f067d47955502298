#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Argon2id password hashes (libsodium's crypto_pwhash_str format, which carries its own salt and
// cost parameters, so stronger settings later still verify old hashes).
namespace quiro::service::PasswordHasher {

std::optional<QByteArray> hash(const QString& password);
bool verify(const QByteArray& storedHash, const QString& password);

// A valid hash of a random password: verifying against it costs as much as a real check, so a
// sign-in for an unknown e-mail takes as long as one with a wrong password.
const QByteArray& decoyHash();

} // namespace quiro::service::PasswordHasher
