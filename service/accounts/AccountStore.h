#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace quiro::service {

struct Account {
    qint64 id = 0;
    QString email; // normalised: trimmed, lower case
    QString name;
    QByteArray passwordHash;
    double createdAt = 0;
};

// Where accounts and failed sign-ins live. SQLite serves one machine; a PostgreSQL store for a
// team is a second implementation of this interface, so the account logic never sees SQL.
class AccountStore {
public:
    enum class AddResult { Added, EmailTaken, Failed };
    enum class Found { Yes, No, Failed };

    struct Lookup {
        Found found = Found::Failed;
        Account account;
    };

    virtual ~AccountStore() = default;

    // Stores a new account and sets its id.
    virtual AddResult add(Account& account) = 0;
    virtual Lookup findByEmail(const QString& email) = 0;
    virtual Lookup findById(qint64 id) = 0;

    // Failed sign-ins per e-mail, for the lock-out window. Times are seconds since 1970.
    virtual bool recordLoginFailure(const QString& email, double atSeconds) = 0;
    // Ascending times of the failures at or after `sinceSeconds`; nullopt-like empty on failure.
    virtual QList<double> loginFailuresSince(const QString& email, double sinceSeconds) = 0;
    virtual bool clearLoginFailures(const QString& email) = 0;
    virtual bool forgetLoginFailuresBefore(double beforeSeconds) = 0;

    virtual qint64 accountCount() = 0;
};

} // namespace quiro::service
