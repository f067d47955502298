#include "service/accounts/SqliteAccountStore.h"

#include "core/Log.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace quiro::service {

namespace {

// SQLite reports a UNIQUE violation as extended code 2067 (SQLITE_CONSTRAINT_UNIQUE); the
// driver passes the primary code 19 (SQLITE_CONSTRAINT) on some versions.
bool isUniqueViolation(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("2067") || code == QLatin1String("19") || code == QLatin1String("1555");
}

AccountStore::Lookup readAccount(QSqlQuery& query)
{
    if (!query.exec())
        return {AccountStore::Found::Failed, {}};
    if (!query.next())
        return {AccountStore::Found::No, {}};
    Account account;
    account.id = query.value(0).toLongLong();
    account.email = query.value(1).toString();
    account.name = query.value(2).toString();
    account.passwordHash = query.value(3).toByteArray();
    account.createdAt = query.value(4).toDouble();
    return {AccountStore::Found::Yes, account};
}

} // namespace

SqliteAccountStore::SqliteAccountStore(QString path)
    : m_path(std::move(path))
    , m_connectionName(QStringLiteral("accounts-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

SqliteAccountStore::~SqliteAccountStore()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool SqliteAccountStore::open(QString* error)
{
    // Created private before SQLite touches it: SQLite gives its journal files the database
    // file's mode, so they are private too.
    const auto privateMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(m_path)) {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(privateMode)) {
            if (error)
                *error = file.errorString();
            return false;
        }
    }
    QFile::setPermissions(m_path, privateMode);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    const char* const schema[] = {
        // A write-ahead log with normal syncing: a crash cannot corrupt the database, and a sign-in
        // does not wait for several disk flushes.
        "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL",
        "CREATE TABLE IF NOT EXISTS accounts ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " email TEXT NOT NULL UNIQUE,"
        " name TEXT NOT NULL,"
        " password_hash TEXT NOT NULL,"
        " created_at REAL NOT NULL)",
        "CREATE TABLE IF NOT EXISTS login_failures (email TEXT NOT NULL, at REAL NOT NULL)",
        "CREATE INDEX IF NOT EXISTS login_failures_email ON login_failures (email, at)",
    };
    for (const char* statement : schema) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(statement))) {
            if (error)
                *error = query.lastError().text();
            return false;
        }
    }
    return true;
}

AccountStore::AddResult SqliteAccountStore::add(Account& account)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral(
        "INSERT INTO accounts (email, name, password_hash, created_at) VALUES (:email, :name, :hash, :created)"));
    query.bindValue(QStringLiteral(":email"), account.email);
    query.bindValue(QStringLiteral(":name"), account.name);
    query.bindValue(QStringLiteral(":hash"), QString::fromLatin1(account.passwordHash));
    query.bindValue(QStringLiteral(":created"), account.createdAt);
    if (!query.exec()) {
        if (isUniqueViolation(query.lastError()))
            return AddResult::EmailTaken;
        Log::line(QStringLiteral("Service"), QStringLiteral("account insert failed: ") + query.lastError().text());
        return AddResult::Failed;
    }
    account.id = query.lastInsertId().toLongLong();
    return AddResult::Added;
}

AccountStore::Lookup SqliteAccountStore::findByEmail(const QString& email)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(
        QStringLiteral("SELECT id, email, name, password_hash, created_at FROM accounts WHERE email = :email"));
    query.bindValue(QStringLiteral(":email"), email);
    return readAccount(query);
}

AccountStore::Lookup SqliteAccountStore::findById(qint64 id)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("SELECT id, email, name, password_hash, created_at FROM accounts WHERE id = :id"));
    query.bindValue(QStringLiteral(":id"), id);
    return readAccount(query);
}

bool SqliteAccountStore::recordLoginFailure(const QString& email, double atSeconds)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("INSERT INTO login_failures (email, at) VALUES (:email, :at)"));
    query.bindValue(QStringLiteral(":email"), email);
    query.bindValue(QStringLiteral(":at"), atSeconds);
    return query.exec();
}

QList<double> SqliteAccountStore::loginFailuresSince(const QString& email, double sinceSeconds)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(
        QStringLiteral("SELECT at FROM login_failures WHERE email = :email AND at >= :since ORDER BY at ASC"));
    query.bindValue(QStringLiteral(":email"), email);
    query.bindValue(QStringLiteral(":since"), sinceSeconds);
    QList<double> times;
    if (!query.exec())
        return times;
    while (query.next())
        times.append(query.value(0).toDouble());
    return times;
}

bool SqliteAccountStore::clearLoginFailures(const QString& email)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("DELETE FROM login_failures WHERE email = :email"));
    query.bindValue(QStringLiteral(":email"), email);
    return query.exec();
}

bool SqliteAccountStore::forgetLoginFailuresBefore(double beforeSeconds)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("DELETE FROM login_failures WHERE at < :before"));
    query.bindValue(QStringLiteral(":before"), beforeSeconds);
    return query.exec();
}

qint64 SqliteAccountStore::accountCount()
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM accounts"));
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

} // namespace quiro::service
