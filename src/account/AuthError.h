#pragma once

#include <QString>

namespace quiro {

// Why a sign-in or registration failed, with the sentence the user is shown.
class AuthError {
public:
    enum class Kind { server, network };

    // The service could not be reached (no connection, time-out, no HTTP answer).
    static AuthError network() { return AuthError(Kind::network, {}); }
    // The service answered with a certificate we do not trust: not a reachability problem, and
    // `explanation` (which names the certificate) is shown instead of the generic sentence.
    static AuthError untrustedCertificate(QString explanation)
    {
        return AuthError(Kind::network, std::move(explanation));
    }
    // The service answered but refused or misbehaved; `message` is shown as it stands.
    static AuthError server(QString message) { return AuthError(Kind::server, std::move(message)); }
    static AuthError badResponse() { return server(QStringLiteral("Bad server response")); }
    static AuthError status(int httpStatus) { return server(QStringLiteral("Server error (%1)").arg(httpStatus)); }

    Kind kind() const { return m_kind; }
    QString message() const
    {
        if (m_kind == Kind::network && m_message.isEmpty())
            return QStringLiteral("Cannot reach server — check your connection");
        return m_message;
    }

    bool operator==(const AuthError&) const = default;

private:
    AuthError(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message))
    {
    }

    Kind m_kind;
    QString m_message;
};

} // namespace quiro
