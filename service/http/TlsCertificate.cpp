#include "service/http/TlsCertificate.h"

#include "core/AtomicFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace quiro::service::TlsCertificate {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

bool addExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    ExtPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool keyMatches(const QByteArray& certPem, const QByteArray& keyPem)
{
    BioPtr certBio(BIO_new_mem_buf(certPem.constData(), int(certPem.size())));
    BioPtr keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    if (!certBio || !keyBio)
        return false;
    CertPtr certificate(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    return certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
}

} // namespace

std::optional<Pem> generate(int validDays, QString* error)
{
    const auto fail = [error](const char* what) {
        if (error)
            *error = QString::fromLatin1(what);
        return std::optional<Pem>();
    };
    KeyPtr key(EVP_EC_gen("P-256"));
    if (!key)
        return fail("cannot create a key");
    CertPtr certificate(X509_new());
    if (!certificate)
        return fail("cannot create a certificate");
    X509_set_version(certificate.get(), 2); // X.509 v3, for the extensions

    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1)
        return fail("no randomness for the serial number");
    serial[0] &= 0x7f; // a positive number
    BIGNUM* serialNumber = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(serialNumber, X509_get_serialNumber(certificate.get()));
    BN_free(serialNumber);

    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), long(validDays) * 24 * 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Quiro local service"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                               0);
    X509_set_issuer_name(certificate.get(), name);

    if (!addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1") ||
        !addExtension(certificate.get(), NID_key_usage, "critical,digitalSignature") ||
        !addExtension(certificate.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(certificate.get(), NID_subject_key_identifier, "hash"))
        return fail("cannot add the certificate extensions");
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0)
        return fail("cannot sign the certificate");

    BioPtr certBio(BIO_new(BIO_s_mem()));
    BioPtr keyBio(BIO_new(BIO_s_mem()));
    if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), certificate.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return fail("cannot encode the certificate");
    return Pem{bioBytes(certBio.get()), bioBytes(keyBio.get())};
}

std::optional<Identity> loadOrCreate(const QString& folder, QString* error)
{
    const QString certPath = folder + QStringLiteral("/cert.pem");
    const QString keyPath = folder + QStringLiteral("/key.pem");

    if (QFileInfo::exists(certPath) && QFileInfo::exists(keyPath)) {
        QFile certFile(certPath);
        QFile keyFile(keyPath);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("cannot read %1 or %2").arg(certPath, keyPath);
            return std::nullopt;
        }
        const QByteArray certPem = certFile.readAll();
        const QByteArray keyPem = keyFile.readAll();
        const auto certificates = QSslCertificate::fromData(certPem, QSsl::Pem);
        const QSslKey key(keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
        const bool current = !certificates.isEmpty() && !key.isNull() && keyMatches(certPem, keyPem) &&
                             certificates.first().expiryDate() > QDateTime::currentDateTimeUtc().addDays(1);
        if (current)
            return Identity{certificates.first(), key};
    }

    const auto pem = generate(825, error);
    if (!pem)
        return std::nullopt;
    // The key first: a certificate must never be left without its key.
    if (!AtomicFile::write(keyPath, pem->privateKey) || !AtomicFile::write(certPath, pem->certificate)) {
        if (error)
            *error = QStringLiteral("cannot write %1 and %2").arg(certPath, keyPath);
        return std::nullopt;
    }
    QSslKey key(pem->privateKey, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
    const auto certificates = QSslCertificate::fromData(pem->certificate, QSsl::Pem);
    if (key.isNull() || certificates.isEmpty()) {
        if (error)
            *error = QStringLiteral("the new certificate cannot be read back");
        return std::nullopt;
    }
    return Identity{certificates.first(), key};
}

} // namespace quiro::service::TlsCertificate
