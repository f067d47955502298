#pragma once

#include "service/ApiReply.h"
#include "service/accounts/AccountStore.h"
#include "service/accounts/Jwt.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quiro {
class Clock;
}

namespace quiro::service {

// The account API: registration, sign-in with a lock-out after repeated failures, token renewal
// and the current user. Answers are ApiReply values; the HTTP layer only writes them.
class AccountService {
public:
    static constexpr int maxFailures = 5;
    static constexpr double lockoutWindowSeconds = 15 * 60.0;
    static constexpr int minPasswordLength = 6;
    // Argon2 reads the whole password; an upper bound keeps one request from costing more.
    static constexpr int maxPasswordLength = 1024;
    static constexpr int maxNameLength = 200;

    AccountService(AccountStore& store, Jwt jwt, const Clock& clock);

    ApiReply registerAccount(const QByteArray& body);
    ApiReply login(const QByteArray& body);
    ApiReply refresh(const QByteArray& authorizationHeader);
    ApiReply me(const QByteArray& authorizationHeader);

    // The account a bearer header belongs to, when its token is valid and the account exists.
    std::optional<Account> authenticate(const QByteArray& authorizationHeader);

    static bool isValidEmail(const QString& email);
    static QString normaliseEmail(const QString& email);

private:
    QJsonObject authBody(const Account& account) const;

    AccountStore& m_store;
    Jwt m_jwt;
    const Clock& m_clock;
};

} // namespace quiro::service
