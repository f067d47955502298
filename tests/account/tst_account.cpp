#include "account/AuthManager.h"
#include "account/JwtExpiry.h"
#include "account/TokenStore.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "core/Preferences.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestSupport.h"
#include "support/Tokens.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace quiro;
using test::ScriptedReply;

namespace {

constexpr double day = 86'400.0;
const double now = 1'800'000'000.0;
// A service that does not answer.
const Config offline{"http://127.0.0.1:1", Config::defaultHintModel, "en"};

QJsonObject authBody(const QString& token, const QString& email = "ann@example.com", const QString& name = "Ann")
{
    return {{"token", token}, {"email", email}, {"name", name}};
}

// A manager against a scripted loopback server, with its token in a private file under a
// temporary home (no secret service in these tests).
struct Fixture {
    test::TempHome home;
    test::ScriptedHttpServer server;
    ManualClock clock{now};
    TokenStore store{TokenStore::Backend::fileOnly};
    std::unique_ptr<AuthManager> auth;

    Fixture()
    {
        // Qt settles the settings folder once per process: start every case without an account.
        Preferences::clearAccount();
        QVERIFY(server.start());
        auth = std::make_unique<AuthManager>(Config{server.baseUrl(), Config::defaultHintModel, "en"}, &store, clock);
    }

    std::optional<AuthError> login(const QString& email = "ann@example.com", const QString& password = "pw")
    {
        auto result = test::awaitTask(auth->login(email, password));
        if (!result)
            qFatal("login did not finish");
        return *result;
    }

    // Signed in with `token` as if the service had just answered.
    void signIn(const QString& token)
    {
        server.enqueueReply("/api/login", ScriptedReply::json(authBody(token)));
        QVERIFY(!login());
        QCOMPARE(auth->token(), token);
    }
};

// Counts "quiro.logged_out" notifications while it lives.
struct LoggedOut : QObject {
    int count = 0;
    LoggedOut()
    {
        NotificationCenter::instance().observe(Notifications::loggedOut, this,
                                               [this](const Notification&) { ++count; });
    }
};

} // namespace

class TestAccount : public QObject {
    Q_OBJECT

private slots:
    void expiryFromPayload_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<double>("expected"); // -1: unknown

