#include "core/Clock.h"
#include "service/WorkerPool.h"
#include "service/accounts/AccountService.h"
#include "service/accounts/Jwt.h"
#include "service/accounts/PasswordHasher.h"
#include "service/accounts/SqliteAccountStore.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QTemporaryDir>
#include <QTest>

using namespace quiro;
using namespace quiro::service;

namespace {

QByteArray credentials(const QString& email, const QString& password, const QString& name = "Ann")
{
    return test::json({{"email", email}, {"password", password}, {"name", name}});
}

// The answer of a future, with the event loop running meanwhile: the service finishes its work on
// this thread once the worker pool is done.
ApiReply settled(const QFuture<ApiReply>& future)
{
    QFutureWatcher<ApiReply> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(future);
    if (!future.isFinished())
        loop.exec();
    return future.result();
}

QByteArray bearer(const ApiReply& reply)
{
    return "Bearer " + reply.body.value("token").toString().toLatin1();
}

} // namespace

class TestAccounts : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SqliteAccountStore> m_store;
    QString m_storePath;
    std::unique_ptr<ManualClock> m_clock;
    WorkerPool m_workers;
    std::unique_ptr<AccountService> m_service;

    // The answer once the hashing on the worker pool is done.
    ApiReply registerAccount(const QByteArray& body) { return settled(m_service->registerAccount(body)); }
    ApiReply login(const QByteArray& body) { return settled(m_service->login(body)); }

