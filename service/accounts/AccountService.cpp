#include "service/accounts/AccountService.h"

#include "core/Clock.h"
#include "service/WorkerPool.h"
#include "service/accounts/PasswordHasher.h"

#include <QPromise>
#include <QRegularExpression>

#include <cmath>

namespace quiro::service {

namespace {

const QString invalidCredentials = QStringLiteral("Invalid email or password");

std::optional<QString> bearerToken(const QByteArray& header)
{
    static const QByteArray prefix = "Bearer ";
    if (!header.startsWith(prefix))
        return std::nullopt;
    const QByteArray token = header.mid(prefix.size()).trimmed();
    if (token.isEmpty())
        return std::nullopt;
    return QString::fromLatin1(token);
}

QString waitText(double seconds)
{
    const int wholeSeconds = std::max(1, int(std::ceil(seconds)));
    if (wholeSeconds < 60)
        return QStringLiteral("%1 second%2").arg(wholeSeconds).arg(wholeSeconds == 1 ? "" : "s");
    const int minutes = (wholeSeconds + 59) / 60;
    return QStringLiteral("%1 minute%2").arg(minutes).arg(minutes == 1 ? "" : "s");
}

struct Credentials {
    QJsonObject body;
    QString email;
    QString password;
};

// The body of a sign-in or registration: a JSON object with string "email" and "password".
std::optional<Credentials> readCredentials(const QByteArray& body, ApiReply& error)
{
    const JsonBody parsed = parseJsonBody(body);
    if (!parsed.object) {
        error = parsed.error;
        return std::nullopt;
    }
    const auto email = requireString(*parsed.object, QStringLiteral("email"), error);
    if (!email)
        return std::nullopt;
    const auto password = requireString(*parsed.object, QStringLiteral("password"), error);
    if (!password)
        return std::nullopt;
    return Credentials{*parsed.object, *email, *password};
}

} // namespace

AccountService::AccountService(AccountStore& store, Jwt jwt, const Clock& clock, WorkerPool& workers,
                               int registrationsPerMinute)
    : m_store(store)
    , m_jwt(std::move(jwt))
    , m_clock(clock)
    , m_workers(workers)
    , m_registrationsPerMinute(std::max(1, registrationsPerMinute))
{
}

QString AccountService::normaliseEmail(const QString& email)
{
    return email.trimmed().toLower();
}

bool AccountService::isValidEmail(const QString& email)
{
    // The unquoted form of an address: the characters RFC 5322 allows in a local part, and a
    // domain of letters, digits and hyphens with a dot. Quoted local parts are not accepted.
    static const QRegularExpression pattern(
        QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+(\\.[A-Za-z0-9!#$%&'*+/=?^_`{|}~-]+)*"
                       "@([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)+[A-Za-z]{2,63}$"));
    if (email.size() > 254 || email.indexOf(QLatin1Char('@')) > 64)
        return false;
    return pattern.match(email).hasMatch();
}

QJsonObject AccountService::authBody(const Account& account) const
{
    return {
        {QStringLiteral("token"), m_jwt.issue(account.id, account.email, m_clock.now())},
        {QStringLiteral("email"), account.email},
        {QStringLiteral("name"), account.name},
    };
}

double AccountService::registrationWait(double now)
{
    while (!m_registrationTimes.isEmpty() && m_registrationTimes.first() <= now - 60.0)
        m_registrationTimes.removeFirst();
    if (m_registrationTimes.size() < m_registrationsPerMinute)
        return 0;
    return m_registrationTimes.first() + 60.0 - now;
}

QFuture<ApiReply> AccountService::registerAccount(const QByteArray& body)
{
    const auto refuse = [](ApiReply reply) { return QtFuture::makeReadyFuture(std::move(reply)); };
    ApiReply error;
    const auto credentials = readCredentials(body, error);
    if (!credentials)
        return refuse(error);
    const QString* email = &credentials->email;
    const QString* password = &credentials->password;
    const auto name = optionalString(credentials->body, QStringLiteral("name"), error);
    if (!name)
        return refuse(error);

    const QString normalised = normaliseEmail(*email);
    if (!isValidEmail(normalised))
        return refuse(ApiReply::error(422, QStringLiteral("Enter a valid email address")));
    const qsizetype passwordLength = password->toUcs4().size();
    if (passwordLength < minPasswordLength)
        return refuse(
            ApiReply::error(422, QStringLiteral("Password must be at least %1 characters").arg(minPasswordLength)));
    if (passwordLength > maxPasswordLength)
        return refuse(
            ApiReply::error(422, QStringLiteral("Password must be at most %1 characters").arg(maxPasswordLength)));
    const QString trimmedName = name->trimmed();
    if (trimmedName.size() > maxNameLength)
        return refuse(ApiReply::error(422, QStringLiteral("Name must be at most %1 characters").arg(maxNameLength)));

    const auto existing = m_store.findByEmail(normalised);
    if (existing.found == AccountStore::Found::Failed)
        return refuse(ApiReply::error(503, QStringLiteral("The account store is unavailable; try again")));
    if (existing.found == AccountStore::Found::Yes)
        return refuse(ApiReply::error(409, QStringLiteral("An account with this email already exists")));

    const double now = m_clock.now();
    if (const double wait = registrationWait(now); wait > 0) {
        ApiReply reply = ApiReply::error(
            429, QStringLiteral("Too many new accounts in the last minute. Try again in %1.").arg(waitText(wait)));
        reply.headers.append({"Retry-After", QByteArray::number(int(std::ceil(wait)))});
        return refuse(reply);
    }
    m_registrationTimes.append(now);

    Account account;
    account.email = normalised;
    account.name = trimmedName.isEmpty() ? normalised.section(QLatin1Char('@'), 0, 0) : trimmedName;
    account.createdAt = now;
    return m_workers.run(&PasswordHasher::hash, *password)
        .then(&m_home,
              [this, account](const std::optional<QByteArray>& hash) { return finishRegistration(account, hash); });
}

ApiReply AccountService::finishRegistration(Account account, const std::optional<QByteArray>& hash)
{
    if (!hash)
        return ApiReply::error(503, QStringLiteral("Could not secure the password; try again"));
    account.passwordHash = *hash;
    switch (m_store.add(account)) {
    case AccountStore::AddResult::Added:
        return ApiReply::ok(authBody(account));
    case AccountStore::AddResult::EmailTaken:
        return ApiReply::error(409, QStringLiteral("An account with this email already exists"));
    case AccountStore::AddResult::Failed:
        break;
    }
    return ApiReply::error(503, QStringLiteral("The account store is unavailable; try again"));
}

QFuture<ApiReply> AccountService::login(const QByteArray& body)
{
    ApiReply error;
    const auto credentials = readCredentials(body, error);
    if (!credentials)
        return QtFuture::makeReadyFuture(error);
    const QString password = credentials->password;
    if (password.size() > maxPasswordLength * 4)
        return QtFuture::makeReadyFuture(ApiReply::error(401, invalidCredentials));

    // One check at a time per address: each sees the failures recorded before it, so a burst of
    // parallel guesses gets no further than the same guesses one after another.
    const QString email = normaliseEmail(credentials->email);
    auto answer = std::make_shared<QPromise<ApiReply>>();
    answer->start();
    QList<LoginAttempt>& queue = m_loginQueues[email];
    queue.append({password, answer});
    if (queue.size() == 1)
        checkQueuedLogins(email);
    return answer->future();
}

void AccountService::checkQueuedLogins(const QString& email)
{
    for (auto queue = m_loginQueues.find(email); queue != m_loginQueues.end(); queue = m_loginQueues.find(email)) {
        const LoginAttempt attempt = queue->first();
        QFuture<ApiReply> check = checkLogin(email, attempt.password);
        if (!check.isFinished()) {
            check.then(&m_home, [this, email, attempt](const ApiReply& reply) {
                settleLogin(email, attempt, reply);
                checkQueuedLogins(email);
            });
            return;
        }
        settleLogin(email, attempt, check.result());
    }
}

void AccountService::settleLogin(const QString& email, const LoginAttempt& attempt, const ApiReply& reply)
{
    attempt.answer->addResult(reply);
    attempt.answer->finish();
    QList<LoginAttempt>& queue = m_loginQueues[email];
    queue.removeFirst();
    if (queue.isEmpty())
        m_loginQueues.remove(email);
}

QFuture<ApiReply> AccountService::checkLogin(const QString& email, const QString& password)
{
    const double now = m_clock.now();
    const double windowStart = now - lockoutWindowSeconds;
    m_store.forgetLoginFailuresBefore(windowStart);

    // Locked while five failures lie inside the last 15 minutes; attempts during the lock are not
    // recorded, so the lock ends 15 minutes after the fifth-newest failure.
    const QList<double> failures = m_store.loginFailuresSince(email, windowStart);
    if (failures.size() >= maxFailures) {
        const double unlockAt = failures.at(failures.size() - maxFailures) + lockoutWindowSeconds;
        const double waitSeconds = std::max(1.0, unlockAt - now);
        ApiReply reply = ApiReply::error(
            429, QStringLiteral("Too many failed sign-in attempts. Try again in %1.").arg(waitText(waitSeconds)));
        reply.headers.append({"Retry-After", QByteArray::number(int(std::ceil(waitSeconds)))});
        return QtFuture::makeReadyFuture(reply);
    }

    const auto lookup = m_store.findByEmail(email);
    if (lookup.found == AccountStore::Found::Failed)
        return QtFuture::makeReadyFuture(
            ApiReply::error(503, QStringLiteral("The account store is unavailable; try again")));
    const bool known = lookup.found == AccountStore::Found::Yes;
    const QByteArray storedHash = lookup.account.passwordHash;
    return m_workers
        .run([known, storedHash, password] {
            // An unknown e-mail costs a full hash check too, so timing does not tell which
            // addresses exist.
            return PasswordHasher::verify(known ? storedHash : PasswordHasher::decoyHash(), password);
        })
        .then(&m_home,
              [this, email, lookup](bool passwordMatches) { return finishLogin(email, lookup, passwordMatches); });
}

ApiReply AccountService::finishLogin(const QString& email, const AccountStore::Lookup& lookup, bool passwordMatches)
{
    if (lookup.found != AccountStore::Found::Yes || !passwordMatches) {
        m_store.recordLoginFailure(email, m_clock.now());
        return ApiReply::error(401, invalidCredentials);
    }
    m_store.clearLoginFailures(email);
    return ApiReply::ok(authBody(lookup.account));
}

std::optional<Account> AccountService::authenticate(const QByteArray& authorizationHeader)
{
    const auto token = bearerToken(authorizationHeader);
    if (!token)
        return std::nullopt;
    const Jwt::Result result = m_jwt.verify(*token, m_clock.now());
    if (result.verdict != Jwt::Verdict::Valid)
        return std::nullopt;
    const auto lookup = m_store.findById(result.claims.accountId);
    if (lookup.found != AccountStore::Found::Yes)
        return std::nullopt;
    return lookup.account;
}

ApiReply AccountService::refresh(const QByteArray& authorizationHeader)
{
    const auto account = authenticate(authorizationHeader);
    if (!account)
        return ApiReply::error(401, QStringLiteral("Invalid or expired token"));
    return ApiReply::ok({{QStringLiteral("token"), m_jwt.issue(account->id, account->email, m_clock.now())}});
}

ApiReply AccountService::me(const QByteArray& authorizationHeader)
{
    const auto account = authenticate(authorizationHeader);
    if (!account)
        return ApiReply::error(401, QStringLiteral("Invalid or expired token"));
    return ApiReply::ok({
        {QStringLiteral("email"), account->email},
        {QStringLiteral("name"), account->name},
        {QStringLiteral("email_verified"), false},
        {QStringLiteral("email_verification_required"), false},
    });
}

} // namespace quiro::service
