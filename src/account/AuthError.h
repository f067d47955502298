#pragma once

#include <QString>

namespace quiro {

// Why a sign-in or registration failed, with the sentence the user is shown.
class AuthError {
public:
    enum class Kind { server, network };

    // The service could not be reached (no connection, time-out, no HTTP answer). `reason` says
    // where and what to do, for those who can act on it (the command line names the address).
    static AuthError network(QString reason = {}) { return AuthError(Kind::network, {}, std::move(reason)); }
    // The service answered with a certificate we do not trust: not a reachability problem, and
    // `explanation` (which names the certificate) is shown instead of the generic sentence.
    static AuthError untrustedCertificate(QString explanation)
    {
        return AuthError(Kind::network, explanation, explanation);
    }
    // The service answered but refused or misbehaved; `message` is shown as it stands.
    static AuthError server(QString message) { return AuthError(Kind::server, message, message); }
    static AuthError badResponse() { return server(QStringLiteral("Bad server response")); }
    static AuthError status(int httpStatus) { return server(QStringLiteral("Server error (%1)").arg(httpStatus)); }

    Kind kind() const { return m_kind; }
    QString message() const
    {
        if (m_kind == Kind::network && m_message.isEmpty())
            return QStringLiteral("Cannot reach server — check your connection");
        return m_message;
    }
    // The message with what is known beyond it: the address and the way to start the service.
    QString reason() const { return m_reason.isEmpty() ? message() : m_reason; }

    bool operator==(const AuthError&) const = default;

private:
    AuthError(Kind kind, QString message, QString reason)
        : m_kind(kind)
        , m_message(std::move(message))
        , m_reason(std::move(reason))
    {
    }

    Kind m_kind;
    QString m_message;
    QString m_reason;
};

} // namespace quiro
