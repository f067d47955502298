// `quiro doctor` as people run it: the real program, its lines and its exit status, against the
// test desktop, a missing sound server, and loopback TLS servers.
#include "core/AtomicFile.h"
#include "core/Paths.h"
#include "support/TestSupport.h"
#include "support/Tokens.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTest>

using namespace quiro;

namespace {

struct Outcome {
    int exitCode = -1;
    QStringList lines;
    QString errors;

    // The line of one check, found by its label.
    QString line(const QString& label) const
    {
        for (const QString& line : lines) {
            if (line.mid(2).startsWith(label + ':'))
                return line;
        }
        return QString();
    }
    // Each check's line matches its pattern (label → regular expression); the report on failure.
    void expectLines(const QList<std::pair<QString, QString>>& patterns) const
    {
        for (const auto& [label, pattern] : patterns)
            QVERIFY2(QRegularExpression(pattern).match(line(label)).hasMatch(), qPrintable(lines.join('\n')));
    }
};

// Runs the doctor while this test's event loop keeps serving (the TLS servers live here).
Outcome runDoctor(const QProcessEnvironment& environment)
{
    const test::ProgramRun run = test::runProgram(QStringLiteral(QUIRO_EXECUTABLE), {"doctor"}, environment);
    return {run.exitCode, run.out.split('\n', Qt::SkipEmptyParts), run.err};
}

// A signed-in account as the account code leaves it without a secret service: the e-mail in the
// preferences and the token in ~/.quiroai/token. Only the token's "exp" matters here.
void signIn(qint64 expiresAt)
{
    QVERIFY(Paths::ensurePrivateDir(Paths::appDir()));
    QVERIFY(AtomicFile::write(Paths::tokenFile(), test::tokenExpiringAt(double(expiresAt)).toUtf8()));
    // Written as a file: QSettings settles its folder once per process, and each test has a new home.
    test::writeFile(QDir::homePath() + "/.config/Quiro/quiro.conf",
                    "[General]\nquiro_email=seller@example.com\nquiro_name=Sam Seller\n");
}

// Answers every request over TLS with `answer`: by default 404, as a service does for a path it
// does not have.
class TlsServer : public QObject {
public:
    explicit TlsServer(const QString& folder,
                       QByteArray answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
    {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(test::readFile(folder + "/cert.pem")));
        configuration.setPrivateKey(QSslKey(test::readFile(folder + "/key.pem"), QSsl::Rsa));
        m_server.setSslConfiguration(configuration);
        connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this, answer] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QIODevice::readyRead, socket, [socket, answer] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write(answer);
                    socket->disconnectFromHost();
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QSslServer m_server;
};

} // namespace

class TestDoctor : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;

    enum class Devices { testDesktop, none };
    QProcessEnvironment environment(Devices devices = Devices::testDesktop) const
    {
        // HOME and XDG_CONFIG_HOME are the temporary home's already.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Nothing listens on port 9 of the loopback: the service check fails fast and predictably.
        environment.insert("API_BASE", "https://127.0.0.1:9");
        // Never the caller's keyring: the token must come from this test's home.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "disabled:");
        if (devices == Devices::none) {
            environment.insert("PULSE_SERVER", "unix:" + m_home->file("none"));
            environment.remove("DISPLAY");
        }
        return environment;
    }

