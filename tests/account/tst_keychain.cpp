#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "core/Paths.h"
#include "support/AwaitTask.h"
#include "support/TestSupport.h"
#include "support/Tokens.h"

#include <QFile>
#include <QProcess>
#include <QTest>

using namespace quiro;

namespace {

// What the secret service itself holds for the token item, asked with libsecret's own tool.
QByteArray secretServiceItems()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("search"), QStringLiteral("--all"),
                                               QStringLiteral("server"), TokenStore::keychainService});
    if (!tool.waitForFinished(10'000))
        return "secret-tool did not finish";
    return tool.readAllStandardOutput() + tool.readAllStandardError();
}

std::optional<QString> readStore(TokenStore& store)
{
    auto value = test::awaitTask(store.read(), 30'000);
    if (!value)
        qFatal("the token store did not answer");
    return *value;
}

} // namespace

// Runs inside tests/account/with-keyring.sh: a private session bus with an unlocked gnome-keyring.
class TestKeychain : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qgetenv("QUIRO_KEYRING_READY") != "1")
            QSKIP("needs a secret service: run through tests/account/with-keyring.sh");
    }

    void writeGoesToTheSecretServiceOnly()
    {
        test::TempHome home;
        test::LogCapture log;
        TokenStore store;
        // A copy left by an earlier run without a secret service must not outlive a keychain write.
        test::writeFile(Paths::tokenFile(), "old.file.token");
        QVERIFY(test::awaitTask(store.write("key.chain.token"), 30'000));
        QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join('\n')));
        QVERIFY(!QFile::exists(Paths::tokenFile()));
        QCOMPARE(readStore(store), std::optional<QString>("key.chain.token"));
        QVERIFY2(secretServiceItems().contains("secret = key.chain.token"), secretServiceItems().constData());
        QVERIFY(test::awaitTask(store.remove(), 30'000));
    }

    void overwriteAndRemove()
    {
        test::TempHome home;
        TokenStore store;
        QVERIFY(test::awaitTask(store.write("first.first.first"), 30'000));
        QVERIFY(test::awaitTask(store.write("second.second.second"), 30'000));
        QCOMPARE(readStore(store), std::optional<QString>("second.second.second"));
        const QByteArray items = secretServiceItems();
        QVERIFY2(!items.contains("first.first.first"), items.constData());
        QCOMPARE(items.count("secret = "), 1);

        QVERIFY(test::awaitTask(store.remove(), 30'000));
        QCOMPARE(readStore(store), std::nullopt);
        QVERIFY2(!secretServiceItems().contains("secret = "), secretServiceItems().constData());
    }

    void readFallsBackToTheFile()
    {
        test::TempHome home;
        TokenStore store;
        test::writeFile(Paths::tokenFile(), "only.in.file");
        QCOMPARE(readStore(store), std::optional<QString>("only.in.file"));
        QVERIFY(test::awaitTask(store.remove(), 30'000));
        QVERIFY(!QFile::exists(Paths::tokenFile()));
    }

    void restoreSignsInFromTheKeychain()
    {
        test::TempHome home;
        ManualClock clock;
        const QString token = test::tokenExpiringAt(clock.now() + 10 * 86'400.0);
        {
            TokenStore store;
            QVERIFY(test::awaitTask(store.write(token), 30'000));
        }
        TokenStore store;
        const Config offline{"http://127.0.0.1:1", Config::defaultHintModel, "en"};
        AuthManager auth(offline, &store, clock);
        QVERIFY(test::awaitTask(auth.restore(), 30'000));
        QCOMPARE(auth.token(), token);

        // Signed out while the secret service is still answering the read: the token read meanwhile
        // does not sign the account back in.
        AuthManager racing(offline, &store, clock);
        auto restoring = racing.restore();
        QVERIFY(test::awaitTask(racing.logout(), 30'000));
        QVERIFY(test::awaitTask(std::move(restoring), 30'000));
        QVERIFY(!racing.isLoggedIn());
        QCOMPARE(readStore(store), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
