#pragma once

#include "service/accounts/AccountStore.h"

#include <QString>

namespace quiro::service {

// Accounts in one SQLite file (0600). Every statement is prepared with bound values.
class SqliteAccountStore final : public AccountStore {
public:
    explicit SqliteAccountStore(QString path);
    ~SqliteAccountStore() override;
    SqliteAccountStore(const SqliteAccountStore&) = delete;
    SqliteAccountStore& operator=(const SqliteAccountStore&) = delete;

    // Opens (creating when missing) the database and its tables; on failure `error` says why.
    bool open(QString* error);

    AddResult add(Account& account) override;
    Lookup findByEmail(const QString& email) override;
    Lookup findById(qint64 id) override;
    bool recordLoginFailure(const QString& email, double atSeconds) override;
    QList<double> loginFailuresSince(const QString& email, double sinceSeconds) override;
    bool clearLoginFailures(const QString& email) override;
    bool forgetLoginFailuresBefore(double beforeSeconds) override;
    qint64 accountCount() override;

private:
    QString m_path;
    QString m_connectionName;
};

} // namespace quiro::service