private slots:
    void init()
    {
        // The previous home must restore HOME before the next one records it.
        m_home.reset();
        m_home = std::make_unique<test::TempHome>();
    }

    void cleanup() { m_home.reset(); }

    void noSoundServerAndNoDisplay()
    {
        // Typos and values the program cannot use are named with their lines, without failing the call.
        test::writeFile(m_home->file(".quiroai/.env"), "API_BAS=https://localhost:8443\nWIDGET_MODE=banana\n");
        const Outcome outcome = runDoctor(environment(Devices::none));
        QCOMPARE(outcome.exitCode, 1);
        outcome.expectLines({{"Sound server", "^✗ Sound server: no sound server answers.*start PulseAudio or PipeWire"},
                             {"Microphone", "^✗ "},
                             {"Display", "^✗ Display: no X11 display"},
                             {"Settings", "^! Settings: .*line 1: unknown key API_BAS .*line 2: WIDGET_MODE=banana"}});
        // The display is for the desktop app only: it is no reason a call cannot happen.
        QCOMPARE(outcome.lines.last(),
                 QStringLiteral("Not ready for a call — fix: Sound server, Microphone, System audio, Service, "
                                "Account."));
        QVERIFY(outcome.errors.isEmpty());
    }

    void testDesktopWithoutService()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        const Outcome outcome = runDoctor(environment());
        const QString all = outcome.lines.join('\n');

        QCOMPARE(outcome.exitCode, 1);
        outcome.expectLines({
            {"Sound server", qgetenv("QUIRO_TEST_SOUND_SERVER") == "pipewire"
                                 ? "^✓ Sound server: PipeWire \\d+\\.\\d+\\.\\d+ — \"PulseAudio \\(on PipeWire "
                                 : "^✓ Sound server: pulseaudio \\d"},
            // The test desktop's microphone is fed exact zeros: it opens, but nothing would be heard.
            {"Microphone", R"(^! Microphone: .*\(mic\), level -inf dBFS .* nothing is coming in)"},
            {"System audio", R"(^✓ System audio: monitor of .*\.monitor\), level )"},
            {"Display", "^✓ Display: X11 :"},
            {"Hot key", R"(^✓ Hot key: Ctrl\+Shift\+Space is free$)"},
            {"System tray", "^✓ System tray: present$"},
            // The test desktop has no session bus: reported, but a call does not need it.
            {"Secret service", R"(^✗ Secret service: .*\(optional\)$)"},
            {"Service", R"(^✗ Service: cannot reach the service at https://127\.0\.0\.1:9)"},
        });
        QCOMPARE(outcome.lines.last(), "Not ready for a call — fix: Service, Account.");
        // Not a terminal: no colour codes, and the captures' own log lines stay out of the report.
        QVERIFY(!all.contains(QLatin1Char('\x1b')));
        QVERIFY(!all.contains("[SysAudio]"));
    }

    void serviceOverTls_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("expectedLine");
        QTest::addColumn<int>("expectedExit");
        QTest::newRow("the local service's certificate, signed in: ready")
            << true << QString("✓ Service: https://127.0.0.1:%1 answers (HTTP 404) over trusted TLS") << 0;
        QTest::newRow("a certificate nobody vouches for")
            << false << QString("✗ Service: the service at https://127.0.0.1:%1 has a certificate we do not trust")
            << 1;
    }

    void account_data()
    {
        QTest::addColumn<qint64>("expiresInSeconds"); // 0: not signed in
        QTest::addColumn<QString>("expectedLine");
        QTest::newRow("not signed in")
            << qint64(0)
            << QString("✗ Account: not signed in — run 'quiro login' (or 'quiro register' for a new account)");
        QTest::newRow("expired") << qint64(-60)
                                 << QString(
                                        "✗ Account: the sign-in of seller@example.com has expired — run 'quiro login'");
    }

    void account()
    {
        QFETCH(qint64, expiresInSeconds);
        QFETCH(QString, expectedLine);
        if (expiresInSeconds != 0)
            signIn(QDateTime::currentSecsSinceEpoch() + expiresInSeconds);

        // No display and no sound server: only the account line matters, and it comes quickly.
        const Outcome outcome = runDoctor(environment(Devices::none));
        QVERIFY2(outcome.line("Account").startsWith(expectedLine), qPrintable(outcome.lines.join('\n')));
        QVERIFY(outcome.lines.last().contains("Account"));
    }

    void serviceNamesItsCoachAndRecognizer()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        QTemporaryDir certificates;
        QVERIFY(test::makeCertificate(certificates.path()));
        QVERIFY(QDir().mkpath(m_home->file(".quiroai/service")));
        QVERIFY(QFile::copy(certificates.filePath("cert.pem"), m_home->file(".quiroai/service/cert.pem")));
        const QByteArray health =
            QJsonDocument(QJsonObject{
                              {"status", "ok"},
                              {"coach", QJsonObject{{"kind", "model"},
                                                    {"model", "llama3.1:8b"},
                                                    {"base_url", "http://127.0.0.1:8080/v1"},
                                                    {"answers", 0},
                                                    {"fallbacks", 3},
                                                    {"last_fallback", "HTTP 404 from the model server"}}},
                              {"speech", QJsonObject{{"kind", "upstream"},
                                                     {"url", "wss://stt.example.com/v1/listen"},
                                                     {"languages", QJsonArray{"de", "en"}},
                                                     {"streams", 2},
                                                     {"fallbacks", 0}}},
                              {"speech_languages", QJsonArray{"de", "en"}},
                          })
                .toJson(QJsonDocument::Compact);
        TlsServer server(certificates.path(), "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                                  QByteArray::number(health.size()) + "\r\nConnection: close\r\n\r\n" +
                                                  health);
        signIn(QDateTime::currentSecsSinceEpoch() + 3600);
        QProcessEnvironment environment = this->environment();
        environment.insert("API_BASE", QStringLiteral("https://127.0.0.1:%1").arg(server.port()));
        // The service would refuse every stream in a language it has no model for.
        environment.insert("STT_LANGUAGE", "fr");
        const Outcome outcome = runDoctor(environment);
        QVERIFY(outcome.line("Language")
                    .startsWith("✗ Language: STT_LANGUAGE=fr, but the service transcribes only de, en"));
        // A model that never answered is worth a warning, not a refusal: the rules still coach.
        QCOMPARE(outcome.line("Coach"), "! Coach: language model \"llama3.1:8b\" at http://127.0.0.1:8080/v1; the "
                                        "rules took 3 of 3 requests (last: HTTP 404 from the model server)");
        QCOMPARE(outcome.lines.last(), "Not ready for a call — fix: Language.");
    }

    void serviceOverTls()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        QFETCH(bool, trusted);
        QFETCH(QString, expectedLine);
        QFETCH(int, expectedExit);

        QTemporaryDir certificates;
        QVERIFY(test::makeCertificate(certificates.path()));
        if (trusted) {
            QVERIFY(QDir().mkpath(m_home->file(".quiroai/service")));
            QVERIFY(QFile::copy(certificates.filePath("cert.pem"), m_home->file(".quiroai/service/cert.pem")));
        }
        TlsServer server(certificates.path());
        QVERIFY(server.port() != 0);

        signIn(QDateTime::currentSecsSinceEpoch() + 3600);

        QProcessEnvironment environment = this->environment();
        environment.insert("API_BASE", QStringLiteral("https://127.0.0.1:%1").arg(server.port()));
        const Outcome outcome = runDoctor(environment);

        QVERIFY2(outcome.line("Service").startsWith(expectedLine.arg(server.port())),
                 qPrintable(outcome.lines.join('\n')));
        QCOMPARE(outcome.exitCode, expectedExit);
        QCOMPARE(outcome.lines.last(),
                 expectedExit == 0 ? "Ready for a call." : "Not ready for a call — fix: Service.");
        if (expectedExit == 0) {
            environment.remove("DISPLAY");
            const Outcome headless = runDoctor(environment);
            QCOMPARE(headless.exitCode, 0);
            QCOMPARE(headless.lines.last(), "Ready for a call in the terminal (quiro console); the desktop app also "
                                            "needs: Display.");
        }
    }
};

QTEST_GUILESS_MAIN(TestDoctor)
#include "tst_doctor.moc"
