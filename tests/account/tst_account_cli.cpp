#include "support/ScriptedHttpServer.h"
#include "support/TestSupport.h"
#include "support/Tokens.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <vector>

using namespace quiro;
using test::ScriptedReply;

// `quiro login`, `register`, `logout` and `whoami` as a user runs them: the real program against a
// loopback service, with a private home and no secret service (the token goes to the 0600 file).
class TestAccountCli : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_home = std::make_unique<test::TempHome>();
        m_server = std::make_unique<test::ScriptedHttpServer>();
        QVERIFY(m_server->start());
        m_apiBase = m_server->baseUrl();
    }

    void cleanup()
    {
        m_server.reset();
        m_home.reset();
    }

    void loginThenWhoamiThenLogout()
    {
        const double expiresAt = 1'900'000'000.0;
        const QString token = test::tokenExpiringAt(expiresAt);
        m_server->setReply("/api/login",
                           ScriptedReply::json({{"token", token}, {"email", "ann@example.com"}, {"name", "Ann Lee"}}));

        const test::ProgramRun login = quiro({"login", "ann@example.com"}, "pa ss\n");
        QCOMPARE(login.exitCode, 0);
        QVERIFY2(login.out.contains("Signed in as Ann Lee <ann@example.com>."), qPrintable(login.out));
        // No keyring here: said in one plain sentence, not with the D-Bus error.
        QVERIFY2(login.out.contains("No keyring available: the sign-in is kept in "), qPrintable(login.out));
        QVERIFY(!login.out.contains("D-Bus") && !login.err.contains("D-Bus"));
        QVERIFY(!login.out.contains(token) && !login.err.contains(token));
        const auto requests = m_server->requests("/api/login");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].json(), (QJsonObject{{"email", "ann@example.com"}, {"password", "pa ss"}}));
        const QString tokenFile = m_home->file(".quiroai/token");
        QCOMPARE(test::readFile(tokenFile), token.toUtf8());

        const test::ProgramRun whoami = quiro({"whoami"});
        QCOMPARE(whoami.exitCode, 0);
        const QString expiry =
            QDateTime::fromSecsSinceEpoch(qint64(expiresAt), Qt::UTC).toString("yyyy-MM-dd HH:mm:ss");
        QCOMPARE(whoami.out.section('\n', 0, 1), QString("E-mail: ann@example.com\nName: Ann Lee"));
        QVERIFY2(whoami.out.contains("Token expires: " + expiry), qPrintable(whoami.out));
        QVERIFY(!whoami.out.contains(token) && !whoami.out.contains(token.section('.', 1, 1)));
        QCOMPARE(m_server->requestCount("/api/refresh"), 0);

        const test::ProgramRun logout = quiro({"logout"});
        QCOMPARE(logout.exitCode, 0);
        QVERIFY(!QFile::exists(tokenFile));
        const test::ProgramRun after = quiro({"whoami"});
        QCOMPARE(after.exitCode, 1);
        QVERIFY2(after.err.startsWith("quiro whoami: not signed in"), qPrintable(after.err));
    }

    void registerSendsNameAndPasswordFromStdin()
    {
        // The name comes back from the service: an escape sequence in it never reaches the terminal.
        m_server->setReply(
            "/api/register",
            ScriptedReply::json({{"token", "a.b.c"}, {"email", "cy@example.com"}, {"name", "Cy \u001b[2JYoung"}}));
        const test::ProgramRun run = quiro({"register", "cy@example.com", "Cy Young"}, "secret\r\n");
        QCOMPARE(run.exitCode, 0);
        const auto requests = m_server->requests("/api/register");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].json(),
                 (QJsonObject{{"email", "cy@example.com"}, {"password", "secret"}, {"name", "Cy Young"}}));
        QVERIFY(!run.out.contains('\x1b'));
        const test::ProgramRun whoami = quiro({"whoami"});
        QCOMPARE(whoami.exitCode, 0);
        QVERIFY2(whoami.out.contains("Token expires: unknown"), qPrintable(whoami.out));
        QVERIFY(!whoami.out.contains('\x1b'));

        // A call needs the service: when it does not answer, the console says so before starting.
        m_server.reset();
        const test::ProgramRun console = quiro({"console"});
        QCOMPARE(console.exitCode, 1);
        QVERIFY2(console.err.startsWith("quiro console: cannot reach the service at http://127.0.0.1:"),
                 qPrintable(console.err));
        const test::ProgramRun login = quiro({"login", "cy@example.com"}, "secret\n");
        QCOMPARE(login.exitCode, 1);
        QVERIFY2(login.err.startsWith("quiro login: Cannot reach the service at " + m_apiBase) &&
                     login.err.contains("start the local service"),
                 qPrintable(login.err));
    }

    void failuresGoToStderrWithStatusOne_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("error");

        QTest::newRow("wrong password") << QStringList{"login", "a@example.com"} << 401
                                        << QByteArray(R"({"detail":"Invalid email or password"})") << QByteArray("x\n")
                                        << "quiro login: Invalid email or password\n";
        QTest::newRow("no password") << QStringList{"login", "a@example.com"} << 200 << QByteArray() << QByteArray()
                                     << "quiro login: no password given; type it at the prompt or pipe it in.\n";
    }

    void failuresGoToStderrWithStatusOne()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, input);
        QFETCH(QString, error);
        m_server->setReply("/api/login", ScriptedReply::text(body, status));
        m_server->setReply("/api/register", ScriptedReply::text(body, status));
        const test::ProgramRun run = quiro(arguments, input);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, error);
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFile::exists(m_home->file(".quiroai/token")));
    }

    void wrongUsageIsStatusTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("register without name") << QStringList{"register", "a@example.com"};
        QTest::newRow("a call longer than a day") << QStringList{"console", "--duration", "3000000"};
    }

    void wrongUsageIsStatusTwo()
    {
        QFETCH(QStringList, arguments);
        const test::ProgramRun run = quiro(arguments, "pw\n");
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("--help"), qPrintable(run.err));
        QCOMPARE(run.err.count('\n'), 1);
        QCOMPARE(m_server->requests().size(), 0);
    }

    void helpListsTheArguments()
    {
        // Every command's help reads the same way, through "--help" or "quiro help", without Qt's options.
        for (const QString command : {"register", "login", "logout", "whoami", "history", "console", "doctor"}) {
            const test::ProgramRun run = quiro({command, "--help"});
            QCOMPARE(run.exitCode, 0);
            QVERIFY2(run.out.startsWith("Usage: quiro " + command), qPrintable(run.out));
            QVERIFY2(!run.out.contains("help-all") && !run.out.contains("[options]"), qPrintable(run.out));
            QCOMPARE(quiro({"help", command}).out, run.out);
        }
        QVERIFY(quiro({"register", "--help"}).out.startsWith("Usage: quiro register EMAIL NAME\n"));
        QCOMPARE(m_server->requests().size(), 0);
    }

    void passwordFromATerminalIsNotEchoed()
    {
        m_server->setReply("/api/login",
                           ScriptedReply::json({{"token", "a.b.c"}, {"email", "ann@example.com"}, {"name", "Ann"}}));
        // Everything the child needs is prepared before the fork: after it only exec may run.
        const QByteArray program = QUIRO_EXECUTABLE;
        std::vector<QByteArray> argumentBytes{program, "login", "ann@example.com"};
        std::vector<QByteArray> environmentBytes;
        for (const QString& entry : environment().toStringList())
            environmentBytes.push_back(entry.toUtf8());
        std::vector<char*> argv;
        for (QByteArray& argument : argumentBytes)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (QByteArray& entry : environmentBytes)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        QVERIFY2(child >= 0, "forkpty failed");
        if (child == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        fcntl(terminal, F_SETFL, fcntl(terminal, F_GETFL) | O_NONBLOCK);

        // Read what the terminal shows while the loopback service keeps answering.
        QByteArray screen;
        const auto readScreen = [&screen, terminal] {
            char buffer[512];
            for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;)
                screen.append(buffer, got);
        };
        bool answered = false;
        int status = -1;
        QElapsedTimer elapsed;
        elapsed.start();
        while (elapsed.elapsed() < 30'000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            readScreen();
            if (!answered && screen.contains("Password: ")) {
                const QByteArray typed = "tr0ub4dor\n";
                QCOMPARE(write(terminal, typed.constData(), size_t(typed.size())), ssize_t(typed.size()));
                answered = true;
            }
            if (waitpid(child, &status, WNOHANG) == child)
                break;
            QTest::qWait(10);
        }
        readScreen();
        close(terminal);
        QVERIFY2(answered, screen.constData());
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, screen.constData());
        QVERIFY2(!screen.contains("tr0ub4dor"), screen.constData());
        QVERIFY2(screen.contains("Signed in as Ann <ann@example.com>."), screen.constData());
        const auto requests = m_server->requests("/api/login");
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].json().value("password").toString(), QString("tr0ub4dor"));
    }

private:
    QProcessEnvironment environment() const
    {
        // HOME and XDG_CONFIG_HOME are the temporary home's already.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("API_BASE", m_apiBase);
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quiro-test-bus");
        environment.insert("TZ", "UTC");
        return environment;
    }

    test::ProgramRun quiro(const QStringList& arguments, const QByteArray& input = {})
    {
        return test::runProgram(QStringLiteral(QUIRO_EXECUTABLE), arguments, environment(), input);
    }

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedHttpServer> m_server;
    QString m_apiBase;
};

QTEST_GUILESS_MAIN(TestAccountCli)
#include "tst_account_cli.moc"