private slots:
    void init()
    {
        // A fresh database for every test and every data row.
        static int s_databases = 0;
        m_storePath = m_dir.filePath(QStringLiteral("accounts-%1.db").arg(++s_databases));
        m_store = std::make_unique<SqliteAccountStore>(m_storePath);
        QString error;
        QVERIFY2(m_store->open(&error), qPrintable(error));
        m_clock = std::make_unique<ManualClock>();
        m_service = std::make_unique<AccountService>(*m_store, Jwt(QByteArray(32, 'k')), *m_clock, m_workers);
    }
    void cleanup()
    {
        m_service.reset();
        m_store.reset();
    }

    void jwtRoundTrip()
    {
        const Jwt jwt(QByteArray(32, 's'));
        const QString token = jwt.issue(42, "a@b.co", 1000.5);
        const auto result = jwt.verify(token, 1001);
        QCOMPARE(result.verdict, Jwt::Verdict::Valid);
        QCOMPARE(result.claims.accountId, 42);
        QCOMPARE(result.claims.expiresAt, 1000.0 + Jwt::lifetimeSeconds);
    }

    void jwtRejects_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<double>("checkAt");
        QTest::addColumn<int>("verdict");
        const double now = 5000;
        const QString token = Jwt(QByteArray(32, 's')).issue(7, "a@b.co", now);
        const QStringList parts = token.split('.');
        const auto encode = [](const QByteArray& bytes) {
            return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        };
        const int badSignature = int(Jwt::Verdict::BadSignature);
        const int malformed = int(Jwt::Verdict::Malformed);
        QTest::newRow("other secret") << Jwt(QByteArray(32, 'x')).issue(7, "a@b.co", now) << now + 1 << badSignature;
        QTest::newRow("payload changed") << parts[0] + '.' +
                                                encode(R"({"sub":"8","email":"a@b.co","iat":5000,"exp":9999999999})") +
                                                '.' + parts[2]
                                         << now + 1 << badSignature;
        QTest::newRow("alg none") << encode(R"({"alg":"none","typ":"JWT"})") + '.' + parts[1] + '.' + parts[2]
                                  << now + 1 << malformed;
        QTest::newRow("two parts") << parts[0] + '.' + parts[1] << now + 1 << malformed;
        QTest::newRow("exactly at expiry") << token << now + Jwt::lifetimeSeconds << int(Jwt::Verdict::Expired);
    }
    void jwtRejects()
    {
        QFETCH(QString, token);
        QFETCH(double, checkAt);
        QFETCH(int, verdict);
        QCOMPARE(int(Jwt(QByteArray(32, 's')).verify(token, checkAt).verdict), verdict);
    }

    void passwordHash()
    {
        const auto hash = PasswordHasher::hash("correct horse");
        QVERIFY(hash);
        QVERIFY(hash->startsWith("$argon2id$"));
        QVERIFY(PasswordHasher::verify(*hash, "correct horse"));
        QVERIFY(!PasswordHasher::verify(*hash, "correct horsE"));
        QVERIFY(!PasswordHasher::verify(QByteArray(), ""));
    }

    void registerValidation_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("ok") << credentials("ann@example.com", "secret") << 200;
        QTest::newRow("password of 5") << credentials("ann@example.com", "12345") << 422;
        QTest::newRow("password of 6 emoji counts characters")
            << credentials("ann@example.com", "\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600") << 200;
        QTest::newRow("no at sign") << credentials("ann.example.com", "secret") << 422;
        QTest::newRow("email not a string") << test::json({{"email", 5}, {"password", "secret"}}) << 422;
        QTest::newRow("not json") << QByteArray("email=ann") << 400;
    }
    void registerValidation()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const ApiReply reply = registerAccount(body);
        QCOMPARE(reply.status, status);
        QCOMPARE(m_store->accountCount(), status == 200 ? 1 : 0);
        if (status == 200) {
            QCOMPARE(reply.body.value("email").toString(), "ann@example.com");
            QVERIFY(reply.body.value("token").isString());
        } else {
            QVERIFY(!reply.body.value("detail").toString().isEmpty());
        }
    }

    void sqlMetacharactersAreData()
    {
        // Apostrophes and percent signs are legal in the local part and must be stored as typed.
        const QString email = "o'brien+100%_x@example.com";
        QCOMPARE(registerAccount(credentials(email, "secret")).status, 200);
        QCOMPARE(login(credentials(email, "secret")).status, 200);
        QCOMPARE(login(credentials("' OR '1'='1", "secret")).status, 401);
        QCOMPARE(login(credentials("%@example.com", "secret")).status, 401);
        QCOMPARE(m_store->findByEmail("o'brien+100%_x@example.com").found, AccountStore::Found::Yes);
        QCOMPARE(m_store->accountCount(), 1);
    }

    void duplicateEmailIgnoresCase()
    {
        QCOMPARE(registerAccount(credentials("Ann@Example.com", "secret")).status, 200);
        const ApiReply again = registerAccount(credentials(" ann@example.COM ", "other1"));
        QCOMPARE(again.status, 409);
        QVERIFY(!again.body.value("detail").toString().isEmpty());
        QCOMPARE(login(credentials("ANN@example.com", "secret")).status, 200);
    }

    void loginFailures()
    {
        QCOMPARE(registerAccount(credentials("ann@example.com", "secret")).status, 200);
        // A wrong password and an unknown address are told apart by nothing.
        for (const QByteArray& body :
             {credentials("ann@example.com", "wrong!"), credentials("nobody@example.com", "secret")}) {
            const ApiReply reply = login(body);
            QCOMPARE(reply.status, 401);
            QCOMPARE(reply.body.value("detail").toString(), "Invalid email or password");
        }
    }

    void lockout_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<double>("spacingSeconds");
        QTest::addColumn<double>("waitAfterSeconds");
        QTest::addColumn<int>("status");
        QTest::newRow("four failures") << 4 << 1.0 << 0.0 << 200;
        QTest::newRow("five failures lock") << 5 << 1.0 << 0.0 << 429;
        QTest::newRow("still locked just before the window ends") << 5 << 1.0 << 895.0 << 429;
        QTest::newRow("unlocked when the fifth-newest leaves the window") << 5 << 1.0 << 897.0 << 200;
        QTest::newRow("spread over more than 15 minutes") << 5 << 240.0 << 0.0 << 200;
    }
    void lockout()
    {
        QFETCH(int, failures);
        QFETCH(double, spacingSeconds);
        QFETCH(double, waitAfterSeconds);
        QFETCH(int, status);
        QCOMPARE(registerAccount(credentials("ann@example.com", "secret")).status, 200);
        for (int i = 0; i < failures; ++i) {
            const int code = login(credentials("ann@example.com", "wrong!")).status;
            QVERIFY(code == 401 || code == 429);
            m_clock->advance(spacingSeconds);
        }
        m_clock->advance(waitAfterSeconds);
        // The right password does not get through a lock.
        const ApiReply reply = login(credentials("ann@example.com", "secret"));
        QCOMPARE(reply.status, status);
        if (status == 429) {
            QVERIFY(reply.body.value("detail").toString().contains("Try again in"));
            QCOMPARE(reply.headers.size(), 1);
            QCOMPARE(reply.headers.first().first, QByteArray("Retry-After"));
        }
    }

    void lockoutSaysWhen()
    {
        QCOMPARE(registerAccount(credentials("ann@example.com", "secret")).status, 200);
        for (int i = 0; i < 5; ++i)
            login(credentials("ann@example.com", "wrong!"));
        m_clock->advance(60);
        QCOMPARE(login(credentials("ann@example.com", "secret")).body.value("detail").toString(),
                 "Too many failed sign-in attempts. Try again in 14 minutes.");
        m_clock->advance(14 * 60 - 30);
        QCOMPARE(login(credentials("ann@example.com", "secret")).body.value("detail").toString(),
                 "Too many failed sign-in attempts. Try again in 30 seconds.");
        // Another address is not locked by these failures.
        QCOMPARE(login(credentials("other@example.com", "secret")).status, 401);
    }

    void parallelGuessesStopAtTheLock()
    {
        QCOMPARE(registerAccount(credentials("ann@example.com", "secret")).status, 200);
        QList<QFuture<ApiReply>> guesses;
        for (int i = 0; i < 8; ++i)
            guesses << m_service->login(credentials("ann@example.com", "wrong!"));
        int checked = 0;
        for (const QFuture<ApiReply>& guess : guesses)
            checked += settled(guess).status == 401 ? 1 : 0;
        QCOMPARE(checked, AccountService::maxFailures);
        QCOMPARE(login(credentials("ann@example.com", "secret")).status, 429);
    }

    void registrationsPerMinuteForTheWholeService()
    {
        AccountService service(*m_store, Jwt(QByteArray(32, 'k')), *m_clock, m_workers, 2);
        const auto registerAs = [&service](const QString& email) {
            return settled(service.registerAccount(credentials(email, "secret")));
        };
        QCOMPARE(registerAs("a@example.com").status, 200);
        m_clock->advance(20);
        QCOMPARE(registerAs("b@example.com").status, 200);
        // Refused registrations cost nothing and do not count.
        QCOMPARE(registerAs("b@example.com").status, 409);
        QCOMPARE(registerAs("not an address").status, 422);

        const ApiReply third = registerAs("c@example.com");
        QCOMPARE(third.status, 429);
        QCOMPARE(third.body.value("detail").toString(),
                 "Too many new accounts in the last minute. Try again in 40 seconds.");
        QCOMPARE(third.headers.value(0), (QPair<QByteArray, QByteArray>("Retry-After", "40")));
        m_clock->advance(40);
        QCOMPARE(registerAs("c@example.com").status, 200);
        QCOMPARE(m_store->accountCount(), 3);
    }

    void successClearsFailures()
    {
        QCOMPARE(registerAccount(credentials("ann@example.com", "secret")).status, 200);
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 4; ++i)
                login(credentials("ann@example.com", "wrong!"));
            QCOMPARE(login(credentials("ann@example.com", "secret")).status, 200);
        }
    }

    void refreshAndMe()
    {
        const ApiReply registered = registerAccount(credentials("ann@example.com", "secret", "Ann Lee"));
        const QByteArray header = bearer(registered);
        const ApiReply me = m_service->me(header);
        QCOMPARE(me.status, 200);
        QCOMPARE(me.body.value("name").toString(), "Ann Lee");
        QCOMPARE(me.body.value("email_verified"), QJsonValue(false));
        QCOMPARE(me.body.value("email_verification_required"), QJsonValue(false));

        m_clock->advance(Jwt::lifetimeSeconds - 10);
        const ApiReply refreshed = m_service->refresh(header);
        QCOMPARE(refreshed.status, 200);
        m_clock->advance(20);
        QCOMPARE(m_service->me(header).status, 401);
        QCOMPARE(m_service->refresh(header).status, 401);
        QCOMPARE(m_service->me(bearer(refreshed)).status, 200);

        for (const QByteArray& malformed : {QByteArray("Bearer"), QByteArray("Basic abc"), QByteArray()})
            QCOMPARE(m_service->me(malformed).status, 401);
    }

    void tokenOfAnotherDatabaseIsRefused()
    {
        // Same secret, but the account id names nobody here.
        const QString token = Jwt(QByteArray(32, 'k')).issue(999, "ghost@example.com", m_clock->now());
        QCOMPARE(m_service->me("Bearer " + token.toLatin1()).status, 401);
    }

    void databaseIsPrivate() { QCOMPARE(QFileInfo(m_storePath).permissions() & 0x0077, QFileDevice::Permissions()); }
};

QTEST_GUILESS_MAIN(TestAccounts)
#include "tst_accounts.moc"
