#include "core/AtomicFile.h"
#include "core/Autostart.h"
#include "core/Config.h"
#include "core/EnvFile.h"
#include "core/ExternalService.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace quiro;
using test::row;

namespace {
std::atomic<bool> s_fsyncFails{false};
} // namespace

// The test's own fsync(), found before the C library's: while s_fsyncFails is set it fails as a
// full disk does under delayed allocation, after every write() went through.
extern "C" int fsync(int fd)
{
    if (s_fsyncFails.load()) {
        errno = ENOSPC;
        return -1;
    }
    return int(::syscall(SYS_fsync, fd));
}

class TestCore : public QObject {
    Q_OBJECT

private slots:
    void envLineSyntax_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // "<none>" when the key is not set

        row("plain", "A=1", "A", "1");
        row("spaces around key, = and value", "  \tA \t=  1 2 \t", "A", "1 2");
        row("comment after leading spaces", "   # A=1", "A", "<none>");
        row("no equals sign", "A 1", "A", "<none>");
        row("empty value is skipped", "A=1\nA=", "A", "1");
        row("value keeps further equals signs", "A=b=c==", "A", "b=c==");
        row("quotes stay", "A=\"x\"", "A", "\"x\"");
        row("last line wins", "A=1\nA=2", "A", "2");
        row("keys are case-sensitive", "a=1", "A", "<none>");
    }

    void envLineSyntax()
    {
        QFETCH(QString, text);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const auto values = EnvFile::parse(text);
        QCOMPARE(values.value(key, QStringLiteral("<none>")), expected);
    }

    void configPrecedence_data()
    {
        QTest::addColumn<QByteArray>("bundle");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("language");

        QTest::newRow("defaults") << QByteArray() << QByteArray() << QByteArray() << "en";
        QTest::newRow("environment") << QByteArray() << QByteArray() << QByteArray("de") << "de";
        QTest::newRow("bundle over environment")
            << QByteArray("STT_LANGUAGE=fr") << QByteArray() << QByteArray("de") << "fr";
        QTest::newRow("user over bundle")
            << QByteArray("STT_LANGUAGE=fr") << QByteArray("STT_LANGUAGE=es") << QByteArray("de") << "es";
        QTest::newRow("empty user value falls back to bundle")
            << QByteArray("STT_LANGUAGE=ru") << QByteArray("STT_LANGUAGE=") << QByteArray() << "ru";
        QTest::newRow("user file not UTF-8 is skipped")
            << QByteArray("STT_LANGUAGE=ru") << QByteArray("STT_LANGUAGE=es\n\xff\xfe") << QByteArray() << "ru";
    }

    void configPrecedence()
    {
        QFETCH(QByteArray, bundle);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, environment);
        QFETCH(QString, language);

        test::TempHome home;
        const QString bundlePath = home.file(QStringLiteral("bundle.env"));
        const QString userPath = home.file(QStringLiteral("user.env"));
        if (!bundle.isNull())
            test::writeFile(bundlePath, bundle);
        if (!user.isNull())
            test::writeFile(userPath, user);
        if (environment.isNull())
            qunsetenv("STT_LANGUAGE");
        else
            qputenv("STT_LANGUAGE", environment);

        const Config config = Config::load(bundlePath, userPath);
        qunsetenv("STT_LANGUAGE");
        QCOMPARE(config.language, language);
    }

    void wsBaseAndApiUrl_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("wsBase");
        QTest::addColumn<bool>("hasUrl");

        QTest::newRow("default") << Config::defaultAPIBase << "wss://localhost:8443" << true;
        QTest::newRow("http with port") << "http://127.0.0.1:9000"
                                        << "ws://127.0.0.1:9000" << true;
        QTest::newRow("no scheme passes through") << "localhost:8443"
                                                  << "localhost:8443" << false;
        QTest::newRow("not a URL") << "ht tp://bad base"
                                   << "ht tp://bad base" << false;
    }

    void wsBaseAndApiUrl()
    {
        QFETCH(QString, base);
        QFETCH(QString, wsBase);
        QFETCH(bool, hasUrl);
        const Config config{base, Config::defaultHintModel, Config::defaultLanguage};
        QCOMPARE(config.wsBase(), wsBase);
        QCOMPARE(config.apiURL().has_value(), hasUrl);
    }

    void writerKeepsOtherLinesAndReplacesKey()
    {
        test::TempHome home;
        const QString path = Paths::userEnvFile();
        test::writeFile(path,
                        "# settings\nWIDGET_MODE=panel\n\nAPI_BASE=http://x:1\n WIDGET_MODE=kept\nWIDGET_MODE=island");
        EnvFile::setValue(path, QStringLiteral("WIDGET_MODE"), QStringLiteral("island"));
        EnvFile::setValue(path, QStringLiteral("WIDGET_MODE"), QStringLiteral("panel"));
        QCOMPARE(test::readFile(path),
                 QByteArray("# settings\nAPI_BASE=http://x:1\n WIDGET_MODE=kept\nWIDGET_MODE=panel"));
        QCOMPARE(test::modeBits(path), test::privateFile);
    }

    void writerLeavesNonUtf8FileUntouched()
    {
        test::TempHome home;
        const QString path = Paths::userEnvFile();
        const QByteArray original("API_BASE=http://x:1\nNAME=\xc3\x28");
        test::writeFile(path, original);
        test::LogCapture log;
        EnvFile::setValue(path, QStringLiteral("WIDGET_MODE"), QStringLiteral("island"));
        QCOMPARE(test::readFile(path), original);
        QCOMPARE(log.lines().size(), 1);
        QVERIFY(log.lines().first().startsWith(QStringLiteral("[Config] ")));
    }

    void privateFoldersAndFiles()
    {
        test::TempHome home;
        const QString nested = Paths::appDir() + QStringLiteral("/sessions/someone_example_com");
        QVERIFY(Paths::ensurePrivateDir(nested));
        for (const QString& dir : {Paths::appDir(), Paths::appDir() + QStringLiteral("/sessions"), nested})
            QCOMPARE(test::modeBits(dir), test::privateDir);

        const QString file = nested + QStringLiteral("/a.json");
        QVERIFY(AtomicFile::write(file, "{}"));
        QCOMPARE(test::modeBits(file), test::privateFile);
        // A file that existed with a wider mode becomes private when rewritten.
        QFile::setPermissions(file, test::privateFile | QFileDevice::ReadOther | QFileDevice::ReadGroup);
        QVERIFY(AtomicFile::write(file, "{\"a\":1}"));
        QCOMPARE(test::modeBits(file), test::privateFile);
    }

    void atomicWriteKeepsOldFileOnFailure()
    {
        test::TempHome home;
        const QString target = home.file(QStringLiteral("folder-in-the-way"));
        QVERIFY(QDir().mkpath(target));
        QVERIFY(!AtomicFile::write(target, "x"));
        QVERIFY(QFileInfo(target).isDir());

        // A disk that fills up half-way (a file-size limit gives the same short write and EFBIG): the
        // failure is reported, the old file stays whole, and no temporary file is left behind.
        const QString file = home.file(QStringLiteral("record.json"));
        QVERIFY(AtomicFile::write(file, "old and whole"));
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const WriteResult result = AtomicFile::write(file, QByteArray(4000, 'x'));
            ::_exit(!result && result.reason() == QLatin1String("file too large") ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, "the short write was not reported as a failure");
        QCOMPARE(test::readFile(file), QByteArray("old and whole"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"record.json"});

        // The disk fills up only when the data is flushed: the same.
        s_fsyncFails = true;
        const WriteResult flushed = AtomicFile::write(file, "new");
        s_fsyncFails = false;
        QCOMPARE(flushed.reason(), QStringLiteral("no space left on device"));
        QCOMPARE(test::readFile(file), QByteArray("old and whole"));
        QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"record.json"});
    }

    void privateModesAreNarrowedAtStart()
    {
        test::TempHome home;
        const QString dir = home.file(QStringLiteral(".quiroai"));
        test::writeFile(dir + QStringLiteral("/token"), "a.b.c");
        QVERIFY(QFile::setPermissions(dir, QFileDevice::Permissions(0x7777)));
        QVERIFY(QFile::setPermissions(dir + QStringLiteral("/token"), test::privateFile | QFileDevice::ReadOther));
        test::LogCapture log;
        Paths::narrowPrivateModes();
        QCOMPARE(test::modeBits(dir), test::privateDir);
        QCOMPARE(test::modeBits(dir + QStringLiteral("/token")), test::privateFile);
        QCOMPARE(log.lines().size(), 2);
        Paths::narrowPrivateModes(); // already private: nothing to say
        QCOMPARE(log.lines().size(), 2);
    }

    void autostartEntryIsAValidDesktopEntry()
    {
        test::TempHome home;
        QVERIFY(!Autostart::isEnabled());
        QVERIFY(Autostart::setEnabled(true, QStringLiteral("/opt/my apps/quiro \"1\"")));
        QVERIFY(Autostart::isEnabled());
        QVERIFY(test::readFile(Autostart::entryPath()).contains("Exec=\"/opt/my apps/quiro \\\"1\\\"\""));
        // What desktops read at login must pass their validator.
        QProcess validator;
        validator.start(QStringLiteral("desktop-file-validate"), {Autostart::entryPath()});
        if (validator.waitForFinished(10000))
            QVERIFY2(validator.exitCode() == 0, validator.readAllStandardOutput().constData());
        QVERIFY(Autostart::setEnabled(false, {}));
        QVERIFY(!Autostart::isEnabled());
    }

    void loopbackHosts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("LocalHost") << "LocalHost" << true;
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("::1") << "::1" << true;
        QTest::newRow("10.0.0.1") << "10.0.0.1" << false;
        QTest::newRow("localhost.example.com") << "localhost.example.com" << false;
    }

    void loopbackHosts()
    {
        QFETCH(QString, host);
        QFETCH(bool, loopback);
        QCOMPARE(ExternalService::isLoopbackHost(host), loopback);
    }

    void endpointJoinsTextAsItStands()
    {
        QCOMPARE(ExternalService::endpoint(QStringLiteral("http://h:1/"), ExternalService::Path::hint)->toString(),
                 QStringLiteral("http://h:1//hint"));
        QVERIFY(!ExternalService::endpoint(QStringLiteral("not a base"), ExternalService::Path::hint));
        const auto request =
            ExternalService::request(QUrl(QStringLiteral("https://localhost:8443/me")), QStringLiteral("abc"));
        QCOMPARE(request.rawHeader("Authorization"), QByteArray("Bearer abc"));
    }

    void notificationsArriveOnMainThread()
    {
        auto& center = NotificationCenter::instance();
        QObject context;
        QList<Notification> received;
        QList<QThread*> threads;
        center.observe(Notifications::transcript, &context, [&](const Notification& n) {
            received.append(n);
            threads.append(QThread::currentThread());
        });

        center.post(Notifications::transcript, {}, {{QStringLiteral("speaker"), QStringLiteral("MGR")}});
        QCOMPARE(received.size(), 1); // same thread: delivered at once

        QThread* worker = QThread::create([&center] {
            center.post(Notifications::transcript, {}, {{QStringLiteral("speaker"), QStringLiteral("CLT")}});
            center.post(Notifications::hint); // other names do not reach this observer
        });
        worker->start();
        worker->wait();
        delete worker;
        QTRY_COMPARE(received.size(), 2);
        QCOMPARE(received.at(1).userInfo.value(QStringLiteral("speaker")).toString(), QStringLiteral("CLT"));
        QCOMPARE(threads.at(1), QThread::currentThread());

        {
            QObject shortLived;
            int calls = 0;
            center.observe(Notifications::hint, &shortLived, [&calls](const Notification&) { ++calls; });
        }
        center.post(Notifications::hint); // the dead observer is not called (would crash under ASan)
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