        // Payloads of 3k, 3k+2 and 3k+1 bytes need 0, 1 and 2 padding characters, which tokens leave out;
        // "???>>>" encodes to the URL alphabet's "_" and "-".
        QTest::newRow("no padding") << test::tokenWithPayload(R"({"exp":1800000000,"a":"12"})") << 1.8e9;
        QTest::newRow("one padding character") << test::tokenWithPayload(R"({"exp":1800000000,"a":"1234"})") << 1.8e9;
        QTest::newRow("two padding characters") << test::tokenWithPayload(R"({"exp":1800000000,"a":"123"})") << 1.8e9;
        QTest::newRow("url alphabet") << test::tokenWithPayload(R"({"exp":1800000001,"s":"???>>>"})") << 1800000001.0;
        QTest::newRow("no exp") << test::tokenWithPayload(R"({"sub":"1"})") << -1.0;
        QTest::newRow("exp is a string") << test::tokenWithPayload(R"({"exp":"1800000000"})") << -1.0;
        QTest::newRow("payload not JSON") << test::tokenWithPayload("exp=1800000000") << -1.0;
        QTest::newRow("payload not base64") << "a.!!!!.c" << -1.0;
    }

    void expiryFromPayload()
    {
        QFETCH(QString, token);
        QFETCH(double, expected);
        QCOMPARE(JwtExpiry::expiry(token), expected < 0 ? std::nullopt : std::optional<double>(expected));
    }

    void refreshDelay_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("justRenewed");
        QTest::addColumn<double>("expected"); // -1: nothing to schedule
        const auto expiring = [](double lifetime) { return test::tokenExpiringAt(now + lifetime); };
        QTest::newRow("10 days ahead: a day") << expiring(10 * day) << false << day;
        QTest::newRow("3.5 days ahead: 12 hours") << expiring(3.5 * day) << false << 0.5 * day;
        QTest::newRow("3 days and a second ahead") << expiring(3 * day + 1) << false << 1.0;
        QTest::newRow("exactly 3 days ahead: now") << expiring(3 * day) << false << 0.0;
        QTest::newRow("expired: now") << expiring(-day) << false << 0.0;
        QTest::newRow("no exp: nothing") << test::tokenWithPayload(R"({"sub":"1"})") << false << -1.0;
        // Right after a renewal a short-lived token is renewed halfway, but not within a minute.
        QTest::newRow("renewed, one day: halfway") << expiring(day) << true << day / 2;
        QTest::newRow("renewed, one minute: not before a minute") << expiring(60) << true << 60.0;
    }

    void refreshDelay()
    {
        QFETCH(QString, token);
        QFETCH(bool, justRenewed);
        QFETCH(double, expected);
        const auto delay =
            justRenewed ? JwtExpiry::delayAfterRenewalSeconds(token, now) : JwtExpiry::refreshDelaySeconds(token, now);
        QCOMPARE(delay, expected < 0 ? std::nullopt : std::optional<double>(expected));
    }

    void authStatuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message"); // empty: success

        const QString token = test::tokenExpiringAt(now + 10 * day);
        const QByteArray valid = QJsonDocument(authBody(token)).toJson();
        QTest::newRow("200 valid") << 200 << valid << "";
        QTest::newRow("200 without name")
            << 200 << QByteArray(R"({"token":"t.t.t","email":"a"})") << "Bad server response";
        QTest::newRow("201 valid body") << 201 << valid << "Server error (201)";
        QTest::newRow("401 with detail") << 401 << QByteArray(R"({"detail":"Invalid email or password"})")
                                         << "Invalid email or password";
        QTest::newRow("401 without detail") << 401 << QByteArray(R"({"error":"nope"})") << "Server error (401)";
    }

    void authStatuses()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        Fixture f;
        QSignalSpy tokenSpy(f.auth.get(), &AuthManager::tokenChanged);
        f.server.setReply("/api/login", ScriptedReply::text(body, status));
        const auto error = f.login();
        if (message.isEmpty()) {
            QVERIFY(!error);
            QVERIFY(f.auth->isLoggedIn());
            QCOMPARE(tokenSpy.count(), 1);
            return;
        }
        QVERIFY(error);
        QCOMPARE(error->kind(), AuthError::Kind::server);
        QCOMPARE(error->message(), message);
        // A failed sign-in changes nothing.
        QVERIFY(!f.auth->isLoggedIn());
        QVERIFY(!f.auth->email());
        QCOMPARE(tokenSpy.count(), 0);
        QVERIFY(!Preferences::email());
        QVERIFY(!QFile::exists(f.store.filePath()));
    }

    void loginSendsCredentialsAndSignsIn()
    {
        Fixture f;
        const QString token = test::tokenExpiringAt(now + 10 * day);
        f.server.setReply("/api/login", ScriptedReply::json(authBody(token, "bob@example.com", "Bob")));
        QSignalSpy emailSpy(f.auth.get(), &AuthManager::emailChanged);
        QSignalSpy nameSpy(f.auth.get(), &AuthManager::nameChanged);
        QVERIFY(!f.login("bob@example.com", "s3cret \"x\""));

        QCOMPARE(f.server.requests("/api/login").value(0).json(),
                 (QJsonObject{{"email", "bob@example.com"}, {"password", "s3cret \"x\""}}));

        QCOMPARE(f.auth->token(), token);
        QCOMPARE(f.auth->email(), QString("bob@example.com"));
        QCOMPARE(f.auth->name(), QString("Bob"));
        QCOMPARE(emailSpy.count(), 1);
        QCOMPARE(nameSpy.count(), 1);
        QCOMPARE(Preferences::email(), QString("bob@example.com"));
        QCOMPARE(Preferences::name(), QString("Bob"));
        // Stored (privately) by the time login() finished.
        QCOMPARE(test::readFile(f.store.filePath()), token.toUtf8());
        QCOMPARE(test::modeBits(f.store.filePath()), test::privateFile);
    }

    void unreachableServiceIsANetworkError_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("closed port") << "http://127.0.0.1:1";
        QTest::newRow("not a URL") << "not a url";
    }

    void unreachableServiceIsANetworkError()
    {
        QFETCH(QString, base);
        test::TempHome home;
        ManualClock clock;
        TokenStore store(TokenStore::Backend::fileOnly);
        AuthManager auth(Config{base, Config::defaultHintModel, "en"}, &store, clock);
        const auto error = test::awaitTask(auth.login("a@example.com", "pw"));
        QVERIFY(error && *error);
        QCOMPARE((*error)->kind(), AuthError::Kind::network);
        QCOMPARE((*error)->message(), QString("Cannot reach server — check your connection"));
    }

    void refreshOutcomes_data()
    {
        QTest::addColumn<int>("status"); // 0: the service is gone
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("newToken"); // empty: unchanged
        QTest::addColumn<QStringList>("logLines");

        const QString fresh = test::tokenExpiringAt(now + 30 * day);
        QTest::newRow("200 with token") << 200 << QJsonDocument(QJsonObject{{"token", fresh}}).toJson() << true << fresh
                                        << QStringList{"[Auth] Token refreshed ✅"};
        QTest::newRow("200 without token") << 200 << QByteArray(R"({"ok":true})") << true << ""
                                           << QStringList{"[Auth] Token refresh failed — status 200"};
        QTest::newRow("401 signs out") << 401 << QByteArray() << false << "" << QStringList{};
        QTest::newRow("network") << 0 << QByteArray() << true << ""
                                 << QStringList{"[Auth] Token refresh failed — network error"};
    }

    void refreshOutcomes()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, signedIn);
        QFETCH(QString, newToken);
        QFETCH(QStringList, logLines);
        Fixture f;
        LoggedOut loggedOut;
        const QString old = test::tokenExpiringAt(now + 10 * day);
        f.signIn(old);

        std::unique_ptr<AuthManager> elsewhere;
        if (status == 0) {
            // The same account, but the service no longer answers.
            elsewhere = std::make_unique<AuthManager>(offline, &f.store, f.clock);
            QVERIFY(test::awaitTask(elsewhere->restore()));
            QCOMPARE(elsewhere->token(), old);
        } else {
            f.server.setReply("/api/refresh", ScriptedReply::text(body, status));
        }
        AuthManager& auth = elsewhere ? *elsewhere : *f.auth;
        test::LogCapture log;
        QVERIFY(test::awaitTask(auth.performRefresh()));
        QCOMPARE(log.lines(), logLines);

        if (status != 0)
            QCOMPARE(f.server.requests("/api/refresh").value(0).header("Authorization"), "Bearer " + old.toUtf8());
        QCOMPARE(auth.isLoggedIn(), signedIn);
        if (!signedIn) {
            QVERIFY(!auth.email() && !auth.name());
            QVERIFY(!Preferences::email() && !Preferences::name());
            QCOMPARE(loggedOut.count, 1);
            QVERIFY(!QFile::exists(f.store.filePath()));
            QVERIFY(!auth.pendingRefreshDelayMs());
            return;
        }
        QCOMPARE(loggedOut.count, 0);
        const QString expected = newToken.isEmpty() ? old : newToken;
        QCOMPARE(auth.token(), expected);
        QCOMPARE(test::readFile(f.store.filePath()), expected.toUtf8());
        // A renewal leaves the account's name and e-mail alone.
        QCOMPARE(auth.email(), QString("ann@example.com"));
        QCOMPARE(Preferences::name(), QString("Ann"));
    }

    void refreshIsScheduledFromExpiry()
    {
        Fixture f;
        f.signIn(test::tokenExpiringAt(now + 3.5 * day));
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(qint64(0.5 * day * 1000)));

        // Due within the margin: the renewal runs at once, and the renewed token plans the next one.
        const QString fresh = test::tokenExpiringAt(now + 10 * day);
        f.server.setReply("/api/refresh", ScriptedReply::json({{"token", fresh}}));
        f.signIn(test::tokenExpiringAt(now + 2 * day));
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(0));
        QTRY_COMPARE_WITH_TIMEOUT(f.auth->token(), std::optional<QString>(fresh), 5000);
        QCOMPARE(f.server.requestCount("/api/refresh"), 1);
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(qint64(day * 1000)));

        // A token without "exp" leaves the planned renewal as it is.
        f.signIn(test::tokenWithPayload(R"({"sub":"1"})"));
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(qint64(day * 1000)));
    }

    void refreshFollowsTheWallClock()
    {
        // The computer sleeps through most of the wait: the renewal is due when the wall clock says
        // so, not when the (stopped) timer would have run out.
        Fixture f;
        f.auth->setRefreshCheckIntervalMs(10);
        f.server.setReply("/api/refresh", ScriptedReply::json({{"token", test::tokenExpiringAt(now + 30 * day)}}));
        f.signIn(test::tokenExpiringAt(now + 3.5 * day));
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(qint64(0.5 * day * 1000)));
        QTest::qWait(50); // several checks while it is not yet due
        QCOMPARE(f.server.requestCount("/api/refresh"), 0);
        f.clock.advance(0.5 * day - 1);
        QCOMPARE(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(1000));
        QTest::qWait(50);
        QCOMPARE(f.server.requestCount("/api/refresh"), 0);
        f.clock.advance(1);
        QTRY_COMPARE_WITH_TIMEOUT(f.server.requestCount("/api/refresh"), 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(f.auth->pendingRefreshDelayMs(), std::optional<qint64>(qint64(day * 1000)), 5000);
        QCOMPARE(f.server.requestCount("/api/refresh"), 1);
    }

    void renewalAnswerForAnOldTokenIsIgnored()
    {
        Fixture f;
        f.signIn(test::tokenExpiringAt(now + 10 * day));
        ScriptedReply renewed = ScriptedReply::json({{"token", test::tokenExpiringAt(now + 20 * day)}});
        renewed.held = true;
        f.server.setReply("/api/refresh", renewed);
        bool refreshed = false;
        f.auth->performRefresh().then([&refreshed] { refreshed = true; });
        QTRY_COMPARE_WITH_TIMEOUT(f.server.heldCount(), 1, 5000);
        QVERIFY(test::awaitTask(f.auth->logout()));
        QCOMPARE(f.server.releaseHeld(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(refreshed, 5000);
        // Signing out wins: the late answer does not sign the user back in.
        QVERIFY(!f.auth->isLoggedIn());
        QVERIFY(!QFile::exists(f.store.filePath()));
    }

    void fetchMe_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("meSet");
        QTest::addColumn<int>("refreshes");

        QTest::newRow("200 full") << 200
                                  << QByteArray(R"({"email":"a@x","name":"A","email_verified":true,"plan":"pro"})")
                                  << true << 0;
        QTest::newRow("200 without name") << 200 << QByteArray(R"({"email":"a@x"})") << false << 0;
        QTest::newRow("401 renews the token") << 401 << QByteArray() << false << 1;
    }

    void fetchMe()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, meSet);
        QFETCH(int, refreshes);
        Fixture f;
        const QString token = test::tokenExpiringAt(now + 10 * day);
        f.signIn(token);
        f.server.setReply("/me", ScriptedReply::text(body, status));
        f.server.setReply("/api/refresh", ScriptedReply::text("{}", 500));
        test::LogCapture log;
        QVERIFY(test::awaitTask(f.auth->fetchMe()));
        QCOMPARE(f.server.requests("/me").value(0).header("Authorization"), "Bearer " + token.toUtf8());
        QCOMPARE(f.auth->me().has_value(), meSet);
        if (meSet) {
            QCOMPARE(f.auth->me()->name, QString("A"));
            QCOMPARE(f.auth->me()->emailVerified, std::optional<bool>(true));
            QVERIFY(!f.auth->me()->emailVerificationRequired);
        }
        QCOMPARE(f.server.requestCount("/api/refresh"), refreshes);
        QCOMPARE(f.server.requestCount("/me"), 1); // never asked twice
        QVERIFY(f.auth->isLoggedIn());
    }

    void logoutWhenSignedOutStillClearsEverything()
    {
        Fixture f;
        LoggedOut loggedOut;
        Preferences::setAccount("left@example.com", "Left");
        test::writeFile(f.store.filePath(), "stale.token.file");
        QVERIFY(test::awaitTask(f.auth->logout()));
        QCOMPARE(loggedOut.count, 1);
        QVERIFY(!Preferences::email() && !Preferences::name());
        QVERIFY(!QFile::exists(f.store.filePath()));
    }

    void restoreReadsStoredToken()
    {
        test::TempHome home;
        TokenStore store(TokenStore::Backend::fileOnly);
        ManualClock clock{now};
        const QString stored = test::tokenExpiringAt(now + 3.5 * day);
        test::writeFile(Paths::tokenFile(), stored.toUtf8());
        Preferences::setAccount("ann@example.com", "Ann");
        {
            AuthManager auth(offline, &store, clock);
            QCOMPARE(auth.email(), QString("ann@example.com"));
            QVERIFY(!auth.isLoggedIn());
            QVERIFY(test::awaitTask(auth.restore()));
            QCOMPARE(auth.token(), stored);
            QCOMPARE(auth.pendingRefreshDelayMs(), std::optional<qint64>(qint64(0.5 * day * 1000)));
        }
        {
            AuthManager auth(offline, &store, clock);
            QVERIFY(test::awaitTask(auth.restore(AuthManager::Renewal::leave)));
            QCOMPARE(auth.token(), stored);
            QVERIFY(!auth.pendingRefreshDelayMs());
        }
    }

    void tokenIsNeverLogged()
    {
        Fixture f;
        test::LogCapture log;
        const QString token = test::tokenExpiringAt(now + 2 * day);
        const QString renewed = test::tokenExpiringAt(now + 2.5 * day);
        f.server.setReply("/api/refresh", ScriptedReply::json({{"token", renewed}}));
        f.server.setReply("/me", ScriptedReply::text("", 401));
        f.signIn(token);
        QTRY_COMPARE_WITH_TIMEOUT(f.auth->token(), std::optional<QString>(renewed), 5000);
        QVERIFY(test::awaitTask(f.auth->fetchMe()));
        QVERIFY(test::awaitTask(f.auth->logout()));
        QVERIFY(!log.lines().isEmpty());
        for (const QString& line : log.lines()) {
            QVERIFY2(!line.contains(token) && !line.contains(renewed), qPrintable(line));
            QVERIFY2(!line.contains(token.section('.', 1, 1)), qPrintable(line));
        }
    }

    void fileFallbackWithoutSecretService()
    {
        // No session bus at all: the secret service cannot answer, so the token goes to the file.
        const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quiro-test-bus");
        test::TempHome home;
        test::LogCapture log;
        {
            TokenStore store;
            QVERIFY(test::awaitTask(store.write("a.b.c"), 30'000));
            QCOMPARE(test::readFile(Paths::tokenFile()), QByteArray("a.b.c"));
            QCOMPARE(test::modeBits(Paths::tokenFile()), test::privateFile);
            QCOMPARE(test::modeBits(Paths::appDir()), test::privateDir);
            QCOMPARE(log.lines().size(), 1);
            QVERIFY2(log.lines().first().startsWith("[Auth] Secret service unavailable"),
                     qPrintable(log.lines().first()));
            QVERIFY(!log.lines().first().contains("a.b.c"));

            const auto read = test::awaitTask(store.read(), 30'000);
            QVERIFY(read);
            QCOMPARE(*read, std::optional<QString>("a.b.c"));

            QVERIFY(test::awaitTask(store.remove(), 30'000));
            QVERIFY(!QFile::exists(Paths::tokenFile()));
            const auto gone = test::awaitTask(store.read(), 30'000);
            QVERIFY(gone && !*gone);
        }
        if (oldBus.isEmpty())
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
    }

    void storeOperationsKeepTheirOrder()
    {
        test::TempHome home;
        TokenStore store(TokenStore::Backend::fileOnly);
        // Started back to back without waiting: they must apply in this order.
        auto first = store.write("one.one.one");
        auto removal = store.remove();
        auto second = store.write("two.two.two");
        auto read = store.read();
        auto last = store.remove();
        const auto value = test::awaitTask(std::move(read));
        QVERIFY(value);
        QCOMPARE(*value, std::optional<QString>("two.two.two"));
        QVERIFY(test::awaitTask(std::move(last)));
        QVERIFY(!QFile::exists(store.filePath()));
    }
};

QTEST_GUILESS_MAIN(TestAccount)
#include "tst_account.moc"
