#pragma once

#include "service/ApiReply.h"
#include "service/accounts/AccountStore.h"
#include "service/accounts/Jwt.h"

#include <QByteArray>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QString>

#include <memory>
#include <optional>

namespace quiro {
class Clock;
}

namespace quiro::service {

class WorkerPool;

// The account API: registration, sign-in with a lock-out after repeated failures, token renewal
// and the current user. Answers are ApiReply values; the HTTP layer only writes them.
//
// Password hashing and checking take a noticeable fraction of a second, so they run on the worker
// pool and registration and sign-in answer through a future; everything touching the store runs
// on the thread that created the service (a database connection belongs to one thread).
class AccountService {
public:
    static constexpr int maxFailures = 5;
    static constexpr double lockoutWindowSeconds = 15 * 60.0;
    static constexpr int minPasswordLength = 6;
    // Argon2 reads the whole password; an upper bound keeps one request from costing more.
    static constexpr int maxPasswordLength = 1024;
    static constexpr int maxNameLength = 200;
    // New accounts the whole service creates per minute: every client of a local service comes
    // from 127.0.0.1, so the limit cannot be per address.
    static constexpr int defaultRegistrationsPerMinute = 10;

    AccountService(AccountStore& store, Jwt jwt, const Clock& clock, WorkerPool& workers,
                   int registrationsPerMinute = defaultRegistrationsPerMinute);

    QFuture<ApiReply> registerAccount(const QByteArray& body);
    QFuture<ApiReply> login(const QByteArray& body);
    ApiReply refresh(const QByteArray& authorizationHeader);
    ApiReply me(const QByteArray& authorizationHeader);

    // The account a bearer header belongs to, when its token is valid and the account exists.
    std::optional<Account> authenticate(const QByteArray& authorizationHeader);

    static bool isValidEmail(const QString& email);
    static QString normaliseEmail(const QString& email);

private:
    QJsonObject authBody(const Account& account) const;
    ApiReply finishRegistration(Account account, const std::optional<QByteArray>& hash);
    struct LoginAttempt {
        QString password;
        std::shared_ptr<QPromise<ApiReply>> answer;
    };
    void checkQueuedLogins(const QString& email);
    void settleLogin(const QString& email, const LoginAttempt& attempt, const ApiReply& reply);
    QFuture<ApiReply> checkLogin(const QString& email, const QString& password);
    ApiReply finishLogin(const QString& email, const AccountStore::Lookup& lookup, bool passwordMatches);
    // Seconds until another registration is allowed, 0 when one is allowed now.
    double registrationWait(double now);

    AccountStore& m_store;
    Jwt m_jwt;
    const Clock& m_clock;
    WorkerPool& m_workers;
    const int m_registrationsPerMinute;
    QList<double> m_registrationTimes; // of the last minute, oldest first
    // Sign-ins per e-mail not answered yet, the one being checked first.
    QHash<QString, QList<LoginAttempt>> m_loginQueues;
    // Continuations of the pool's work run on this object's thread, the service's own.
    QObject m_home;
};

} // namespace quiro::service
