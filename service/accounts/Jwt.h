#pragma once

#include <QByteArray>
#include <QString>

namespace quiro::service {

// HS256 JSON Web Tokens: the bearer credential of every request after sign-in.
class Jwt {
public:
    static constexpr double lifetimeSeconds = 7 * 24 * 3600.0;

    struct Claims {
        qint64 accountId = 0;
        QString email;
        double issuedAt = 0;
        double expiresAt = 0;
    };

    enum class Verdict { Valid, Malformed, BadSignature, Expired };

    struct Result {
        Verdict verdict = Verdict::Malformed;
        Claims claims;
    };

    explicit Jwt(QByteArray secret);

    QString issue(qint64 accountId, const QString& email, double nowSeconds) const;
    Result verify(const QString& token, double nowSeconds) const;

    // 32 random bytes for a new signing secret.
    static QByteArray newSecret();

private:
    QByteArray sign(const QByteArray& signingInput) const;

    QByteArray m_secret;
};

} // namespace quiro::service
