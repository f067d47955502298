#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

namespace quiro::service {

// The service's self-signed certificate for localhost and 127.0.0.1. The app trusts exactly this
// certificate for loopback hosts, so it is made once and kept: cert.pem and key.pem (0600) in the
// data folder.
namespace TlsCertificate {

struct Pem {
    QByteArray certificate;
    QByteArray privateKey;
};

struct Identity {
    QSslCertificate certificate;
    QSslKey key;
};

// A new P-256 key and a certificate: CA:FALSE, subjectAltName DNS:localhost, IP:127.0.0.1,
// IP:::1, server authentication, valid from an hour ago for `validDays`.
std::optional<Pem> generate(int validDays, QString* error);

// The identity in `folder`, created when missing; a certificate that has expired or does not
// match its key is replaced.
std::optional<Identity> loadOrCreate(const QString& folder, QString* error);

} // namespace TlsCertificate

} // namespace quiro::service
